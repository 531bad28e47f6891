// What the files' end-to-end tests share: the program run in the test prefix with a product's
// folder of its own, and the places Windows keeps that a test changes and puts back.
#pragma once
#include <gtest/gtest.h>
#include "../../engine/system/Offline.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "../../engine/system/AdminOnly.h"
#include "../../engine/system/Installation.h"
#include <sddl.h>
#include "../../engine/backup/RegBackup.h"
#include "../../engine/system/StagingFolders.h"
#include "../../engine/kinds/KindsTable.h"
#include <atomic>
#include <cstring>
#include <thread>

// Named, not anonymous: a test suite's fixture must be one class in every file of the program.
namespace files_test {

using kt::Json;
const std::string kControl = "SYSTEM\\CurrentControlSet\\";
const std::string kVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// Made by the ctest fixture: links to a decoy that stands for System32.
const std::string kSwapLinks = "C:\\kltswap", kDecoy = "C:\\kltswap-decoy";

class FilesTest : public kt::ProgramRunTest
{
protected:
    FilesTest() : ProgramRunTest("kltfile", "files") {}
    void TearDown() override
    {
        for (const auto& value : values)
            RegDeleteKeyValueA(value.first, kVersion.c_str(), value.second.c_str());
        ProgramRunTest::TearDown();
    }
    // A key named after the product that names `folder` (a value of its own): with a keyword of
    // the test's own, a folder is a finding only where a finding of the search names it.
    void NamedBy(const std::string& folder)
    {
        Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + keyword + "Dirs", ("Dir" + std::to_string(++named)).c_str(), folder);
    }
    // A file in a folder the test removes whole when it ends.
    void FileIn(const std::string& folder, const std::string& below, const std::string& bytes = "MZ")
    {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
        File(folder + "\\" + below, bytes);
    }
    // A value of an existing key below CurrentVersion (Run), deleted when the test ends.
    void VersionValue(HKEY root, const std::string& key, const std::string& name, const std::string& text)
    {
        values.push_back({ root, key + "\\" + name });
        ASSERT_EQ(RegSetKeyValueA(root, (kVersion + key).c_str(), name.c_str(), REG_SZ, text.c_str(),
                                  static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static std::vector<std::string> FilesFound(const Json& record)
    {
        std::vector<std::string> found;
        for (const std::string& line : Found(record))
            if (line.compare(0, 5, "file ") == 0 || line.compare(0, 7, "folder ") == 0)
                found.push_back(line);
        return found;
    }
    static const Json* Finding(const Json& record, const std::string& path)
    {
        for (const Json& finding : record["findings"])
            if (Lower(finding["path"]) == Lower(path))
                return &finding;
        return nullptr;
    }
    // The sources of the deletions and renames pending for the next start, in lower case.
    static std::vector<std::string> Pending()
    {
        std::vector<std::string> sources;
        char data[65536];
        DWORD size = sizeof data;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data,
                         &size) != ERROR_SUCCESS)
            return sources;
        std::vector<std::string> strings;
        for (const char* at = data; at < data + size;) {
            strings.push_back(at);
            at += strings.back().size() + 1;
        }
        for (size_t at = 0; at < strings.size(); at += 2)
            if (strings[at].size() > 4)
                sources.push_back(Lower(strings[at].substr(4)));  // without "\??\"
        return sources;
    }
    static bool Has(const std::vector<std::string>& list, const std::string& item)
    {
        return std::any_of(list.begin(), list.end(), [&item](const std::string& each) { return Lower(each) == Lower(item); });
    }
    // Moves a link (or anything) on the Linux side, as ctest's files_link_swapper does when
    // asked; paths below C:\. TRUE when it was moved.
    static bool SwapIn(const std::string& from, const std::string& to)
    {
        static int count = 0;
        const std::string request = kSwapLinks + "\\requests\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
        if (!kt::WriteFileBytes(request + ".tmp", from.substr(3) + "\n" + to.substr(3) + "\n") ||
            !MoveFileA((request + ".tmp").c_str(), (request + ".req").c_str()))
            return false;
        for (int wait = 0; wait < 600 && !kt::FileExists(request + ".done"); ++wait)
            WaitForSingleObject(GetCurrentThread(), 50);
        return kt::ReadFileBytes(request + ".done") == "0\n";
    }
    std::string Backup()
    {
        const std::vector<std::string> backups = kt::BackupsOf(report);
        return backups.empty() ? std::string() : backups.back();
    }

    std::vector<std::pair<HKEY, std::string>> values;
    int named = 0;
};

}  // namespace files_test

using namespace files_test;
