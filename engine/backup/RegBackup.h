// The backup of a removal pass: a file in the registry editor's export format ("Windows
// Registry Editor Version 5.00", UTF-16LE with a byte-order mark, CR LF), beside the report and
// named after it, that recreates what was removed when it is imported.
#pragma once
#include <windows.h>
#include "../../framework/CString.h"
#include "../../framework/Handles.h"
#include "FileCopies.h"
#include <set>
#include <string>
#include <vector>

// A file a removal takes, open as it was listed (GENERIC_READ): copied whole into the files folder
// or, when nobody else holds it and the volume allows, given a second name there. What became of
// it is filled in.
struct FileToBackUp
{
    const FileItem* item = nullptr;
    HANDLE handle = nullptr;
    bool mayLink = false;
    bool linked = false;     // the copy is a second name of the file itself
    std::wstring copy;       // the copy's full path
    unsigned long long size = 0;
    std::string sha256;
};

class CRegBackup
{
public:
    // Nothing is created until the first finding is backed up.
    explicit CRegBackup(const CString& reportPath);
    CRegBackup(const CRegBackup&) = delete;
    CRegBackup& operator=(const CRegBackup&) = delete;

    // Says which kind of finding, and which one, the sections written next belong to: a note
    // ("; kind: <kind> <path>") goes before them with the next write, so that a restore knows
    // what each removal recorded.
    void BeginFinding(const char* kind, const std::wstring& path);
    // Appends one finding's sections and makes sure they are on disk. FALSE when they could
    // not be written whole; after a failed write every later call fails too, so that the file
    // never holds a finding after a broken one.
    bool Append(const std::wstring& sections);
    // The same, only the first time for `id` in this backup: a value several findings change
    // is kept as it was before the first of them.
    bool AppendOnce(const std::wstring& id, const std::wstring& sections);
    // A copy of a file that a finding's removal takes with it, in the backup's files folder
    // ("<backup without .reg>-files\<drive>\<path below the drive>"), noted in its manifest;
    // FALSE when it could not be written whole (the finding then stays).
    bool AppendFile(const std::wstring& originalPath, const std::vector<BYTE>& bytes);
    // Files from their handles, read and hashed on one thread per core; the manifest's lines in
    // the order given. FALSE when one of them could not be backed up whole.
    bool BackUpFiles(std::vector<FileToBackUp>& files);
    // Makes a linked copy a copy of its own: the file is about to wait for a restart, and its
    // holder may change it meanwhile. FALSE when its content is no longer what was backed up.
    bool UnlinkCopy(FileToBackUp& file);
    // Gives a linked copy whose file's own name is gone the backup's access list (it still had the
    // access list of the place it was removed from).
    void SealCopy(const FileToBackUp& file);
    // How many files went in as second names of themselves, and how many as copies.
    size_t FilesLinked() const { return m_linked; }
    size_t FilesCopied() const { return m_copied; }
    // A line of the manifest ("manifest.jsonl" in the files folder: one JSON object per file,
    // folder and link a removal took, and per deletion left to the next restart); FALSE when it
    // could not be written whole. It is on disk after the next FlushManifest.
    bool Note(const ManifestEntry& entry);
    bool FlushManifest();
    // The files folder, and where a backup's manifest lies.
    std::wstring FilesFolder() const;
    static std::wstring ManifestOf(const std::wstring& backupPath);
    // Who may change a backup: only SYSTEM and the Administrators (AdminOnly.h); the backup file,
    // its files folder and manifest get an access list of their own.
    // The backup file; empty until it was created.
    const std::wstring& Path() const { return m_path; }
    // Where AppendFile puts a file's copy.
    std::wstring FileCopyPath(const std::wstring& originalPath) const;

    // "<report path without its extension>-backup-YYYYMMDD-HHMMSS[-n].reg" (n from 2 on, when
    // taken). An "extension" of digits only is part of a date in the name, not an extension.
    static std::wstring NameFor(const std::wstring& reportPath, const SYSTEMTIME& time, int attempt);

private:
    bool Create();
    // Makes the files folder with its own access list, once; FALSE when it exists already.
    bool MakeFilesFolder();
    bool Write(const std::wstring& text);
    // Makes the folders on the way to a file's copy.
    void MakeFolders(const std::wstring& path);

    std::wstring m_reportPath;
    std::wstring m_path;
    CHandle m_file;
    CHandle m_manifest;
    bool m_failed = false;
    std::set<std::wstring> m_held;
    std::set<std::wstring> m_madeFolders;
    bool m_filesFolderMade = false;
    size_t m_linked = 0, m_copied = 0;
    std::wstring m_findingNote;  // written before the next sections
};

