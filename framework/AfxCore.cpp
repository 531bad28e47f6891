// Application object and message boxes of the framework layer.
#include "AfxCore.h"
#include "AfxGuard.h"
#include "CWnd.h"

namespace {
CWinApp* g_app = nullptr;
}

int AfxMessageBox(const char* text, UINT type, UINT helpId)
{
    if (g_app)
        return g_app->DoMessageBox(text, type, helpId);
    return ::MessageBoxA(nullptr, text, AfxGetAppName(), type);
}

CWinApp* AfxGetApp()
{
    return g_app;
}

CWinApp::CWinApp(const char* appName)
    : m_pszAppName(appName)
{
    g_app = this;
    if (appName)
        AfxSetAppName(appName);
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

int CWinApp::DoMessageBox(const char* prompt, UINT type, UINT /*helpId*/)
{
    HWND owner = nullptr;
    if (m_pMainWnd && ::IsWindow(m_pMainWnd->GetSafeHwnd()))
        owner = m_pMainWnd->GetSafeHwnd();
    return ::MessageBoxA(owner, prompt, AfxGetAppName(), type);
}

HICON CWinApp::LoadIcon(UINT id) const
{
    // The language library first, then the program's own resources.
    HICON icon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    if (!icon)
        icon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id));
    return icon;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

namespace {
AfxGuardReporter g_guardReporter = nullptr;
LONG g_reporting = 0;
}

void AfxSetGuardReporter(AfxGuardReporter reporter)
{
    g_guardReporter = reporter;
}

void AfxReportGuarded(bool noMemory) noexcept
{
    if (!g_guardReporter || ::InterlockedCompareExchange(&g_reporting, 1, 0) != 0)
        return;
    try {
        g_guardReporter(noMemory);
    } catch (...) {
    }
    ::InterlockedExchange(&g_reporting, 0);
}
