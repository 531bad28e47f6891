// What a file that a registration names tells about the product it belongs to. A finding decided
// by a value's data needs evidence that what it registers is gone: the file lies in the product's
// place (a name below a root holds a keyword) and the file system says it is not there. A file in
// the Windows folder is never evidence, and neither is a path that cannot be told (a bare name,
// a network path, a variable the hive's owner does not have).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CInstallation;

struct FileEvidence
{
    bool told = false;         // the data could be expanded and names a file with its folder
    std::wstring file;         // the file as the data names it, expanded (for the reason)
    std::wstring normalized;   // where it lies (CInstallation::Normalized); empty unless told
    bool system = false;       // it lies in the Windows folder
    std::wstring keyword;      // the keyword that a name below a root holds: the product's place
};

// The file a command line or server value names: quotes and arguments removed, nothing expanded.
std::wstring FileOfCommand(const std::wstring& text);
// The file that `data` (a value of a key whose hive `owner` owns) names, expanded as the owner's
// environment has it; `told` FALSE when a variable is unknown there.
std::wstring ExpandedFile(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                          bool& told);
// Whether any keyword occurs anywhere in the text: a file that holds none cannot lie in the
// product's place, so it needs no look at the file system.
bool MentionsKeyword(const std::wstring& text, const std::vector<std::wstring>& lowerKeywords);
// Where the file lies, and whether that is the Windows folder or the product's place.
FileEvidence Examine(const std::wstring& file, bool told, const CInstallation& installation,
                     const std::vector<std::wstring>& lowerKeywords);
// The same, from a value's data.
FileEvidence LookAtFile(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                        const std::vector<std::wstring>& lowerKeywords);
// The evidence that the one file `data` names (a value called `name` of a key whose hive `owner`
// owns) lay in the product's place and is gone: "<name> = <file>, file missing"; empty when it
// is no such evidence. The keyword that named the place goes to `keyword`.
std::wstring EvidenceOfGoneFile(const std::wstring& name, const std::wstring& data, const std::wstring& owner,
                                const CInstallation& installation, const std::vector<std::wstring>& lowerKeywords,
                                std::wstring& keyword);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
bool IsGuid(const std::wstring& text);
// The product code of a Windows Installer command ("MsiExec.exe /X{...}"); empty for any other.
std::wstring WindowsInstallerCode(const std::wstring& command);
// Whether Windows Installer knows the product `code` ("{GUID}") in any state.
bool WindowsInstallerKnows(const std::wstring& code);
// Whether Windows brought the file: its owner is Windows' installer service, or its version
// resource names Microsoft as its maker. Such a file is never a product's leftover.
bool ShippedWithWindows(const std::wstring& file);
