// Putting back the files a removal pass took, from the backup's files folder as its manifest
// lists them: only where the program removes files from, never through a link on the way, each
// file checked against the manifest's SHA-256. Deletions an older backup left to the next
// restart by their own paths are taken back first.
#pragma once
#include <windows.h>
#include "RestoreBlock.h"
#include <string>

// The backup's files, held by the restore from their check to its end.
struct HeldBackupFiles
{
    std::wstring manifestPath;
    HANDLE manifest = nullptr;  // null when there is none
    std::wstring filesFolder;   // the held files folder's final path
    bool hasFiles = false;      // the backup says it holds files
};

void RestoreManifestFiles(const HeldBackupFiles& held, const RestoreTold& told);
