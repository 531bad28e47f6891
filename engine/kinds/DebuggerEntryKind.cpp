// Programs that no longer start: Image File Execution Options\<program> Debugger naming a program
// of the product that is gone (Windows then starts the debugger instead of the program, and the
// program cannot start at all), and a silent process exit monitor (GlobalFlag with the monitor's
// flag, and SilentProcessExit\<program> MonitorProcess) that starts a program that is gone. Only
// that one value goes; the program's other options (exploit protection's MitigationOptions among
// them) stay as they are.
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../../resources/resource.h"
#include "../registry/RootKeys.h"
#include "../registry/RegKey.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/FileClaims.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"

namespace {
const wchar_t* const kOptions[] = {
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
};
const wchar_t kSilentExit[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit";
const DWORD kMonitorSilentExit = 0x200;  // FLG_MONITOR_SILENT_PROCESS_EXIT

// The flags of a GlobalFlag value: a number, or a number written as text ("0x200").
bool GlobalFlags(HKEY key, DWORD& flags)
{
    std::wstring text;
    if (ReadDwordValue(key, L"GlobalFlag", flags))
        return true;
    if (!ReadStringValue(key, L"GlobalFlag", text))
        return false;
    wchar_t* end = nullptr;
    flags = static_cast<DWORD>(wcstoul(text.c_str(), &end, 0));
    return end && end != text.c_str();
}

// The product's file that `data` names, when it lies in the product's place and is gone; empty
// otherwise. The keyword that named the place goes to `keyword`.
std::wstring GoneProductFile(const std::wstring& data, const CSearchFacts& facts, std::wstring& keyword)
{
    if (!MentionsKeyword(data, facts.keywords.Lower()))
        return std::wstring();  // nothing names the product: no look at the file system
    const FileEvidence look = LookAtFile(data, std::wstring(), facts.installation, facts.keywords.Lower());
    if (!look.told || look.system || look.keyword.empty() || !facts.installation.FileGone(look.normalized))
        return std::wstring();
    keyword = look.keyword;
    return look.file;
}

class CDebuggerEntryKind : public CValueRemoval, public IClaimsFiles
{
public:
    // The debuggers and exit monitors Windows starts.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* options : kOptions)
            reader.EntriesBelow(HKEY_LOCAL_MACHINE, options, std::wstring());
        reader.EntriesBelow(HKEY_LOCAL_MACHINE, kSilentExit, std::wstring());
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindValue, "debuggerEntry", 2, IDS_KIND_DEBUGGER_ENTRY };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const wchar_t* options : kOptions) {
            CRegKeyOwner container;
            if (OpenKeyExact(HKEY_LOCAL_MACHINE, options, KEY_READ, container) != ERROR_SUCCESS)
                continue;
            const bool native = options == kOptions[0];
            // Spelled once: the names below come from the enumeration and are Windows' own
            // spelling already. Most machines hold hundreds of programs here and almost none
            // name the product, so a key is spelled and compared only when it is a finding.
            std::wstring spelled;
            for (const std::wstring& program : SubkeyNames(container)) {
                CRegKeyOwner key;
                if (OpenSubKey(container, program.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
                    continue;
                std::wstring debugger, keyword, file;
                const bool goneDebugger = ReadStringValue(key, L"Debugger", debugger) &&
                                          !(file = GoneProductFile(debugger, facts, keyword)).empty();
                DWORD flags = 0;
                const bool monitored = native && GlobalFlags(key, flags) && (flags & kMonitorSilentExit);
                if (!goneDebugger && !monitored)
                    continue;
                if (spelled.empty())
                    spelled = facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, options));
                const std::wstring keyPath = spelled + L"\\" + program;
                if (facts.CoveredByName(keyPath))
                    continue;
                if (goneDebugger)
                    findings.Add(*this, keyPath + L"\\Debugger", Said(IDS_WHY_DEBUGGER, { file, program }), keyword);
                if (monitored)
                    DecideMonitor(facts, findings, program);
            }
        }
        return KindCheck();
    }

private:
    // The monitor of `program`, which only its GlobalFlag's flag turns on.
    void DecideMonitor(const CSearchFacts& facts, CFindings& findings, const std::wstring& program) const
    {
        const std::wstring below = std::wstring(kSilentExit) + L"\\" + program;
        CRegKeyOwner monitor;
        std::wstring command, keyword, file;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, monitor) != ERROR_SUCCESS ||
            !ReadStringValue(monitor, L"MonitorProcess", command) || (file = GoneProductFile(command, facts, keyword)).empty())
            return;
        const std::wstring keyPath = facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, below));
        if (!facts.CoveredByName(keyPath))
            findings.Add(*this, keyPath + L"\\MonitorProcess", Said(IDS_WHY_EXIT_MONITOR, { program, file }), keyword);
    }
};
}

const ILeftoverKind& DebuggerEntryKind()
{
    static const CDebuggerEntryKind kind;
    return kind;
}
