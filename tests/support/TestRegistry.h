// The real registry of the test prefix: keys, values, security, links, hidden names, exports.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace kt {

bool CreateKey(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
bool SetStringValue(HKEY root, const std::string& path, const char* name, const char* data);
bool ValueExists(HKEY root, const std::string& path, const char* name);
void DeleteTree(HKEY root, const std::string& path);
// Writes the key at `path` below `root` to the hive file `file` (made new, its folders too), as
// another installation's System32\config holds them.
bool SaveHive(HKEY root, const std::string& path, const std::string& file);
// A large tree of keys for searches that take seconds: `groups` keys named as given, each with
// `leaves` subkeys leaf0, leaf1, ..., written once as a hive file in Wine's registry format and
// mounted below a key only while a MountedTree lives. Creating and deleting so many keys one at
// a time costs about a second per 3,500 keys under Wine; loading the file costs milliseconds.
bool WriteTreeHive(const std::string& file, const std::vector<std::string>& groups, int leaves);
class MountedTree
{
public:
    // Mounts `file` at `path` below `root` (the backup and restore privileges are enabled for
    // it); where the registry cannot load it, the same keys are created instead.
    MountedTree(HKEY root, const std::string& path, const std::string& file, const std::vector<std::string>& groups,
                int leaves);
    // Unmounts it (or deletes what was created): nothing of it stays for later searches.
    ~MountedTree();
    MountedTree(const MountedTree&) = delete;
    MountedTree& operator=(const MountedTree&) = delete;
    bool Loaded() const { return m_loaded; }

private:
    HKEY m_root;
    std::string m_path;
    bool m_loaded = false;
};
// Applies an SDDL security descriptor's DACL to a key (for example "D:(D;;KR;;;WD)(A;;KA;;;WD)").
bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl);
bool DenyRead(HKEY root, const std::string& path);
bool DenyWrite(HKEY root, const std::string& path);
bool AllowAll(HKEY root, const std::string& path);

// Names beyond the ANSI code page, links and hidden names.
std::wstring Widen(const std::string& text);
// UTF-8, for messages of failed checks.
std::string Utf8(const std::wstring& text);
bool CreateKeyW(HKEY root, const std::wstring& path);
// Opened as itself: a link is found as the link, never as its target.
bool KeyExistsW(HKEY root, const std::wstring& path);
// A registry link at `path` whose target is the key at `target` (which must exist).
bool CreateLink(HKEY root, const std::wstring& path, const std::wstring& target);
// A registry link at `path` whose target value holds `target` as it is (a native path, or anything).
bool CreateRawLink(HKEY root, const std::wstring& path, const std::wstring& target);
// A subkey of `parent` whose name is a NUL followed by `rest`, made through the native API.
bool CreateNulNamedKey(HKEY root, const std::wstring& parent, const std::wstring& rest);
void DeleteTreeW(HKEY root, const std::wstring& path);

// The registry editor's export of a whole root key (regedit /E), as its "[key]" sections.
std::vector<std::wstring> ExportSections(const char* root);
// A key's tree as text: each key's path, then its values' names, types and bytes by name, its
// subkeys in the registry's order; "absent" for a key that is not there. Two trees
// alike in every name, type and byte give the same text.
std::string TreeText(HKEY root, const std::string& path);

// A key of one test's own below HKEY_CURRENT_USER\Software, under a name that no other key of
// the prefix contains; it goes with everything below it when the test ends, however it ends.
class ScratchKey
{
public:
    explicit ScratchKey(const char* prefix);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    // The key's path below HKEY_CURRENT_USER, and a path below the key.
    const std::string& Path() const { return m_path; }
    std::string Below(const std::string& below) const { return m_path + "\\" + below; }
    std::wstring Below(const std::wstring& below) const;
    // A path below the key with the root key's name first, as findings spell it.
    std::string Full(const std::string& below) const { return "HKEY_CURRENT_USER\\" + Below(below); }
    std::wstring Full(const std::wstring& below) const;
    // Creates a key below (a failed check when it cannot be created).
    void Make(const std::string& below) const;
    void Make(const std::wstring& below) const;
    bool Exists(const std::string& below) const;
    bool Exists(const std::wstring& below) const;

private:
    std::string m_path;
};

// A key a test creates at a fixed place, removed with its tree when the test ends, however it ends.
struct KeyRemover
{
    HKEY root;
    std::string path;
    ~KeyRemover() { DeleteTree(root, path); }
};

// The tray program's start-up value in the machine's Run key, set for one test and removed
// when the test ends, however it ends (it would be found by every later search otherwise).
class RunValueGuard
{
public:
    explicit RunValueGuard(const char* data);
    ~RunValueGuard();
    bool Set() const { return m_set; }

private:
    bool m_set;
};

// Device filter lists: a REG_MULTI_SZ value's entries, written and read back (empty: no value).
bool SetMultiString(HKEY root, const std::string& path, const char* name, const std::vector<std::string>& entries);
std::vector<std::string> MultiString(HKEY root, const std::string& path, const char* name);

// A service of one test's own, registered with the service manager: a kernel driver, or the
// test service program. It is deleted when the test ends, if it is still there.
class ScratchService
{
public:
    explicit ScratchService(const std::string& name);  // a kernel driver
    // The test service program; `keepRunning` makes it refuse to stop until the test ends.
    ScratchService(const std::string& name, bool keepRunning);
    ~ScratchService();
    bool Created() const { return m_created; }
    bool Start();
    // What opening it now gives: 0 or ERROR_SERVICE_DOES_NOT_EXIST.
    DWORD OpenError() const;
    // Whether it is marked for deletion already (a delete asked of it now says so).
    bool MarkedForDeletion() const;
    // Lets a service that refuses to stop end after all.
    void Release();
    const std::string& Name() const { return m_name; }

private:
    std::string m_name, m_releaseEvent;
    bool m_created = false;
};

}  // namespace kt
