// What the unattended run's tests share: klarner.exe run with a scratch key, keyword and report,
// and the report's banner and last line read back.
#pragma once
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../../resources/resource.h"
#include "../../app/AppConstants.h"
#include "../../app/RunRecord.h"
#include "../../engine/registry/Constants.h"
#include "../../report/ReportLog.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include <map>
#include <regex>

// Named, not anonymous: a test suite's fixture must be one class in every file of the program.
namespace unattended_test {

const std::string kRule(38, '#');
using Json = nlohmann::json;

// The last line of a program's standard output, and all before it.
inline std::string LastLine(const std::string& output, std::string* before = nullptr)
{
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t start = text.find_last_of('\n');
    if (before)
        *before = start == std::string::npos ? std::string() : text.substr(0, start + 1);
    return start == std::string::npos ? text : text.substr(start + 1);
}

inline std::string FullPathOf(const std::string& path)
{
    char full[MAX_PATH * 2] = "";
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

// The statuses of a record's findings, by path.
inline std::map<std::string, std::string> Statuses(const Json& record)
{
    std::map<std::string, std::string> statuses;
    for (const Json& finding : record["findings"])
        statuses[finding["path"].get<std::string>()] = finding["status"].get<std::string>();
    return statuses;
}
const char kBannerPattern[] = "\r\n######################################\r\n\r\n\tVelmora Klarner\r\n\t\\d\\d\\.\\d\\d\\.\\d{4}\t"
                              "\\d\\d:\\d\\d:\\d\\d\r\n\r\n######################################\r\n\r\n\r\n";

using kt::EnglishProgram;

// The report after its banner, which must be the whole first part.
inline std::string AfterBanner(const std::string& report)
{
    std::smatch m;
    std::regex banner(kBannerPattern);
    if (!std::regex_search(report, m, banner) || m.position(0) != 0)
        return "<no banner at the start>" + report;
    return m.suffix().str();
}


class UnattendedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        keyword = kt::UniqueName("kw");
        report = kt::ScratchDir("unattended") + "report.txt";
    }

    void Seed()
    {
        key.Make(keyword + "One\\Sub\\Deeper");
        kt::SetStringValue(HKEY_CURRENT_USER, key.Below(keyword + "One\\Sub"), "path", "C:\\vm");
        key.Make("Vendor\\" + keyword + "Two");
        key.Make(keyword + "Lock\\Mid\\Denied");
        ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Below(keyword + "Lock\\Mid\\Denied")));
        key.Make("Legacy\\" + keyword + "Old");
        key.Make("Unrelated\\Keep");
    }
    DWORD RunProgram(const std::string& arguments, std::string* errors = nullptr, std::string* output = nullptr)
    {
        return kt::Run("\"" + EnglishProgram() + "\" \"/silent=" + report + "\" " + arguments, output, 120000, errors);
    }
    std::vector<std::string> Backups() { return kt::BackupsOf(report); }
    // The three findings of Seed(), in the search's order (enumeration order of the registry).
    std::vector<std::string> Findings(const std::string& reportText)
    {
        std::vector<std::string> found;
        std::string marker = "HKEY_CURRENT_USER\\" + key.Path() + "\\";
        size_t at = 0;
        while ((at = reportText.find(marker, at)) != std::string::npos) {
            size_t end = reportText.find("\r\n", at);
            found.push_back(reportText.substr(at, end - at));
            at = end;
        }
        return found;
    }

    kt::ScratchKey key{ "kltrun" };
    std::string keyword, report;
};

}  // namespace unattended_test

using namespace unattended_test;
