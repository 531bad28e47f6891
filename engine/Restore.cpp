// Putting back what a removal pass took.
#include "Restore.h"
#include "backup/ManifestRestore.h"
#include "backup/RegBackup.h"
#include "kinds/KindsTable.h"
#include "registry/LoadedHives.h"
#include "registry/RegFile.h"
#include "registry/RootKeys.h"
#include "system/AdminOnly.h"
#include "system/FileHandles.h"
#include "system/Offline.h"
#include <algorithm>

namespace {
const size_t kBackupLimit = 512 * 1024 * 1024;

bool ReadWhole(HANDLE file, std::vector<BYTE>& bytes)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > static_cast<LONGLONG>(kBackupLimit))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
}

// Whether a key of the backup lies in another installation's hive, loaded under a name of ours.
bool OfflineKey(const std::wstring& path)
{
    std::wstring below;
    return SplitFullPath(path, below) && IsLoadedName(below.substr(0, below.find(L'\\')));
}
}

bool CRestore::Open(const std::wstring& backupPath, std::wstring& why)
{
    m_backup = backupPath;
    // A backup is what an administrator writes back wherever it says: one that anybody else
    // could have written (or planted) is never used. It is held from here on, so that nobody
    // can change or replace it after it was checked.
    std::wstring others;
    if (!HoldAdminOnly(backupPath, GENERIC_READ, m_held, others)) {
        why = L"the backup may have been changed by someone else: " + others;
        return false;
    }
    std::vector<BYTE> bytes;
    if (!ReadWhole(m_held, bytes)) {
        why = L"the backup cannot be read";
        return false;
    }
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2) {
        why = L"not a backup of this program: no registry export in UTF-16";
        return false;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    std::vector<RegFileItem> items;
    if (!ParseRegFile(text, items, why))
        return false;
    m_contents = ContentsOf(items);
    // A backup of another installation's hives goes back only into that installation.
    bool offline = false, registry = false;
    for (const RestoreBlock& block : m_contents.blocks) {
        for (const RestoreSection& section : block.sections)
            offline = offline || OfflineKey(section.path);
        for (const RestoreEntryNote& note : block.notes)
            offline = offline || OfflineKey(note.listPath);
        registry = registry || !block.sections.empty() || !block.notes.empty();
    }
    if (offline && !OfflineActive()) {
        why = L"a backup of an offline installation: give its Windows folder with /offline too";
        return false;
    }
    const std::wstring& identity = m_contents.identity;
    // It goes back only into the installation it was taken from.
    if (!identity.empty() && !SameInstallation(identity, InstallationIdentity())) {
        why = L"a backup of another installation (" + identity + L"); this is " + InstallationIdentity();
        return false;
    }
    if (identity.empty() && !offline && OfflineActive() && registry) {
        why = L"a backup of the running Windows: restore it without /offline";
        return false;
    }
    if (identity.empty()) {
        why = L"the backup does not say which installation it belongs to (an older backup: import it by hand)";
        return false;
    }
    // The files folder and its manifest, held like the backup from the check to the end.
    const std::wstring manifest = CRegBackup::ManifestOf(backupPath);
    const std::wstring folder = manifest.substr(0, manifest.rfind(L'\\'));
    if (!NothingAt(manifest) || (m_contents.hasFiles && !NothingAt(folder))) {
        const struct
        {
            const std::wstring& path;
            CHandle& held;
            DWORD access;
        } parts[] = { { folder, m_filesFolder, FILE_LIST_DIRECTORY }, { manifest, m_manifest, GENERIC_READ } };
        for (const auto& part : parts) {
            std::wstring changed;
            if (NothingAt(part.path))
                continue;
            if (!HoldAdminOnly(part.path, part.access, part.held, changed)) {
                why = L"the backup's files may have been changed by someone else: " + part.path + L": " + changed;
                return false;
            }
        }
    }
    return true;
}

void CRestore::Run(const RestoreTold& told)
{
    const RestoreContext context = { OfflineActive() };
    std::vector<const ILeftoverKind*> kinds = LeftoverKinds();
    std::stable_sort(kinds.begin(), kinds.end(), [](const ILeftoverKind* a, const ILeftoverKind* b) {
        return a->Identity().rank > b->Identity().rank;
    });
    for (const RestoreBlock& block : m_contents.blocks)
        if (!KindNamed(block.kind.c_str()))
            told(RestoredItemOf("key", block.finding, Outcome::Refused,
                                L"no kind of this program removes what the backup calls " +
                                    std::wstring(block.kind.begin(), block.kind.end())));
    for (const ILeftoverKind* kind : kinds) {
        std::vector<const RestoreBlock*> blocks;
        for (const RestoreBlock& block : m_contents.blocks)
            if (KindNamed(block.kind.c_str()) == kind)
                blocks.push_back(&block);
        if (!blocks.empty())
            kind->Restore(blocks, context, told);
    }
    HeldBackupFiles files;
    files.manifestPath = CRegBackup::ManifestOf(m_backup);
    files.manifest = m_manifest;
    files.filesFolder = m_filesFolder ? FinalPathOf(m_filesFolder) : std::wstring();
    files.hasFiles = m_contents.hasFiles;
    RestoreManifestFiles(files, told);
}
