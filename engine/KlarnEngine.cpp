// The cleaning engine: keyword list, registry search and removal.
#include "KlarnEngine.h"
#include "../framework/AfxCore.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include <cstdio>
#include <cstring>

CKlarnEngine::CKlarnEngine() {}

CKlarnEngine::~CKlarnEngine() {}

BOOL CKlarnEngine::StopRequested() const
{
    // The main window writes the flag from its own thread; read it afresh every time.
    return m_stopFlag && __atomic_load_n(m_stopFlag, __ATOMIC_ACQUIRE) != 0;
}

void CKlarnEngine::SplitSearchTerms(const char* text, CStringArray& terms)
{
    char work[kKeywordTextChars] = "";
    strncpy(work, text, kKeywordTextChars - 1);
    work[kKeywordTextChars - 1] = '\0';

    const char* run = work;
    for (;;) {
        const char* comma = strchr(run, ',');
        size_t length = comma ? static_cast<size_t>(comma - run) : strlen(run);
        // An empty run (end of text, leading or doubled comma) and an over-long entry end the list.
        if (length == 0 || length >= kKeywordChars - 1)
            break;
        char entry[kKeywordChars] = "";
        memcpy(entry, run, length);
        entry[length] = '\0';
        terms.Add(CString(entry));
        if (!comma)
            break;
        run = comma + 1;
    }
}

CmdListEntry* CKlarnEngine::ScanRegistry(char* keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys,
                                         HANDLE hReport, LONG* stopFlag)
{
    m_stopFlag = stopFlag;
    m_cmdList = cmdList;
    m_hReport = hReport;

    CString text;
    if (hReport == INVALID_HANDLE_VALUE) {
        text.LoadString(IDS_REPORT_OPEN_FAILED);
        AfxMessageBox(text, MB_ICONERROR);
    }

    _strlwr(keywords);
    SplitSearchTerms(keywords, m_searchTerms);

    text.LoadString(IDS_REPORT_KEYWORDS);
    WriteReportLine(text, m_hReport);
    WriteReportLine(keywords, m_hReport);
    WriteReportLine("", m_hReport);
    WriteReportLine("", m_hReport);

    for (int slot = 0; slot < kRootKeyCount; ++slot) {
        if (rootKeys[slot] == 0)
            continue;
        HKEY root = HkeyFromSlot(rootKeys[slot]);
        m_hkeyName = HkeyName(root);
        SearchKey(root, m_hkeyName, nullptr, FALSE);
    }

    WriteReportLine("", m_hReport);
    WriteReportLine("", m_hReport);

    if (rootKeys[2] != 0)
        CheckTrayStartupValue();

    for (CmdListEntry* entry = m_cmdList; entry; entry = entry->next)
        WriteReportLine(entry->path, m_hReport);

    m_searchTerms.RemoveAll();
    m_hkeyName.Empty();
    return m_cmdList;
}

void CKlarnEngine::CheckTrayStartupValue()
{
    // Deliberately ignores the stop flag: the value check is one open and one query.
    for (int i = 0; i < m_searchTerms.GetSize(); ++i) {
        if (m_searchTerms[i] != kTrayValueName)
            continue;
        HKEY hScanKey = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, &hScanKey) != ERROR_SUCCESS)
            return;
        if (::RegQueryValueExA(hScanKey, kTrayValueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            ::RegCloseKey(hScanKey);
            return;
        }
        RecordFinding(kTrayValueFinding, kKindValue);
        ::RegCloseKey(hScanKey);
    }
}

void CKlarnEngine::RecordFinding(const char* path, char kind)
{
    CmdListEntry* entry = CmdListAppend(&m_cmdList);
    strncpy(entry->path, path, kPathChars - 1);
    entry->path[kPathChars - 1] = '\0';
    entry->kind = kind;
}

void CKlarnEngine::ReportUnopenedKey(const char* name)
{
    char szErr[kPathChars];
    memset(szErr, 0, sizeof szErr);
    CString leadIn;
    leadIn.LoadString(IDS_OPEN_FAILED);
    snprintf(szErr, sizeof szErr, "%s%s", leadIn.GetString(), name ? name : "");
    WriteReportLine(szErr, m_hReport);
}

int CKlarnEngine::SearchKey(HKEY hParent, CString fullPath, const char* name, BOOL inherited)
{
    if (StopRequested())
        return -1;

    CString lowerName(name ? name : "");
    lowerName.MakeLower();
    BOOL match = inherited;
    for (int i = 0; !match && i < m_searchTerms.GetSize(); ++i)
        if (lowerName.Find(m_searchTerms[i]) >= 0)
            match = TRUE;

    BOOL subkeysOpened = TRUE;
    HKEY hKey = nullptr;
    LONG result = ::RegOpenKeyExA(hParent, name, 0, KEY_READ, &hKey);
    if (result == ERROR_FILE_NOT_FOUND)
        return -1;
    if (result != ERROR_SUCCESS) {
        ReportUnopenedKey(name);
        return -1;
    }

    char subKeyName[kPathChars];
    char fullSubKeyName[kPathChars];
    DWORD index = 0;
    LONG enumResult;
    do {
        DWORD cbName = kSearchNameChars;
        enumResult = ::RegEnumKeyExA(hKey, index, subKeyName, &cbName, nullptr, nullptr, nullptr, nullptr);
        if (enumResult == ERROR_SUCCESS) {
            int length = snprintf(fullSubKeyName, sizeof fullSubKeyName, "%s\\%s", fullPath.GetString(), subKeyName);
            if (length < 0 || length >= kPathChars) {
                // A path that does not fit could only be recorded cut short, naming another
                // key; such a subkey counts as not walked, like one that failed to open.
                ReportUnopenedKey(subKeyName);
                subkeysOpened = FALSE;
            } else if (SearchKey(hKey, CString(fullSubKeyName), subKeyName, match) != 0) {
                subkeysOpened = FALSE;
            }
        }
        ++index;
    } while (enumResult == ERROR_SUCCESS && !StopRequested());
    ::RegCloseKey(hKey);

    if (match && !inherited && subkeysOpened) {
        CString lowerPath(fullPath);
        lowerPath.MakeLower();
        if (lowerPath.Find(kProtectedMonitoring) < 0 && lowerPath.Find(kProtectedLegacy) < 0)
            RecordFinding(fullPath, kKindKey);
    }
    return 0;
}

BOOL CKlarnEngine::RemoveEntry(char kind, HKEY root, const char* path)
{
    // An empty path would name the root key itself; the search never records one, and
    // removal must never be pointed at a whole root.
    if (!path || path[0] == '\0' || path[0] == '\\')
        return FALSE;

    if (kind == kKindKey) {
        char szDelKey[kDeletePathChars] = "";
        if (strlen(path) >= static_cast<size_t>(kDeletePathChars))
            return FALSE;
        strncpy(szDelKey, path, kDeletePathChars - 1);
        return DeleteKeyTree(root, szDelKey);
    }
    if (kind == kKindValue) {
        CStringArray parts;
        SplitPathWithValue(path, parts);
        if (parts.GetSize() != 2)
            return FALSE;
        return DeleteRegValue(root, parts[0], parts[1]);
    }
    return FALSE;
}

BOOL CKlarnEngine::DeleteKeyTree(HKEY root, char* path)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return FALSE;
    ::RegCloseKey(hKey);

    if (::RegDeleteKeyA(root, path) == ERROR_SUCCESS)
        return TRUE;

    LONG result = ::RegOpenKeyExA(root, path, 0, KEY_READ, &hKey);
    if (result != ERROR_SUCCESS)
        return result == ERROR_FILE_NOT_FOUND;

    size_t length = strlen(path);
    if (length == 0 || path[length - 1] != '\\') {
        if (length + 1 >= static_cast<size_t>(kDeletePathChars)) {
            ::RegCloseKey(hKey);
            return FALSE;
        }
        path[length++] = '\\';
        path[length] = '\0';
    }
    const size_t childStart = length;

    for (;;) {
        char szName[kDeleteNameChars];
        DWORD cbName = kDeleteNameChars;
        FILETIME lastWrite;
        if (::RegEnumKeyExA(hKey, 0, szName, &cbName, nullptr, nullptr, nullptr, &lastWrite) != ERROR_SUCCESS)
            break;
        // A subkey path that does not fit the working buffer cannot be removed; the key
        // that holds it then stays, and the removal fails.
        if (childStart + cbName >= static_cast<size_t>(kDeletePathChars))
            break;
        memcpy(path + childStart, szName, cbName + 1);
        if (!DeleteKeyTree(root, path))
            break;
    }

    path[childStart - 1] = '\0';
    ::RegCloseKey(hKey);
    return ::RegDeleteKeyA(root, path) == ERROR_SUCCESS;
}

BOOL CKlarnEngine::DeleteRegValue(HKEY root, const char* keyPath, const char* valueName)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(root, keyPath, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return FALSE;
    LONG result = ::RegDeleteValueA(hKey, valueName);
    ::RegCloseKey(hKey);
    return result == ERROR_SUCCESS;
}

void CKlarnEngine::SplitPathWithValue(const char* path, CStringArray& parts)
{
    const char* lastBackslash = strrchr(path, '\\');
    if (!lastBackslash)
        return;
    parts.Add(CString(path, static_cast<int>(lastBackslash - path)));
    parts.Add(CString(lastBackslash + 1));
}
