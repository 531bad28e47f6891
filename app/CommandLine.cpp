// The command line's switches and their values.
#include "CommandLine.h"
#include "../engine/registry/RootKeys.h"
#include <cstring>

namespace {
const struct
{
    const char* word;
    CommandSwitch id;
    bool takesValue;
} kSwitches[] = {
    { "del", kSwitchDel, false },          { "silent", kSwitchSilent, true }, { "keywords", kSwitchKeywords, true },
    { "hkey", kSwitchHkey, true },         { "help", kSwitchHelp, false },    { "?", kSwitchHelp, false },
    { "json", kSwitchJson, true },         { "refs", kSwitchRefs, false },    { "restore", kSwitchRestore, true },
    { "offline", kSwitchOffline, true },   { "dangling", kSwitchDangling, false },
};

bool TakesValue(int id)
{
    for (const auto& entry : kSwitches)
        if (entry.id == id)
            return entry.takesValue;
    return false;
}

// The next space at or after `from` that is followed by a switch, or the argument's end.
const char* NextSwitchBoundary(const char* from)
{
    for (const char* p = from; *p; ++p)
        if (*p == ' ' && p[1] == '/' && SwitchAt(p + 1) >= 0)
            return p;
    return from + strlen(from);
}

struct Seen
{
    bool given = false;
    CString value;
};
}

int SwitchAt(const char* place, const char** wordEnd)
{
    if (*place != '/')
        return -1;
    const char* word = place + 1;
    const size_t length = strcspn(word, "= ");
    if (wordEnd)
        *wordEnd = word + length;
    for (const auto& entry : kSwitches)
        if (strlen(entry.word) == length && _strnicmp(word, entry.word, length) == 0)
            return entry.id;
    return -1;
}

CString SwitchValue(const char* place)
{
    const char* wordEnd = nullptr;
    if (SwitchAt(place, &wordEnd) < 0 || *wordEnd != '=')
        return CString();
    const char* value = wordEnd + 1;
    CString strParam(value, static_cast<int>(NextSwitchBoundary(value) - value));
    if (!strParam.IsEmpty() && strParam.GetAt(strParam.GetLength() - 1) == ' ')
        strParam = strParam.Left(strParam.GetLength() - 1);
    return strParam;
}

void ParseCommandLine(int argc, const char* const argv[], CommandLineValues& values)
{
    Seen seen[kSwitchCount];
    auto bad = [&values](const char* text, size_t length) {
        if (values.badArgument.IsEmpty())
            values.badArgument = CString(text, static_cast<int>(length));
    };
    for (int i = 1; i < argc; ++i) {
        // Spaces and tabs before the first switch of an argument ("klarner.exe " /silent=...""
        // from a tool that quotes the whole command line) are no part of it.
        const char* argument = argv[i] + strspn(argv[i], " \t");
        const char* end = argument + strlen(argument);
        if (SwitchAt(argument) < 0) {
            // Holds no switch where it starts: a path given without its switch, a mistyped
            // switch, or a switch this program does not know.
            bad(argument, static_cast<size_t>(end - argument));
            continue;
        }
        for (const char* place = argument; place < end;) {
            const char* wordEnd = nullptr;
            const int id = SwitchAt(place, &wordEnd);
            const char* pieceEnd = NextSwitchBoundary(*wordEnd == '=' ? wordEnd + 1 : wordEnd);
            const bool hasValue = *wordEnd == '=';
            // A switch that takes no value must stand alone: "/del=no" is no request to remove.
            if (hasValue && !TakesValue(id)) {
                bad(place, static_cast<size_t>(pieceEnd - place));
                break;
            }
            if (!hasValue && strspn(wordEnd, " ") < static_cast<size_t>(pieceEnd - wordEnd)) {
                bad(place, static_cast<size_t>(pieceEnd - place));
                break;
            }
            CString value = SwitchValue(place);
            if (id == kSwitchHkey)
                value = CanonicalRootKeyName(value);
            if (seen[id].given && seen[id].value != value && values.conflictingSwitch.IsEmpty())
                values.conflictingSwitch = CString(place, static_cast<int>(pieceEnd - place));
            seen[id].given = true;
            seen[id].value = value;
            if (id != kSwitchSilent && id != kSwitchHelp && values.otherSwitch.IsEmpty())
                values.otherSwitch = CString(place, static_cast<int>(pieceEnd - place));
            switch (id) {
            case kSwitchDel: values.remove = 1; break;
            case kSwitchSilent: values.silent = 1; values.strFileName = value; break;
            case kSwitchKeywords: values.strKeyWords = value; break;
            case kSwitchHkey: values.strHkeyName = value; break;
            case kSwitchHelp: values.usage = 1; break;
            case kSwitchJson: values.json = 1; values.strJsonPath = value; break;
            case kSwitchRefs: values.refs = 1; break;
            case kSwitchRestore: values.restore = 1; values.strRestorePath = value; break;
            case kSwitchOffline: values.offline = 1; values.strOfflineFolder = value; break;
            case kSwitchDangling: values.dangling = 1; break;
            default: break;
            }
            place = *pieceEnd ? pieceEnd + 1 : pieceEnd;
        }
    }
}
