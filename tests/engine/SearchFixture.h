// What the search's tests share: a search of the test prefix's registry with its own report, and
// the fixture whose scratch key and keyword each test seeds.
#pragma once
#include <gtest/gtest.h>
#include "../../engine/registry/RegFile.h"
#include "EngineProbe.h"
#include "TestSupport.h"
#include "../../resources/resource.h"
#include "../../app/RunRecord.h"
#include "../../engine/registry/Constants.h"
#include "../../engine/registry/FloorKeys.h"
#include "../../engine/registry/KeyPlaces.h"
#include "../../engine/search/Keywords.h"
#include "../../engine/backup/RegBackup.h"
#include "../../engine/RemovalPass.h"
#include "../../engine/search/SharedFlag.h"
#include "../../engine/kinds/KindsTable.h"
#include "../../report/Report.h"
#include "../../report/ReportLog.h"
#include <algorithm>
#include <string>
#include <vector>

// Named, not anonymous: a test suite's fixture must be one class in every file of the program.
namespace search_test {

// A search with its own report file, so that its lines can be read back.
struct SearchResult
{
    std::vector<std::wstring> paths;
    std::vector<char> kinds;
    std::string report;
};

inline SearchResult Search(const std::string& keywords, const std::vector<RootKeySlot>& slots, LONG stop = 0, int threads = 0,
                    LONG* keysSearched = nullptr)
{
    std::string reportPath = kt::ScratchDir("search") + "report.txt";
    HANDLE report = OpenReport(reportPath.c_str());
    EngineProbe engine;
    engine.SetSearchThreads(threads);
    engine.SetProgressCounter(keysSearched);
    std::vector<char> text(keywords.begin(), keywords.end());
    text.push_back('\0');
    RootKeySlot rootKeys[kRootKeyCount];
    for (int i = 0; i < kRootKeyCount; ++i)
        rootKeys[i] = slots[static_cast<size_t>(i)];
    CmdListEntry* list = engine.ScanRegistry(text.data(), nullptr, rootKeys, report, &stop);
    EXPECT_EQ(engine.m_searchTerms.GetSize(), 0) << "the keyword list is emptied after a search";
    EXPECT_TRUE(engine.m_hkeyName.IsEmpty());
    SearchResult result;
    for (CmdListEntry* e = list; e; e = e->next) {
        result.paths.push_back(e->path);
        result.kinds.push_back(e->kind);
    }
    CmdListFree(&list);
    CloseReport(report);
    result.report = kt::ReadFileBytes(reportPath);
    return result;
}

const RootKeySlot kUser = SlotFromHkey(HKEY_CURRENT_USER), kMachine = SlotFromHkey(HKEY_LOCAL_MACHINE);
const std::vector<RootKeySlot> kUserOnly = { 0, kUser, 0, 0, 0 };

class SearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kw");
        upper = keyword;
        for (char& c : upper)
            c = static_cast<char>(toupper(c));
        openFailed.LoadString(IDS_OPEN_FAILED);
    }
    // A finding's full path, as the search records it (in Unicode).
    std::wstring Full(const std::string& below) { return kt::Widen(key.Full(below)); }
    std::wstring Full(const std::wstring& below) { return key.Full(below); }

    kt::ScratchKey key{ "kltbase" };
    std::string keyword, upper;
    CString openFailed;
};

}  // namespace search_test

using namespace search_test;
