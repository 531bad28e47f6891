// Start-up entries by what they run: a value of a Run or RunOnce key (the machine's, each user's,
// and the 32-bit twins) whose command line starts a program that lay in the product's place and
// is gone, which makes Windows show an error at every logon; and the value of the same name in
// Explorer\StartupApproved\Run (or Run32) of the same hive. Found with the leftovers by reference;
// each value goes alone.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/FilterLists.h"
#include "../registry/Constants.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"

namespace {
const wchar_t* const kRunKeys[] = { L"Microsoft\\Windows\\CurrentVersion\\Run", L"Microsoft\\Windows\\CurrentVersion\\RunOnce" };
// The hive a path lies in: everything before its software root ("HKEY_LOCAL_MACHINE",
// "HKEY_USERS\S-1-5-21-...").
std::wstring HiveOf(const std::wstring& path)
{
    const std::wstring lower = Lowered(path.c_str(), path.size());
    const size_t software = lower.find(L"\\software\\");
    return software == std::wstring::npos ? lower : lower.substr(0, software);
}

// The tray program's value in the machine's Run key is the start-up value kind's, always.
bool IsTrayValue(const WalkNote& note)
{
    return _wcsicmp(note.name.c_str(), kTrayValueName) == 0 &&
           _wcsicmp(note.key.c_str(), (L"HKEY_LOCAL_MACHINE\\" + std::wstring(kRunKeyPath)).c_str()) == 0;
}

class CStartupEntryKind : public CValueRemoval, public IClaimsFiles
{
public:
    // What the start-up values of the machine (both views) and of each user start.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* software : { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" })
            for (const wchar_t* run : kRunKeys)
                reader.ValuesOf(HKEY_LOCAL_MACHINE, software + std::wstring(run), std::wstring());
    }
    void ClaimUserFiles(CClaimReader& reader, const std::wstring& user, const std::wstring&, const std::wstring& sid) const override
    {
        for (const wchar_t* run : kRunKeys)
            reader.ValuesOf(HKEY_USERS, user + L"\\Software\\" + run, sid);
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindValue, "startupEntry", 2, IDS_KIND_STARTUP_ENTRY };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override { return scope.followReferences; }
    bool ReadsAt(KeyPlace place) const override { return place == kRunKey || place == kApprovedRunKey; }

    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
            std::wstring text;
            if (place == kRunKey && (type == REG_SZ || type == REG_EXPAND_SZ))
                text = std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)).c_str();
            if (place == kApprovedRunKey || !text.empty())
                note(Note(place, path, name, text));
        });
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        std::vector<std::pair<std::wstring, std::wstring>> found;  // hive and value name of each finding
        for (const WalkNote& note : facts.walk.notes) {
            if (note.place != kRunKey)
                continue;
            std::wstring keyword;
            const std::wstring reason = EvidenceOfGoneFile(note.name, note.data, facts.installation.OwnerOf(note.key),
                                                           facts.installation, facts.keywords.Lower(), keyword);
            const std::wstring path = note.key + L"\\" + note.name;
            if (reason.empty() || findings.Has(path) || IsTrayValue(note))
                continue;
            if (findings.Add(*this, path, reason, keyword))
                found.push_back({ HiveOf(note.key), Lowered(note.name.c_str(), note.name.size()) });
        }
        // The approval of such an entry stays behind without it.
        for (const WalkNote& note : facts.walk.notes) {
            if (note.place != kApprovedRunKey)
                continue;
            const std::pair<std::wstring, std::wstring> mine = { HiveOf(note.key), Lowered(note.name.c_str(), note.name.size()) };
            for (const auto& entry : found)
                if (entry == mine && !findings.Has(note.key + L"\\" + note.name))
                    findings.Add(*this, note.key + L"\\" + note.name, Said(IDS_REASON_APPROVAL, { note.name }),
                                 std::wstring());
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& StartupEntryKind()
{
    static const CStartupEntryKind kind;
    return kind;
}
