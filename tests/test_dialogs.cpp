// The main dialog in this process: its system menu's About item, present only when the
// language library has its text, and the about box it opens.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../framework/AfxGuard.h"
#include "../resources/resource.h"
#include "../ui/KlarnerDlg.h"
#include <thread>

namespace {

struct MenuSeen
{
    int count = -1;
    UINT lastId = 0;
    std::string lastText;
    bool aboutOpened = false;
};

// Runs the main dialog modally with `library` as the resource module; a helper thread
// reads the system menu, asks for the about box through it, and closes everything.
MenuSeen RunWithLibrary(const std::string& library)
{
    HMODULE module = LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << library;
    AfxSetResourceHandle(module);
    MenuSeen seen;
    CKlarnerDlg dlg;
    std::thread helper([&seen] {
        HWND window = kt::WaitForDialogWithControl(GetCurrentProcessId(), IDC_RESULT_LIST, 20000);
        if (!window)
            return;
        HMENU menu = GetSystemMenu(window, FALSE);
        seen.count = GetMenuItemCount(menu);
        seen.lastId = GetMenuItemID(menu, seen.count - 1);
        char text[128] = "";
        GetMenuStringA(menu, static_cast<UINT>(seen.count - 1), text, sizeof text, MF_BYPOSITION);
        seen.lastText = text;
        PostMessageA(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        HWND about = kt::WaitForWindow(GetCurrentProcessId(), "#32770", 10000, window);
        seen.aboutOpened = about != nullptr;
        if (about) {
            kt::PressButton(about, IDOK);
            kt::WaitUntilGone(about, 10000);
        }
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    dlg.DoModal();
    helper.join();
    return seen;
}

TEST(SystemMenu, AboutItemFollowsASeparatorWhenItsTextExists)
{
    MenuSeen with = RunWithLibrary(kt::BinDir() + "en-us\\klarner.dll");
    MenuSeen without = RunWithLibrary(kt::TestDir() + "noabout\\klarner.dll");
    ASSERT_GT(with.count, 2);
    EXPECT_EQ(with.lastId, static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(with.lastText, "&About Velmora Klarner...");
    EXPECT_TRUE(with.aboutOpened);
    EXPECT_EQ(without.count, with.count - 2) << "neither the separator nor the item";
    EXPECT_NE(without.lastId, static_cast<UINT>(IDM_ABOUTBOX));
}

// A window whose handler runs out of memory, as a removal pass might.
class CFailingWnd : public CWnd
{
protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_APP)
            throw std::bad_alloc();
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

int g_reported = 0;
bool g_noMemory = false;

TEST(GuardedHandlers, AFailureInAHandlerIsToldOnceAndTheWindowLivesOn)
{
    AfxSetGuardReporter([](bool noMemory) {
        ++g_reported;
        g_noMemory = noMemory;
    });
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    CFailingWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(window));
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0);
    EXPECT_EQ(g_reported, 1);
    EXPECT_TRUE(g_noMemory);
    EXPECT_TRUE(IsWindow(window));
    DestroyWindow(window);
    AfxSetGuardReporter(nullptr);
}

}  // namespace
