// Application object, resource module and message boxes of the framework layer.
#include "AfxCore.h"
#include "CWnd.h"

namespace {
HINSTANCE g_resourceHandle = nullptr;
CWinApp* g_app = nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    return ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    return g_resourceHandle ? g_resourceHandle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hResource)
{
    g_resourceHandle = hResource;
}

const char* AfxGetAppName()
{
    static CString name;
    CString title;
    if (g_app && g_app->m_pszAppName)
        title = g_app->m_pszAppName;
    else if (!title.LoadString(AFX_IDS_APP_TITLE)) {
        char path[MAX_PATH] = "";
        DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const char* base = strrchr(path, '\\');
            base = base ? base + 1 : path;
            const char* dot = strrchr(base, '.');
            title = dot ? CString(base, static_cast<int>(dot - base)) : CString(base);
        }
    }
    name = title;
    return name;
}

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/)
{
    HWND owner = nullptr;
    if (g_app && g_app->m_pMainWnd && ::IsWindow(g_app->m_pMainWnd->GetSafeHwnd()))
        owner = g_app->m_pMainWnd->GetSafeHwnd();
    return ::MessageBoxA(owner, text, AfxGetAppName(), type);
}

CWinApp* AfxGetApp()
{
    return g_app;
}

CWinApp::CWinApp(const char* appName)
    : m_pszAppName(appName)
{
    g_app = this;
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
