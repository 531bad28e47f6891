// Application object and message boxes of the framework layer.
#pragma once
#include "AfxResource.h"
#include "CmdTarget.h"
#include "CString.h"

class CWnd;

int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);

// The program hosts no ActiveX controls; kept for the start-up sequence's sake.
inline void AfxEnableControlContainer() {}

const UINT ID_HELP = 0xE146;         // 57670

class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    // Start-up; the process ends when it returns FALSE.
    virtual BOOL InitInstance();
    // The process's exit code, asked for when the application ends.
    virtual int ExitInstance();
    // Every AfxMessageBox goes through here; the result is the button pressed.
    virtual int DoMessageBox(const char* prompt, UINT type, UINT helpId);
    HICON LoadIcon(UINT id) const;
    void OnHelp() {}

    CWnd* m_pMainWnd = nullptr;
    const char* m_pszAppName = nullptr;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
