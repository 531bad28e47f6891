// Leftovers by reference: the keys and values that name the product only in their data. A class
// registration whose server file lies in the product's folder, the type library and interfaces
// that go with such classes, their AppIDs, an uninstall entry that keeps the product in the list
// of programs, and the shell-extension approvals of such classes. The walk reads the few values
// these need where it passes them; afterwards the findings are decided here.
#pragma once
#include <windows.h>
#include "KeyPlaces.h"
#include <functional>
#include <string>
#include <vector>

// What the walk read where it passed a place that names something in its data.
struct WalkReference
{
    KeyPlace place;      // kServerKey, kTypeLibFile, kProxyKey, kUninstallEntry or kApprovedKey
    std::wstring key;    // the full path of the key it speaks for: a class, a type library, an
                         // interface, an uninstall entry, the approvals
    std::wstring name;   // the subkey or value that named it (InprocServer32, win64, DisplayName)
    std::wstring data;   // what it named
};

// Whether the walk reads anything at a key in this place.
bool ReadsReferences(KeyPlace place);
// What the key at `path`, open as `key`, holds for the references; `add` for each.
void ReadReferences(HKEY key, const std::wstring& path, KeyPlace place,
                    const std::function<void(const WalkReference&)>& add);

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
    std::wstring reason;   // which value named what: "InprocServer32 = C:\Program Files\Velmora\vmshell.dll"
    std::wstring keyword;  // the keyword that the data holds
};

// The findings the references make: classes, type libraries, interfaces, AppIDs, uninstall
// entries and approvals, in this order, each in the order the walk met it.
std::vector<ReferenceFinding> FindByReference(const std::vector<WalkReference>& references,
                                              const std::vector<std::wstring>& lowerKeywords);

// The file a server's value names: environment variables expanded, quotes and arguments removed.
std::wstring ServerFile(const std::wstring& data);
