// Helpers shared by the test programs: folders, files, the staged program and its language,
// and (in the headers it includes) the registry, processes and windows.
#pragma once
#include <windows.h>
#include "TestProcesses.h"
#include "TestRegistry.h"
#include "TestWindows.h"
#include <string>
#include <vector>

namespace kt {

// Folder of the running test program, with a trailing backslash.
std::string TestDir();
// The built program and its language libraries (build\bin).
std::string BinDir();
std::string KlarnerExe();
// A fresh folder under the build tree's scratch folder, removed by nobody: the build tree is throwaway.
std::string ScratchDir(const std::string& name);
// Copies klarner.exe and the given language libraries into `dir` (a staged installation).
void StageProgram(const std::string& dir, const std::vector<std::string>& languages);
// klarner.exe staged once per test program with the English library only, so that its texts are known.
std::string EnglishProgram();

// Loads a language library as the resource module, as start-up does.
void UseLanguage(const char* language);

// A name no other key of the prefix contains: prefix + process id + counter.
std::string UniqueName(const char* prefix);

// Files.
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Gives a file or folder an access list that lets everybody change it (under Wine: a file anybody
// may write, which is how Wine shows such a list).
bool AllowEveryone(const std::string& path);
// A UTF-16LE text file as it is, byte-order mark included.
std::wstring ReadUtf16(const std::string& path);
// The backups written beside a report ("<report without extension>-backup-*.reg"), by name.
std::vector<std::string> BackupsOf(const std::string& reportPath);

}  // namespace kt
