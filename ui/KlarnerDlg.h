// The main window: a modal dialog with the check-box list of findings, the search/remove
// button, the animated picture and the settings, about and exit commands.
#pragma once
#include "../framework/afxwin.h"
#include "../engine/search/CmdList.h"
#include "../engine/registry/Constants.h"
#include "../engine/registry/RootKeys.h"
#include "../engine/system/Offline.h"
#include "../picture/PictureEx.h"
#include "../framework/Handles.h"
#include "../report/Report.h"
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// Ends a windowed search: posted by the worker with the findings list in lParam and in wParam
// whether the search ran to its end or failed (out of memory; the list is then empty).
const UINT WM_WORKER_DONE = WM_APP + 1;
const WPARAM kWorkerSearched = 0;
const WPARAM kWorkerFailed = 1;
// While a search runs, the status line shows the keys searched so far, about five times a second.
const UINT_PTR kProgressTimer = 1;
const UINT kProgressIntervalMs = 200;

// The result list's columns. The letter column stays for tools that read it, at no width; the
// kind's name is shown between the path and the reason.
enum ResultColumn
{
    kColumnCheck = 0,
    kColumnPath = 1,
    kColumnLetter = 2,
    kColumnReason = 3,
    kColumnKind = 4,
    kResultColumns = 5,
};

// Everything a search needs, copied for the worker thread, which owns it once it has
// taken it over.
struct WorkerRecord
{
    char keywords[kWorkerKeywordBytes];
    LONG* stopFlag;
    HANDLE startedEvent;
    HANDLE hReport;
    HWND hWnd;
    CmdListEntry* findings;
    RootKeySlot rootKeys[kRootKeyCount];
    LONG* keysSearched;  // the dialog's counter of keys searched, for the progress display
    BOOL followReferences;  // leftovers by reference too
    BOOL dangling;          // filter-list entries whose driver has no service key
};

// A worker record from calloc, freed with free by whoever holds it.
struct WorkerRecordFree
{
    void operator()(WorkerRecord* record) const noexcept { free(record); }
};
typedef std::unique_ptr<WorkerRecord, WorkerRecordFree> CWorkerRecordOwner;

class CKlarnerDlg : public CDialog
{
public:
    explicit CKlarnerDlg(CWnd* parent = nullptr);
    ~CKlarnerDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    void OnTimer(UINT_PTR nIDEvent);
    HCURSOR OnQueryDragIcon();
    void OnBnClickedOk();
    void OnAbout();
    void OnBnClickedCancel();
    void OnBnClickedSelectAll();
    void OnItemChangedResultList(NMHDR* pNMHDR, LRESULT* pResult);
    void OnSettings();
    LRESULT OnWorkerDone(WPARAM wParam, LPARAM lParam);
    void OnBnClickedClear();
    void OnExit();
    // File > Undo last removal: gives back what the session's last removal pass took.
    void OnUndo();
    // The menu entry is there while a pass of this session has a backup left to give back.
    void UpdateUndo();

    // The window grows: the list takes the room, the rest keeps to its edges.
    void OnSize(UINT type, int cx, int cy);
    void OnGetMinMaxInfo(MINMAXINFO* info);
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // The list's notifications come in Unicode, so that tips carry every letter of a path.
    LRESULT OnNotifyFormat(WPARAM wParam, LPARAM lParam);
    void OnGetInfoTip(NMHDR* pNMHDR, LRESULT* pResult);
    // The columns' texts, asked for by the list as it draws or is read.
    void OnGetDispInfo(NMHDR* pNMHDR, LRESULT* pResult);
    std::wstring CellText(size_t index, int column) const;
    void OnContextMenu(CWnd* wnd, POINT at);
    void OnGroupByKind();
    void OnCopyPath();
    void OnCopyTicked();
    void OnOpenRegedit();
    void OnOpenExplorer();

    // Places the controls for the client size and the details' text.
    void Layout();
    int WantedDetailsHeight() const;
    // Sizes the columns to what they show, within the list's width.
    void FitColumns();
    // Measures what the columns show (after a fill), for FitColumns.
    void MeasureColumns();
    // The details line: everything about the selected finding, or a hint.
    void ShowDetails();
    // Fills the list from m_model, in groups by kind where the control has them.
    void FillList();
    // Group headers after a removal: counts again, and a group left empty goes.
    void UpdateGroups();
    void UpdateGroupMenu();
    // After a pass that left something to the restart: says so and offers the restart.
    void OfferRestart(int atRestart);
    // The finding a row shows; its path as the list shows it.
    const CmdListEntry& FindingOf(int item) const;
    std::wstring ShownPath(size_t index) const;
    std::wstring DetailsOf(int item) const;
    // Pixels at 96 DPI, for the display the window is on.
    int Scale(int pixels) const;

    // Starts the search thread; its handle, or -1 when it could not start (a message was shown).
    HANDLE StartWorker();
    static DWORD WINAPI WorkerThreadProc(LPVOID parameter);
    void ResetResults();
    void StartSearch();
    void RemoveTickedFindings();
    // The list's item that shows the finding at `index` of the model, or -1.
    int ItemOf(size_t index) const;
    // The window's state: m_closeAllowed, m_removeMode, m_searching and the stop flag change
    // only through these steps, the report only through the report's two.
    void EnterSearching();
    void EnterResults(int count);
    void EnterIdle();
    // Cancel, Exit or closing during a search: the search stops, and closing is allowed.
    void RequestStop();
    void OpenSearchReport();
    void CloseSearchReport();
    void ShowProgress();
    void SetActionCaption(UINT id);

    HICON m_hIcon = nullptr;
    CString m_keywords;
    CString m_caption;
    CString m_text;
    CCheckListCtrl m_resultList;
    CPictureEx m_pictureCtrl;
    CButton m_selectAll;
    CButton m_actionButton;
    CButton m_clearButton;
    CString m_reportPath;
    // The report a search opened, until the list is cleared or the window goes.
    CReport m_report;
    // The findings list a search hands over; freed as soon as the list shows it.
    CFindingsList m_findings;
    // What the list shows, one entry per item (the item's data is its index here): a removal
    // works from these, never from the texts it shows.
    std::vector<CmdListEntry> m_model;
    LONG m_stopRequested = 0;
    int m_closeAllowed = 1;
    int m_removeMode = 0;
    RootKeySlot m_rootKeys[kRootKeyCount] = { 0, SlotFromHkey(HKEY_CURRENT_USER), SlotFromHkey(HKEY_LOCAL_MACHINE), 0, 0 };
    // The record for the next worker, until it takes the record over.
    CWorkerRecordOwner m_workerRecord;
    // The running or last search thread: the window may close during a search, and the
    // dialog must outlive the thread that uses its stop flag and report handle.
    CHandle m_hWorker;
    // Keys searched by the running search (the worker counts, the timer shows it).
    LONG m_keysSearched = 0;
    BOOL m_searching = FALSE;
    // The report the last search opened (or tried to): removals are backed up beside it.
    CString m_searchReportPath;
    // Leftovers by reference too (the settings' box): on while the keyword list is the default one.
    BOOL m_followReferences = TRUE;
    // The backups of this session's removal passes and the reports beside them, the last pass last.
    struct UndoablePass
    {
        std::wstring backup;
        CString report;
    };
    std::vector<UndoablePass> m_undoable;
    // Another installation to repair (the settings' folder; empty: this one), open from its
    // search until its results are cleared or the window goes; and the settings' dangling box.
    CString m_offlineFolder;
    std::unique_ptr<COfflineInstallation> m_offline;
    BOOL m_dangling = FALSE;

    CDynamicLayout m_layout;
    int m_dpi = 96;
    // The client width the columns were last fitted to.
    int m_fittedWidth = 0;
    // The details line's height for its text (pixels), at least the template's.
    int m_detailsHeight = 0;
    // What each column needs to show its widest text (pixels).
    int m_columnNeeds[kResultColumns] = {};
    // Per finding of m_model: its group, and what to do about it when a pass left it in place.
    std::vector<int> m_groupOf;
    std::vector<std::wstring> m_advice;
    struct KindGroup
    {
        int id;
        std::wstring name;
    };
    std::vector<KindGroup> m_groups;
    // View > Group by kind (on by default), and whether the control can show groups at all.
    BOOL m_groupByKind = TRUE;
    BOOL m_groupsAvailable = FALSE;
    HMENU m_viewMenu = nullptr;
    // Opens the settings' offline installation for a search; FALSE (a message was shown) when
    // it cannot be.
    BOOL OpenOffline();

    DECLARE_MESSAGE_MAP()
};
