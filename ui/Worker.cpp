// The search worker thread of the main window and the message that ends a search.
#include "KlarnerDlg.h"
#include "../engine/registry/Constants.h"
#include "../framework/AfxGuard.h"
#include "../framework/Handles.h"
#include "../engine/KlarnEngine.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include "WindowTexts.h"
#include "../engine/kinds/KindsTable.h"
#include "../engine/search/Said.h"
#include <algorithm>
#include <cstdlib>

HANDLE CKlarnerDlg::StartWorker()
{
    const HANDLE failed = reinterpret_cast<HANDLE>(-1);
    m_workerRecord.reset(static_cast<WorkerRecord*>(calloc(1, sizeof(WorkerRecord))));
    if (!m_workerRecord)
        return failed;
    WorkerRecord* record = m_workerRecord.get();
    record->findings = m_findings.Get();
    record->hWnd = m_hWnd;
    record->hReport = m_report.Handle();
    record->stopFlag = &m_stopRequested;
    record->keysSearched = &m_keysSearched;
    record->followReferences = m_followReferences;
    record->dangling = m_dangling;
    memcpy(record->rootKeys, m_rootKeys, sizeof record->rootKeys);
    memset(record->keywords, 0, sizeof record->keywords);
    strncpy(record->keywords, m_keywords, sizeof record->keywords - 1);

    // Used for the hand-over only: it goes when this function returns.
    CHandle startedEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!startedEvent) {
        AfxMessageBox(kTextEventFailed, MB_OK);
        return failed;
    }
    ::ResetEvent(startedEvent);
    record->startedEvent = startedEvent;

    DWORD threadId = 0;
    CHandle thread(::CreateThread(nullptr, 0, &CKlarnerDlg::WorkerThreadProc, &m_workerRecord, 0, &threadId));
    if (!thread) {
        // The record stays with the dialog, which frees it; the event does not outlive this call.
        record->startedEvent = nullptr;
        m_text.LoadString(IDS_THREAD_FAILED);
        m_caption.LoadString(IDS_ERROR_CAPTION);
        MessageBox(m_text, m_caption, MB_ICONERROR);
        return failed;
    }
    ::WaitForSingleObject(startedEvent, INFINITE);
    ::ResetEvent(startedEvent);
    m_hWorker = std::move(thread);
    return m_hWorker;
}

DWORD WINAPI CKlarnerDlg::WorkerThreadProc(LPVOID parameter)
{
    // Taken over: the dialog's slot is cleared before the dialog goes on, so that it never sees
    // this record again (a later search stores its own record there).
    CWorkerRecordOwner owned(static_cast<CWorkerRecordOwner*>(parameter)->release());
    WorkerRecord* record = owned.get();
    ::SetEvent(record->startedEvent);
    ::Sleep(10);
    // Out of memory during the search: the window says so and shows no findings.
    const bool searched = AfxCallGuarded(false, [record] {
        CKlarnEngine engine;
        engine.SetProgressCounter(record->keysSearched);
        // Leftovers by reference as the settings say; they stay unticked like every finding.
        engine.SetFollowReferences(record->followReferences);
        engine.SetDangling(record->dangling);
        record->findings =
            engine.ScanRegistry(record->keywords, record->findings, record->rootKeys, record->hReport, record->stopFlag);
        return true;
    });
    const WPARAM outcome = searched ? kWorkerSearched : kWorkerFailed;
    // A window closed meanwhile takes no message: the list would be lost, so free it here.
    if (!::PostMessageA(record->hWnd, WM_WORKER_DONE, outcome, reinterpret_cast<LPARAM>(record->findings)))
        CmdListFree(&record->findings);
    return 0;
}

LRESULT CKlarnerDlg::OnWorkerDone(WPARAM wParam, LPARAM lParam)
{
    KillTimer(kProgressTimer);
    m_findings.Reset(reinterpret_cast<CmdListEntry*>(lParam));
    m_model.clear();
    for (const CmdListEntry* node = m_findings.Get(); node; node = node->next) {
        m_model.push_back(*node);
        m_model.back().next = nullptr;
    }
    FillList();

    m_actionButton.EnableWindow(TRUE);
    const int count = m_resultList.GetItemCount();
    EnterResults(count);
    CString message;
    if (count > 0) {
        m_selectAll.EnableWindow(TRUE);
        m_clearButton.EnableWindow(TRUE);
        SetActionCaption(IDS_OK_REMOVE);
        message.Format(LoadFormatText(IDS_FOUND_FMT), count);
    } else {
        message.Format(LoadFormatText(IDS_FOUND_NONE));
    }

    CString line = LoadFormatText(IDS_REPORT_COUNT_FMT);
    CString countLine;
    countLine.Format(line, count);
    CString results;
    results.LoadString(IDS_REPORT_RESULTS);
    m_report.WriteLine("");
    m_report.WriteLine(countLine);
    m_report.WriteLine("");
    m_report.WriteLine("");
    m_report.WriteLine(results);
    m_report.WriteLine("");

    if (m_pictureCtrl.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_IDLE), "GIF"))
        m_pictureCtrl.Show();
    m_text.LoadString(IDS_STATUS_DONE);
    SetDlgItemText(IDC_STATUS, m_text);
    m_text.LoadString(IDS_CANCEL_DONE);
    SetDlgItemText(IDCANCEL, m_text);

    if (wParam == kWorkerFailed) {
        // The search ended early: it says why instead of a count.
        m_text.LoadString(IDS_OUT_OF_MEMORY);
        m_caption.LoadString(IDS_ERROR_CAPTION);
        MessageBox(m_text, m_caption, MB_ICONERROR);
    } else {
        MessageBox(message, nullptr, MB_OK);
    }
    m_findings.Reset(nullptr);
    return 0;
}

namespace {
// The group of a finding: one per kind, numbered after the kinds table; one more for an entry
// of no known kind.
int GroupIdOf(const CmdListEntry& entry)
{
    const std::vector<const ILeftoverKind*>& kinds = LeftoverKinds();
    const ILeftoverKind* kind = KindOf(entry);
    const auto at = std::find(kinds.begin(), kinds.end(), kind);
    return at == kinds.end() ? static_cast<int>(kinds.size()) + 1 : static_cast<int>(at - kinds.begin()) + 1;
}
}

void CKlarnerDlg::FillList()
{
    // One repaint for the whole list rather than one per item.
    m_resultList.SetRedraw(FALSE);
    m_resultList.RemoveAllGroups();
    m_groups.clear();
    m_groupOf.assign(m_model.size(), 0);
    m_advice.assign(m_model.size(), std::wstring());
    // The groups in the order their kinds first come in the findings (the engine's order), each
    // header with its count; the rows keep the engine's order, inside a group too.
    std::vector<int> counts;
    for (size_t i = 0; i < m_model.size(); ++i) {
        const int id = GroupIdOf(m_model[i]);
        m_groupOf[i] = id;
        auto group = std::find_if(m_groups.begin(), m_groups.end(), [id](const KindGroup& g) { return g.id == id; });
        if (group == m_groups.end()) {
            m_groups.push_back({ id, KindName(m_model[i]) });
            counts.push_back(0);
            group = m_groups.end() - 1;
        }
        ++counts[static_cast<size_t>(group - m_groups.begin())];
    }
    // Asked on every fill: whether the control shows groups depends on the common controls loaded.
    m_groupsAvailable = m_resultList.EnableGroupView(TRUE);
    if (!m_groupByKind)
        m_resultList.EnableGroupView(FALSE);
    for (size_t g = 0; g < m_groups.size(); ++g)
        m_resultList.InsertGroup(m_groups[g].id, GroupHeader(m_groups[g].name, counts[g]).c_str());
    UpdateGroupMenu();

    // One message per row: the columns' texts are asked for as they are drawn or read
    // (LVN_GETDISPINFO), from the model, so that filling thousands of rows costs no more.
    for (size_t i = 0; i < m_model.size(); ++i)
        m_resultList.InsertItem(static_cast<int>(i), "", static_cast<LPARAM>(i), m_groupOf[i]);
    MeasureColumns();
    FitColumns();
    m_resultList.SetRedraw(TRUE);
    m_resultList.InvalidateRect(nullptr, TRUE);
    ShowDetails();
}

std::wstring CKlarnerDlg::CellText(size_t index, int column) const
{
    const CmdListEntry& finding = m_model[index];
    switch (column) {
    case kColumnPath:
        // The exact path, in Unicode, as the report spells it.
        return ShownPath(index);
    case kColumnLetter:
        return std::wstring(1, static_cast<wchar_t>(finding.kind));
    case kColumnReason: {
        // What to do about a finding a pass left in place follows its reason, as in the report.
        const std::wstring& advice = index < m_advice.size() ? m_advice[index] : std::wstring();
        const std::wstring reason = Shown(finding.reason), shownAdvice = Shown(advice);
        if (advice.empty())
            return reason;
        return !reason.empty() ? reason + L"  (" + shownAdvice + L")" : shownAdvice;
    }
    case kColumnKind:
        for (const KindGroup& group : m_groups)
            if (index < m_groupOf.size() && group.id == m_groupOf[index])
                return group.name;
        return KindName(finding);
    default:
        return std::wstring();
    }
}

void CKlarnerDlg::OnGetDispInfo(NMHDR* pNMHDR, LRESULT* pResult)
{
    *pResult = 0;
    NMLVDISPINFOW* info = reinterpret_cast<NMLVDISPINFOW*>(pNMHDR);
    if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0)
        return;
    const size_t index = m_resultList.GetItemData(info->item.iItem);
    const std::wstring text = index < m_model.size() ? CellText(index, info->item.iSubItem) : std::wstring();
    if (pNMHDR->code == LVN_GETDISPINFOW) {
        lstrcpynW(info->item.pszText, text.c_str(), info->item.cchTextMax);
        return;
    }
    // A list that notifies in ANSI: the code page's spelling, cut to the buffer.
    NMLVDISPINFOA* ansi = reinterpret_cast<NMLVDISPINFOA*>(pNMHDR);
    const int chars = ansi->item.cchTextMax;
    int written = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi->item.pszText, chars, nullptr, nullptr);
    if (written == 0)
        written = ::WideCharToMultiByte(CP_ACP, 0, text.substr(0, static_cast<size_t>(chars - 1) / 2).c_str(), -1,
                                        ansi->item.pszText, chars, nullptr, nullptr);
    ansi->item.pszText[written > 0 ? written - 1 : 0] = '\0';
}
