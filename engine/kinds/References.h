// Leftovers by reference: the keys and values that name the product only in their data. A class
// registration whose server files lay in the product's place and are gone, the type library and
// the interfaces that go with such classes, their AppIDs, an uninstall entry whose uninstaller is
// gone, and the shell-extension approvals of such classes. The walk reads the few values these
// need where it passes them; afterwards the findings are decided here, each on evidence
// (FileEvidence.h), never on a name found in a path alone.
#pragma once
#include <windows.h>
#include "../registry/KeyPlaces.h"
#include "../search/WalkResult.h"
#include <functional>
#include <string>
#include <vector>

class CInstallation;

// What the walk reads where it passes a place that names something in its data (kComClass,
// kServerKey, kTypeLibFile, kProxyKey, kUninstallEntry or kApprovedKey): a note whose key is the
// full path of the key it speaks for (a class, a type library, an interface, an uninstall entry,
// the approvals), whose name is the subkey or value that named it (InprocServer32, win64,
// DisplayName) and whose data is what it named.
bool ReadsReferences(KeyPlace place);
// What the key at `path`, open as `key`, holds for the references; `add` for each.
void ReadReferences(HKEY key, const std::wstring& path, KeyPlace place, const std::function<void(WalkNote&&)>& add);

// What made a finding, beside its name: the findings list's `source` (0: its own name).
const char kSourceClass = 'C';
const char kSourceTypeLib = 'T';
const char kSourceInterface = 'I';
const char kSourceAppId = 'A';
const char kSourceUninstall = 'U';
const char kSourceApproval = 'P';

struct ReferenceFinding
{
    char kind;             // the findings list's kind: 'K', or 'V' for an approval
    char source;
    std::wstring path;
    std::wstring reason;   // the evidence: "InprocServer32 = C:\Program Files\Velmora\vmshell.dll, file missing"
    std::wstring keyword;  // the keyword that named the product's place
};

// What the decisions need beside the references: the keywords (lowercase), the installation
// whose files are judged, and this program's own folder (its own uninstall entry never goes).
struct ReferenceContext
{
    const std::vector<std::wstring>& lowerKeywords;
    const CInstallation& installation;
    std::wstring programFolder;
    // Whether Windows Installer can be asked about a product (not for an installation that is not running).
    bool askWindowsInstaller = true;
};

// The findings the references make: classes, type libraries, interfaces, AppIDs, uninstall
// entries and approvals, in this order, each in the order the walk met it.
std::vector<ReferenceFinding> FindByReference(const std::vector<WalkNote>& references, const ReferenceContext& context);

// The file a server's value names: environment variables expanded (as this process has them),
// quotes and arguments removed.
std::wstring ServerFile(const std::wstring& data);
