// Start-up: own path, language library, single instance, administrator check, command
// line, then the unattended run or the main window.
#include "KlarnerApp.h"
#include "AppConstants.h"
#include "UnattendedRun.h"
#include "../engine/registry/Constants.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/registry/RootKeys.h"
#include "../framework/Handles.h"
#include "../report/ReportLog.h"
#include "../engine/system/FileHandles.h"
#include "../resources/resource.h"
#include "../ui/KlarnerDlg.h"
#include "../engine/search/Said.h"
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {
const char* const kLanguages[] = { "de-de", "en-us" };
const int kModuleDriveChars = 3;
const int kModuleDirChars = 256;
const int kModuleNameChars = 256;
const int kResDirChars = 256;
const int kResDllChars = MAX_PATH;

// Bounded copy that must fit whole; FALSE (and an empty target) when it does not.
BOOL CopyWhole(char* target, size_t capacity, const char* source, size_t length)
{
    if (length >= capacity) {
        target[0] = '\0';
        return FALSE;
    }
    memcpy(target, source, length);
    target[length] = '\0';
    return TRUE;
}

// Splits a module path into drive, directory (with its last backslash) and file name
// without the extension; FALSE when a part does not fit its buffer.
BOOL SplitModulePath(const char* path, char* drive, char* dir, char* name)
{
    size_t driveLength = (path[0] && path[1] == ':') ? 2 : 0;
    const char* rest = path + driveLength;
    const char* lastSeparator = nullptr;
    for (const char* p = rest; *p; ++p)
        if (*p == '\\' || *p == '/')
            lastSeparator = p;
    const char* base = lastSeparator ? lastSeparator + 1 : rest;
    const char* dot = strrchr(base, '.');
    size_t nameLength = dot ? static_cast<size_t>(dot - base) : strlen(base);
    return CopyWhole(drive, kModuleDriveChars, path, driveLength) &&
           CopyWhole(dir, kModuleDirChars, rest, static_cast<size_t>(base - rest)) &&
           CopyWhole(name, kModuleNameChars, base, nameLength);
}
}

CKlarnerApp::CKlarnerApp() {}

CKlarnerApp::~CKlarnerApp() {}

BEGIN_MESSAGE_MAP(CKlarnerApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

void CKlarnerApp::Tell(const char* text, const char* caption, UINT type)
{
    if (m_unattended)
        WriteStandardError(text);
    else
        ::MessageBoxA(nullptr, text, caption, type);
}

void CKlarnerApp::ShowMessage(UINT textId, UINT captionId)
{
    m_text.LoadString(textId);
    m_caption.LoadString(captionId);
    Tell(m_text, m_caption, MB_OK | MB_ICONERROR);
}

int CKlarnerApp::DoMessageBox(const char* prompt, UINT type, UINT helpId)
{
    if (!m_unattended)
        return CWinApp::DoMessageBox(prompt, type, helpId);
    WriteStandardError(prompt);
    return IDOK;
}

int CKlarnerApp::ExitInstance()
{
    if (!m_unattended)
        return 0;
    // A record that could not be written counts like a report that could not be opened; after a
    // removal, the report and the backup still say what was removed.
    if (!m_record.Finish(m_exitCode)) {
        if (!m_recordFailed) {
            m_text.LoadString(IDS_RECORD_FAILED);
            WriteStandardError(m_text + ReportSpelling(m_record.Where()).c_str());
        }
        m_exitCode = kExitReportNotOpened;
    }
    // The last line of standard output, for the fleet tools that keep only that.
    WriteStandardOutput(m_record.SummaryLine(m_exitCode).c_str());
    return m_exitCode;
}

namespace {
// Whether `record` names the report itself or a backup beside it ("<report>-backup-*.reg").
bool ReplacesTheReport(const std::wstring& record, const std::wstring& report)
{
    if (_wcsicmp(record.c_str(), report.c_str()) == 0)
        return true;
    const std::wstring stem = PathWithoutExtension(report) + L"-backup-";
    const std::wstring tail = L".reg";
    return record.size() > stem.size() + tail.size() && _wcsnicmp(record.c_str(), stem.c_str(), stem.size()) == 0 &&
           _wcsicmp(record.c_str() + record.size() - tail.size(), tail.c_str()) == 0;
}
}

BOOL CKlarnerApp::PrepareRecord(const CommandLineValues& values)
{
    m_record.SetMode(values.remove != 0);
    if (!values.json)
        return TRUE;
    std::wstring where = L"-";
    CString path = values.strJsonPath;
    if (values.strJsonPath != "-") {
        // Beside the report, with the report's name, unless a path of its own is given.
        CString report = values.strFileName;
        ExpandReportPath(report);
        if (path.IsEmpty())
            path = values.strFileName;
        ExpandReportPath(path);
        where = WidenAnsi(ReportFullPath(path));
        if (values.strJsonPath.IsEmpty())
            where = PathWithoutExtension(where) + L".json";
        // A record in the report's place would leave the run without its log.
        if (ReplacesTheReport(where, WidenAnsi(ReportFullPath(report)))) {
            RefuseUsage(IDS_RECORD_CONFLICT, ReportSpelling(where).c_str());
            return FALSE;
        }
    }
    if (!m_record.Open(where)) {
        // Nothing is removed then, and the run says why.
        m_recordFailed = TRUE;
        m_text.LoadString(IDS_RECORD_FAILED);
        WriteStandardError(m_text + ReportSpelling(where).c_str());
    }
    return TRUE;
}

void CKlarnerApp::ShowUsage()
{
    m_text.LoadString(IDS_USAGE);
    Tell(m_text, AfxGetAppName(), MB_OK | MB_ICONINFORMATION);
}

void CKlarnerApp::RefuseUsage(UINT reasonId, const char* what)
{
    // A mistyped command line must not quietly run with defaults on many machines.
    WriteUsageRefusal(reasonId, what);
    m_exitCode = kExitBadUsage;
}

void CKlarnerApp::RunUnattended(CString strFileName, CString strKeyWords, CString strHkeyName)
{
    UnattendedRequest request;
    request.reportPath = strFileName;
    request.keywords = strKeyWords;
    request.rootName = strHkeyName;
    request.remove = m_delete == 1;
    request.followReferences = m_followReferences == 1;
    request.recordFailed = m_recordFailed != FALSE;
    request.offlineFolder = m_offlineFolder;
    request.dangling = m_dangling == 1;
    m_exitCode = CUnattendedRun(m_record).Run(request);
}

void CKlarnerApp::RunRestore(const CommandLineValues& values)
{
    // A restore gives back one backup as it is: a search's switches would only be ignored.
    const char* other = values.remove ? "/del" : values.refs ? "/refs" : values.dangling ? "/dangling"
                        : !values.strKeyWords.IsEmpty() ? "/keywords" : !values.strHkeyName.IsEmpty() ? "/hkey" : nullptr;
    if (other) {
        RefuseUsage(IDS_RESTORE_ALONE, other);
        return;
    }
    if (values.strRestorePath.IsEmpty()) {
        RefuseUsage(IDS_UNKNOWN_ARGUMENT, "/restore");
        return;
    }
    if (values.offline && values.strOfflineFolder.IsEmpty()) {
        RefuseUsage(IDS_UNKNOWN_ARGUMENT, "/offline");
        return;
    }
    UnattendedRequest request;
    request.reportPath = values.strFileName;
    request.recordFailed = m_recordFailed != FALSE;
    const std::wstring given = WidenAnsi(values.strRestorePath);
    wchar_t full[32768];
    const DWORD length = ::GetFullPathNameW(given.c_str(), 32768, full, nullptr);
    request.restorePath = length > 0 && length < 32768 ? std::wstring(full, length) : given;
    request.offlineFolder = m_offlineFolder;
    m_exitCode = CUnattendedRun(m_record).Restore(request);
}

BOOL CKlarnerApp::AnotherInstanceRuns()
{
    // Either name held means another instance runs; one another account made and keeps from us
    // (access denied) is held too. The handles stay open until the process ends.
    for (const char* name : { kMutexName, kSessionMutexName }) {
        HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name);
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED))
            return TRUE;
    }
    return FALSE;
}

BOOL CKlarnerApp::LoadLanguageLibrary(const char* szFullModuleFileName, BOOL pathComplete)
{
    char szModDrive[kModuleDriveChars] = "";
    char szModDir[kModuleDirChars] = "";
    char szModFileName[kModuleNameChars] = "";
    char szResDir[kResDirChars] = "";
    char szResDll[kResDllChars] = "";
    BOOL splitOk = pathComplete && SplitModulePath(szFullModuleFileName, szModDrive, szModDir, szModFileName);

    CString candidate;
    for (const char* language : kLanguages) {
        // The candidate is also built in full for the message, even when it would not fit.
        candidate = CString(szModDrive) + szModDir + language + "\\" + szModFileName + ".dll";
        if (!splitOk)
            continue;
        int dirLength = snprintf(szResDir, sizeof szResDir, "%s%s\\", szModDir, language);
        if (dirLength < 0 || dirLength >= kResDirChars)
            continue;
        int dllLength = snprintf(szResDll, sizeof szResDll, "%s%s%s.dll", szModDrive, szResDir, szModFileName);
        if (dllLength < 0 || dllLength >= kResDllChars)
            continue;
        // Loaded as data only: no code of a file beside an elevated program ever runs.
        m_hResourceLib = ::LoadLibraryExA(szResDll, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (m_hResourceLib)
            break;
    }
    if (!m_hResourceLib) {
        CString strErrMessage = CString(kTextCouldNotFindFile) + candidate;
        Tell(strErrMessage, kTextErrorCaption, MB_OK | MB_ICONERROR);
        m_exitCode = kExitNoLanguageLibrary;
        return FALSE;
    }
    AfxSetResourceHandle(m_hResourceLib);
    // The record says what it says in English, whatever the user reads: other programs read it.
    CString english = CString(szModDrive) + szModDir + "en-us\\" + szModFileName + ".dll";
    if (splitOk)
        SetEnglishTexts(::LoadLibraryExA(english.GetString(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    return TRUE;
}

BOOL CKlarnerApp::InitInstance()
{
    // Known before anything can fail: an unattended run shows no window at all, not even for
    // the failures of start-up.
    CommandLineValues early;
    ParseCommandLine(__argc, __argv, early);
    m_unattended = early.silent;
    if (m_unattended)
        EnterUnattendedMode();

    char szFullModuleFileName[MAX_PATH] = "";
    DWORD length = ::GetModuleFileNameA(nullptr, szFullModuleFileName, MAX_PATH);
    if (length == 0) {
        CString strErrMessage = CString(kTextCouldNotFindFile) + szFullModuleFileName;
        Tell(strErrMessage, kTextErrorCaption, MB_OK | MB_ICONERROR);
        m_exitCode = kExitNoLanguageLibrary;
        return FALSE;
    }
    // A path that filled the buffer was cut short; it names no library of ours.
    if (!LoadLanguageLibrary(szFullModuleFileName, length < MAX_PATH))
        return FALSE;

    // The usage needs no rights and takes no turn: it only needs the texts. It stands alone: with
    // other switches a tool would read the run's record, with nothing found, as a clean machine.
    if (early.usage && m_unattended && !early.otherSwitch.IsEmpty()) {
        RefuseUsage(IDS_USAGE_ALONE, early.otherSwitch);
        return FALSE;
    }
    if (early.usage) {
        ShowUsage();
        return FALSE;
    }
    if (m_unattended && !PrepareRecord(early))
        return FALSE;

    m_delete = 0;
    if (AnotherInstanceRuns()) {
        ShowMessage(IDS_ALREADY_RUNNING, IDS_ERROR_CAPTION);
        m_exitCode = kExitAlreadyRunning;
        return FALSE;
    }

    if (!IsAdministrator()) {
        ShowMessage(IDS_ADMIN_REQUIRED, IDS_ADMIN_CAPTION);
        m_exitCode = kExitNotAdministrator;
        return FALSE;
    }

    CommandLineValues values;
    ReadCommandLine(__argc, __argv, values);

    if (values.silent) {
        if (!values.badArgument.IsEmpty())
            RefuseUsage(IDS_UNKNOWN_ARGUMENT, values.badArgument);
        else if (!values.conflictingSwitch.IsEmpty())
            RefuseUsage(IDS_CONFLICTING_SWITCH, values.conflictingSwitch);
        else if (values.offline && values.strOfflineFolder.IsEmpty())
            RefuseUsage(IDS_UNKNOWN_ARGUMENT, "/offline");
        else if (values.restore)
            RunRestore(values);
        else
            RunUnattended(values.strFileName, values.strKeyWords, values.strHkeyName);
        return FALSE;
    }

    InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    CKlarnerDlg* dlg = new CKlarnerDlg();
    m_pMainWnd = dlg;
    dlg->DoModal();
    m_pMainWnd = nullptr;
    delete dlg;
    return FALSE;
}

CString CKlarnerApp::GetSwitchValue(const char* place)
{
    return SwitchValue(place);
}

void CKlarnerApp::ReadCommandLine(int argc, char* argv[], CommandLineValues& values)
{
    ParseCommandLine(argc, argv, values);
    if (values.remove)
        m_delete = 1;
    if (values.refs)
        m_followReferences = 1;
    if (values.dangling)
        m_dangling = 1;
    if (values.offline)
        m_offlineFolder = WidenAnsi(values.strOfflineFolder);
}

BOOL CKlarnerApp::IsWin9x()
{
    OSVERSIONINFOA osVersion;
    memset(&osVersion, 0, sizeof osVersion);
    osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return ::GetVersionExA(&osVersion) && osVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

BOOL CKlarnerApp::IsAdministrator()
{
    if (IsWin9x())
        return TRUE;

    SID_IDENTIFIER_AUTHORITY SystemSidAuthority = SECURITY_NT_AUTHORITY;
    DWORD dwStructureSize = sizeof(PRIVILEGE_SET);
    PRIVILEGE_SET ps;
    DWORD dwStatus = 0;
    const DWORD dwAccessMask = 3;     // private rights: 1 read, 2 write
    const DWORD dwAccessDesired = 1;
    GENERIC_MAPPING GenericMapping = { 1, 2, 0, 3 };

    // The thread must not stay impersonating, whichever way the check ends.
    struct Impersonation
    {
        BOOL active;
        ~Impersonation()
        {
            if (active)
                ::RevertToSelf();
        }
    } impersonation = { ::ImpersonateSelf(SecurityImpersonation) };

    CHandle hToken;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, FALSE, hToken.Receive())) {
        if (::GetLastError() != ERROR_NO_TOKEN || !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, hToken.Receive()))
            return FALSE;
    }
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&SystemSidAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                    0, 0, 0, 0, &sid))
        return FALSE;
    CSidOwner psidAdmin(sid);
    CLocalMemory<void> psdAdmin(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!psdAdmin || !::InitializeSecurityDescriptor(psdAdmin.get(), SECURITY_DESCRIPTOR_REVISION))
        return FALSE;
    DWORD dwACLSize = ::GetLengthSid(sid) + sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    CLocalMemory<ACL> pACL(static_cast<PACL>(::LocalAlloc(LPTR, dwACLSize)));
    if (!pACL || !::InitializeAcl(pACL.get(), dwACLSize, ACL_REVISION2) ||
        !::AddAccessAllowedAce(pACL.get(), ACL_REVISION2, dwAccessMask, sid) ||
        !::SetSecurityDescriptorDacl(psdAdmin.get(), TRUE, pACL.get(), FALSE))
        return FALSE;
    ::SetSecurityDescriptorGroup(psdAdmin.get(), sid, FALSE);
    ::SetSecurityDescriptorOwner(psdAdmin.get(), sid, FALSE);
    if (!::IsValidSecurityDescriptor(psdAdmin.get()))
        return FALSE;
    BOOL bReturn = FALSE;
    if (!::AccessCheck(psdAdmin.get(), hToken, dwAccessDesired, &GenericMapping, &ps, &dwStructureSize, &dwStatus,
                       &bReturn)) {
        printf("AccessCheck() failed with error %lu\n", ::GetLastError());
        // Out before anything else is written, so that the summary line stays the last one.
        fflush(stdout);
        return FALSE;
    }
    return bReturn;
}
