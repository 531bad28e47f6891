// Backup files in the registry editor's export format.
#include "RegBackup.h"
#include "../registry/RegFile.h"
#include "../registry/KeyNames.h"
#include "../system/Offline.h"
#include "../system/FileHandles.h"
#include "../system/AdminOnly.h"
#include "../system/Installation.h"
#include <atomic>
#include <thread>
#include <cwchar>

CRegBackup::CRegBackup(const CString& reportPath)
    : m_reportPath(WidenAnsi(reportPath))
{
}

std::wstring CRegBackup::NameFor(const std::wstring& reportPath, const SYSTEMTIME& time, int attempt)
{
    const std::wstring stem = PathWithoutExtension(reportPath);
    wchar_t suffix[64];
    swprintf(suffix, 64, L"-backup-%04u%02u%02u-%02u%02u%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    std::wstring name = stem + suffix;
    if (attempt > 1)
        name += L"-" + std::to_wstring(attempt);
    return name + L".reg";
}

bool CRegBackup::Create()
{
    if (m_file)
        return true;
    if (m_failed || m_reportPath.empty())
        return false;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    // An earlier backup is never overwritten: the next free name is taken instead.
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::wstring path = NameFor(m_reportPath, now, attempt);
        CAdminOnly adminOnly;
        if (!adminOnly.Attributes())
            break;
        m_file.Reset(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, adminOnly.Attributes(), CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_file) {
            m_path = path;
            const wchar_t byteOrderMark[] = { 0xFEFF, 0 };
            // Which installation it belongs to: a restore gives it back only there.
            std::wstring text = std::wstring(byteOrderMark) + kRegFileHeader + L"\r\n\r\n";
            if (!AppendInstallationNote(text, InstallationIdentity()))
                break;
            return Write(text + L"\r\n");
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    m_failed = true;
    return false;
}

bool CRegBackup::Write(const std::wstring& text)
{
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!::WriteFile(m_file, text.data(), size, &written, nullptr) || written != size || !::FlushFileBuffers(m_file)) {
        m_failed = true;
        return false;
    }
    return true;
}

bool CRegBackup::AppendOnce(const std::wstring& id, const std::wstring& sections)
{
    if (m_held.count(id))
        return m_findingNote.empty() ? !m_failed : Append(std::wstring());
    if (!Append(sections))
        return false;
    m_held.insert(id);
    return true;
}

void CRegBackup::BeginFinding(const char* kind, const std::wstring& path)
{
    m_findingNote.clear();
    if (!AppendKindNote(m_findingNote, kind, path))
        m_findingNote.clear();
}

bool CRegBackup::Append(const std::wstring& sections)
{
    if (!Create() || m_failed)
        return false;
    if (!m_findingNote.empty()) {
        const std::wstring note = m_findingNote;
        m_findingNote.clear();
        return Write(note + sections);
    }
    return Write(sections);
}

std::wstring CRegBackup::FilesFolder() const
{
    return PathWithoutExtension(m_path) + L"-files";
}

std::wstring CRegBackup::ManifestOf(const std::wstring& backupPath)
{
    return PathWithoutExtension(backupPath) + L"-files\\manifest.jsonl";
}

std::wstring CRegBackup::FileCopyPath(const std::wstring& originalPath) const
{
    std::wstring below = originalPath;
    // "C:\dir\file" keeps its drive as a folder of its own: "C\dir\file".
    if (below.size() >= 2 && below[1] == L':')
        below.erase(1, 1);
    while (!below.empty() && below[0] == L'\\')
        below.erase(0, 1);
    return FilesFolder() + L"\\" + below;
}

bool CRegBackup::MakeFilesFolder()
{
    if (m_filesFolderMade)
        return true;
    if (!Create() || m_failed)
        return false;
    // A folder of its own, made now with its own access list; one that exists already was made by
    // somebody else, who could have planted anything in it.
    CAdminOnly adminOnly;
    if (!adminOnly.Attributes() || !::CreateDirectoryW(LongPath(FilesFolder()).c_str(), adminOnly.Attributes()))
        return false;
    // The backup says that it has files: a restore without them has not given everything back.
    std::wstring note;
    if (!AppendFilesNote(note) || !Write(note + L"\r\n"))
        return false;
    m_filesFolderMade = true;
    return true;
}

void CRegBackup::MakeFolders(const std::wstring& path)
{
    // Each folder once per backup: a folder of a thousand files asks for its folders once.
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    if (m_madeFolders.count(folder))
        return;
    MakeFoldersTo(path);
    m_madeFolders.insert(folder);
}

bool CRegBackup::Note(const ManifestEntry& entry)
{
    if (!Create() || m_failed)
        return false;
    if (!m_manifest) {
        CAdminOnly adminOnly;
        if (!MakeFilesFolder() || !adminOnly.Attributes())
            return false;
        m_manifest.Reset(::CreateFileW(LongPath(ManifestOf(m_path)).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                       adminOnly.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_manifest)
            return false;
    }
    const std::string line = ManifestLine(entry) + "\n";
    DWORD written = 0;
    return ::WriteFile(m_manifest, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
}

bool CRegBackup::FlushManifest()
{
    return m_manifest && ::FlushFileBuffers(m_manifest);
}

bool CRegBackup::AppendFile(const std::wstring& originalPath, const std::vector<BYTE>& bytes)
{
    if (!Create() || m_failed)
        return false;
    const std::wstring copy = FileCopyPath(originalPath);
    // Every folder on the way, then a new file: an earlier copy is never overwritten.
    if (!MakeFilesFolder())
        return false;
    MakeFolders(copy);
    CHandle file(::CreateFileW(LongPath(copy).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !::FlushFileBuffers(file))
        return false;
    CSha256 hash;
    ManifestEntry entry;
    entry.path = originalPath;
    entry.copy = copy.substr(FilesFolder().size() + 1);
    entry.size = bytes.size();
    entry.attributes = ::GetFileAttributesW(LongPath(originalPath).c_str());
    hash.Add(bytes.data(), bytes.size());
    entry.sha256 = hash.Hex();
    return !entry.sha256.empty() && Note(entry) && FlushManifest();
}

namespace {
// Copies one file into its place in the files folder and hashes it. Where nobody else holds it and
// the volume allows, the copy is a second name of the very file (checked by its identity), made
// before its first name goes: nothing is written twice, and the data stays whatever becomes of
// the first name.
bool CopyIn(FileToBackUp& file)
{
    if (file.mayLink && ::CreateHardLinkW(LongPath(file.copy).c_str(), LongPath(file.item->path).c_str(), nullptr)) {
        // The link went to whatever the path named at that moment: it must be the held file.
        CHandle copy(::CreateFileW(LongPath(file.copy).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        ULONGLONG index = 0;
        DWORD attributes = 0;
        if (copy && IndexOf(copy, index, attributes) && index == file.item->identity.index &&
            CopyAndHashFrom(file.handle, std::wstring(), file.size, file.sha256)) {
            file.linked = true;
            return true;
        }
        copy.Close();
        ::DeleteFileW(LongPath(file.copy).c_str());
    }
    return CopyAndHashFrom(file.handle, file.copy, file.size, file.sha256);
}

int CoresToUse(size_t work)
{
    const DWORD cores = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    const size_t wanted = cores < 1 ? 1 : cores > 8 ? 8 : cores;
    return static_cast<int>(std::min(wanted, work));
}
}

bool CRegBackup::BackUpFiles(std::vector<FileToBackUp>& files)
{
    if (!MakeFilesFolder())
        return false;
    std::vector<ManifestEntry> entries(files.size());
    for (size_t at = 0; at < files.size(); ++at) {
        entries[at].path = files[at].item->path;
        entries[at].attributes = files[at].item->attributes;
        files[at].copy = FileCopyPath(files[at].item->path);
        entries[at].copy = files[at].copy.substr(FilesFolder().size() + 1);
        MakeFolders(files[at].copy);
    }
    std::atomic<size_t> next{ 0 };
    std::atomic<bool> failed{ false };
    auto work = [&] {
        for (size_t at = next++; at < files.size() && !failed; at = next++)
            if (!CopyIn(files[at]))
                failed = true;
    };
    const int threads = CoresToUse(files.size());
    std::vector<std::thread> workers;
    for (int thread = 1; thread < threads; ++thread)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    if (failed)
        return false;
    for (size_t at = 0; at < files.size(); ++at) {
        ++(files[at].linked ? m_linked : m_copied);
        entries[at].sha256 = files[at].sha256;
        entries[at].size = files[at].size;
        if (!Note(entries[at]))
            return false;
    }
    return true;
}

bool CRegBackup::UnlinkCopy(FileToBackUp& file)
{
    if (!file.linked)
        return true;
    const std::wstring temporary = file.copy + L".copy";
    unsigned long long size = 0;
    std::string sha256;
    if (!CopyAndHashFrom(file.handle, temporary, size, sha256) || sha256 != file.sha256) {
        ::DeleteFileW(LongPath(temporary).c_str());
        return false;
    }
    if (!::MoveFileExW(LongPath(temporary).c_str(), LongPath(file.copy).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(LongPath(temporary).c_str());
        return false;
    }
    file.linked = false;
    --m_linked;
    ++m_copied;
    return true;
}

void CRegBackup::SealCopy(const FileToBackUp& file)
{
    if (!file.linked)
        return;
    // Most files a product installed are the Administrators' already; only what others may
    // change needs an access list of its own.
    CHandle copy(::CreateFileW(LongPath(file.copy).c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (copy && !OthersMayChange(copy).empty())
        MakeAdminOnly(copy);
}
