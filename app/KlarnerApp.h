// The application object: start-up, command line and the unattended run.
#pragma once
#include "../framework/AfxCore.h"

// Values read from the command line.
struct CommandLineValues
{
    CString strFileName;  // value of /silent: the report path of an unattended run
    CString strKeyWords;  // value of /keywords
    CString strHkeyName;  // value of /hkey, emptied unless it is one of the five root key names
    int silent = 0;       // 1 once a /silent switch was seen
};

class CKlarnerApp : public CWinApp
{
public:
    CKlarnerApp();
    ~CKlarnerApp() override;

    BOOL InitInstance() override;

    // The value after the first "=" at or after `place`, up to the next "/", with one
    // trailing space removed.
    CString GetSwitchValue(const char* place);
    // Examines arguments 1 to argc - 1 for the four switches, in both spellings; /del sets m_delete.
    void ReadCommandLine(int argc, char* argv[], CommandLineValues& values);
    BOOL IsAdministrator();
    BOOL IsWin9x();
    // Searches one root key without a window and, with /del, removes every finding.
    void RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName);

    CString m_text;
    CString m_caption;
    int m_delete = 0;
    HMODULE m_hResourceLib = nullptr;

private:
    // Loads "<dir>\<language>\<program name>.dll" as resources only, "de-de" first.
    BOOL LoadLanguageLibrary(const char* szFullModuleFileName, BOOL pathComplete);
    void ShowMessage(UINT textId, UINT captionId);

    DECLARE_MESSAGE_MAP()
};
