// The application object: start-up, command line and the unattended run.
#pragma once
#include "../framework/AfxCore.h"

// Values read from the command line.
struct CommandLineValues
{
    CString strFileName;  // value of /silent: the report path of an unattended run
    CString strKeyWords;  // value of /keywords
    CString strHkeyName;  // value of /hkey as a full root key name, empty unless it names one
    int silent = 0;       // 1 once a /silent switch was seen
    CString badArgument;  // the first argument that holds no switch at all
};

class CKlarnerApp : public CWinApp
{
public:
    CKlarnerApp();
    ~CKlarnerApp() override;

    BOOL InitInstance() override;
    // 0 for the windowed mode; the unattended run's documented exit code otherwise.
    int ExitInstance() override;
    // An unattended run never waits for a click: its messages go to standard error.
    int DoMessageBox(const char* prompt, UINT type, UINT helpId) override;

    // The value after the first "=" at or after `place`, up to the next "/", with one
    // trailing space removed.
    CString GetSwitchValue(const char* place);
    // Examines arguments 1 to argc - 1 for the four switches, in both spellings; /del sets m_delete.
    void ReadCommandLine(int argc, char* argv[], CommandLineValues& values);
    BOOL IsAdministrator();
    BOOL IsWin9x();
    // Searches one root key without a window and, with /del, removes every finding after
    // backing it up; sets the exit code.
    void RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName);

    CString m_text;
    CString m_caption;
    int m_delete = 0;
    HMODULE m_hResourceLib = nullptr;
    // Set from the first moment when the command line asks for /silent.
    BOOL m_unattended = FALSE;
    int m_exitCode = 0;

private:
    // Loads "<dir>\<language>\<program name>.dll" as resources only, "de-de" first.
    BOOL LoadLanguageLibrary(const char* szFullModuleFileName, BOOL pathComplete);
    void ShowMessage(UINT textId, UINT captionId);
    // A message box, or in an unattended run the same text on standard error.
    void Tell(const char* text, const char* caption, UINT type);
    void ShowUsage();

    DECLARE_MESSAGE_MAP()
};
