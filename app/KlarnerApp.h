// The application object: start-up, command line and the unattended run.
#pragma once
#include "../framework/AfxCore.h"
#include "CommandLine.h"
#include "RunRecord.h"
#include "StandardStreams.h"
#include <string>

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

    // The value of the switch at `place` (see CommandLine.h).
    CString GetSwitchValue(const char* place);
    // Examines arguments 1 to argc - 1 for the switches; /del sets m_delete.
    void ReadCommandLine(int argc, char* argv[], CommandLineValues& values);
    BOOL IsAdministrator();
    BOOL IsWin9x();
    // Searches one root key without a window and, with /del, removes every finding after
    // backing it up; sets the exit code.
    void RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName);
    // Gives back what the pass of one backup took (/restore); sets the exit code.
    void RunRestore(const CommandLineValues& values);

    CString m_text;
    CString m_caption;
    int m_delete = 0;
    // 1 when the command line asks for leftovers by reference too (/refs).
    int m_followReferences = 0;
    // /dangling, and the Windows folder /offline names (empty: the running installation).
    int m_dangling = 0;
    std::wstring m_offlineFolder;
    HMODULE m_hResourceLib = nullptr;
    // Set from the first moment when the command line asks for /silent.
    BOOL m_unattended = FALSE;
    int m_exitCode = 0;
    // The run's record (/json) and its summary line; a record that cannot be opened stops any
    // removal, as a report that cannot be opened does.
    CRunRecord m_record;
    BOOL m_recordFailed = FALSE;

private:
    // Loads "<dir>\<language>\<program name>.dll" as resources only, "de-de" first.
    BOOL LoadLanguageLibrary(const char* szFullModuleFileName, BOOL pathComplete);
    void ShowMessage(UINT textId, UINT captionId);
    // Takes the single-instance mutexes; TRUE when another instance holds one of them.
    BOOL AnotherInstanceRuns();
    // A message box, or in an unattended run the same text on standard error.
    void Tell(const char* text, const char* caption, UINT type);
    void ShowUsage();
    // Where /json puts the record (placeholders need the language library), and its opening;
    // FALSE (bad usage, code 87) when it would replace the report or a backup.
    BOOL PrepareRecord(const CommandLineValues& values);
    // Bad usage of an unattended run: the reason and the usage on standard error, code 87.
    void RefuseUsage(UINT reasonId, const char* what);

    DECLARE_MESSAGE_MAP()
};
