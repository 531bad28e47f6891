// A test fixture for end-to-end runs of klarner.exe on the real registry of the test prefix: keys,
// values and files the test owns (removed when it ends), a run with a keyword of its own and its
// JSON record, and the record read back as "kind path status" lines.
#pragma once
#include <gtest/gtest.h>
#include "TestRegistry.h"
#include "TestSupport.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace kt {

using Json = nlohmann::json;

class ProgramRunTest : public ::testing::Test
{
protected:
    ProgramRunTest(const char* prefix, const char* scratch) : m_prefix(prefix), m_scratch(scratch) {}
    void SetUp() override
    {
        keyword = UniqueName(m_prefix);
        tag = std::to_string(GetCurrentProcessId()) + std::to_string(++counter);
        product = "C:\\Program Files\\" + keyword + " Suite\\";
        report = ScratchDir(m_scratch) + "report.txt";
        folders.push_back(product.substr(0, product.size() - 1));
    }
    void TearDown() override
    {
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            DeleteTree(key->first, key->second);
        for (const std::string& file : files)
            DeleteFileA(file.c_str());
        for (const std::string& folder : folders)
            RemoveFolder(folder);
    }
    // Removes a folder with everything in it; a link inside goes as the link, never entered.
    static void RemoveFolder(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName, path = folder + "\\" + name;
                if (name == "." || name == "..")
                    continue;
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    RemoveFolder(path);
                else if (!DeleteFileA(path.c_str()))
                    RemoveDirectoryA(path.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }
    // A value of a key the test owns (removed when the test ends).
    void Set(HKEY root, const std::string& key, const char* name, DWORD type, const void* data, size_t size)
    {
        if (std::find(keys.begin(), keys.end(), std::make_pair(root, key)) == keys.end())
            keys.push_back({ root, key });
        ASSERT_EQ(RegSetKeyValueA(root, key.c_str(), name, type, data, static_cast<DWORD>(size)), ERROR_SUCCESS) << key;
    }
    void Text(HKEY root, const std::string& key, const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        Set(root, key, name, type, text.c_str(), text.size() + 1);
    }
    void Dword(HKEY root, const std::string& key, const char* name, DWORD value)
    {
        Set(root, key, name, REG_DWORD, &value, sizeof value);
    }
    void File(const std::string& path, const std::string& bytes = "MZ")
    {
        for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
            CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        ASSERT_TRUE(kt::WriteFileBytes(path, bytes)) << path;
        files.push_back(path);
    }
    DWORD Run(const std::string& switches, Json* record = nullptr)
    {
        return RunAlone("/keywords=" + keyword + " " + switches, record);
    }
    // A run with the report, the record and these switches only.
    DWORD RunAlone(const std::string& switches, Json* record = nullptr)
    {
        std::string output;
        const DWORD code = kt::Run("\"" + EnglishProgram() + "\" \"/silent=" + report + "\" " + switches + " /json=-", &output,
                                   300000, &errors);
        if (record)
            *record = Json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
        return code;
    }
    // "kind path status" of every finding of a record, and the reason of one path; paths in lower
    // case, as the registry spells its own keys as it likes ("System", "Software").
    static std::string Lower(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        return text;
    }
    static std::vector<std::string> Found(const Json& record)
    {
        std::vector<std::string> found;
        for (const Json& finding : record["findings"])
            found.push_back(finding["kind"].get<std::string>() + " " + Lower(finding["path"].get<std::string>()) +
                            (finding.contains("entry") ? ": " + finding["entry"].get<std::string>() : "") + " " +
                            finding["status"].get<std::string>());
        return found;
    }
    static std::string Reason(const Json& record, const std::string& path)
    {
        for (const Json& finding : record["findings"])
            if (Lower(finding["path"]) == Lower(path) && finding.contains("reason"))
                return finding["reason"];
        return "<none>";
    }
    static std::string Why(const Json& record, const std::string& path)
    {
        for (const Json& finding : record["findings"])
            if (Lower(finding["path"]) == Lower(path) && finding.contains("why"))
                return finding["why"];
        return "<none>";
    }
    bool Exists(HKEY root, const std::string& key) { return KeyExists(root, key); }
    // What the test's keys hold now, to be held again once a removal is given back.
    std::string Held() const
    {
        std::string text;
        for (const auto& key : keys)
            text += TreeText(key.first, key.second);
        return text;
    }
    // The removal contract: the newest backup given back with /restore brings back every finding
    // it names ("restored"), and the test's keys hold again, name for name and byte for byte, what
    // they held before the removal.
    // `refused` names the list entries that are to stay out.
    void ExpectGivenBack(const std::string& held, const std::vector<std::string>& refused = {})
    {
        const std::vector<std::string> backups = BackupsOf(report);
        ASSERT_FALSE(backups.empty());
        Json record;
        EXPECT_EQ(RunAlone("\"/restore=" + backups.back() + "\"", &record), refused.empty() ? 0u : 1u) << Report();
        EXPECT_FALSE(record["findings"].empty());
        for (const Json& finding : record["findings"]) {
            const bool out = std::find(refused.begin(), refused.end(), finding.value("entry", "")) != refused.end();
            EXPECT_EQ(finding["status"], out ? "refused" : "restored") << finding.dump();
        }
        EXPECT_EQ(Held(), held);
    }
    std::string Report() { return kt::ReadFileBytes(report); }

    static inline int counter = 0;
    std::string keyword, tag, product, report;
    std::vector<std::pair<HKEY, std::string>> keys;
    std::vector<std::string> files;
    std::vector<std::string> folders;  // removed whole when the test ends
    std::string errors;                 // the last run's standard error

private:
    const char* m_prefix;
    const char* m_scratch;
};

} // namespace kt
