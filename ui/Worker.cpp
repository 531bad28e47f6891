// The search worker thread of the main window and the message that ends a search.
#include "KlarnerDlg.h"
#include "../engine/Constants.h"
#include "../framework/AfxGuard.h"
#include "../framework/Handles.h"
#include "../engine/KlarnEngine.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include "WindowTexts.h"
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
    // One repaint for the whole list rather than one per item.
    m_resultList.SendMessage(WM_SETREDRAW, FALSE);
    m_model.clear();
    for (const CmdListEntry* node = m_findings.Get(); node; node = node->next) {
        m_model.push_back(*node);
        m_model.back().next = nullptr;
    }
    for (size_t i = 0; i < m_model.size(); ++i) {
        const CmdListEntry* node = &m_model[i];
        int idx = m_resultList.InsertItem(static_cast<int>(i), "");
        m_resultList.SetItemData(idx, i);
        // The exact path, in Unicode: removal later works from this text.
        m_resultList.SetItemText(idx, 1, (OfflinePrefix() + node->path).c_str());
        const char kind[2] = { node->kind, '\0' };
        m_resultList.SetItemText(idx, 2, kind);
        if (node->reason[0])
            m_resultList.SetItemText(idx, 3, node->reason);
    }
    m_resultList.SendMessage(WM_SETREDRAW, TRUE);
    m_resultList.InvalidateRect(nullptr, TRUE);

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
