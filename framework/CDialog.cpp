// Modal dialog of the framework layer. The dialog manager owns the window class; the
// window is subclassed at WM_INITDIALOG so that the message maps see everything, and
// what they leave goes back to the dialog manager's default processing.
#include "CDialog.h"
#include "AfxCore.h"
#include "AfxGuard.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (!control.m_hWnd)
        control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd);
}

IMPLEMENT_DYNAMIC(CDialog, CWnd)

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_nIDTemplate(templateId), m_pParentWnd(parent)
{
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal()
{
    // Without a parent the main window owns the dialog, so that it is modal to it.
    HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    CWinApp* app = AfxGetApp();
    if (!parent && app && app->m_pMainWnd && app->m_pMainWnd != this)
        parent = app->m_pMainWnd->GetSafeHwnd();
    return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    return AfxCallGuardedAndReport<INT_PTR>(FALSE, [&]() -> INT_PTR {
        self->SubclassWindow(hWnd);
        return self->OnInitDialog();
    });
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL save)
{
    CDataExchange dx(this, save);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDynamicLayout::Start(HWND dialog, const std::vector<Rule>& rules)
{
    m_dialog = dialog;
    m_items.clear();
    RECT client = {}, window = {};
    ::GetClientRect(dialog, &client);
    ::GetWindowRect(dialog, &window);
    m_start = { client.right, client.bottom };
    m_minimum = { window.right - window.left, window.bottom - window.top };
    for (const Rule& rule : rules) {
        HWND control = ::GetDlgItem(dialog, rule.id);
        if (!control)
            continue;
        RECT rect;
        ::GetWindowRect(control, &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        m_items.push_back({ control, rule.id, rule.anchors, rect });
    }
}

void CDynamicLayout::Apply(const std::function<void(int id, RECT& rect)>& adjust) const
{
    if (!m_dialog || ::IsIconic(m_dialog))
        return;
    RECT client = {};
    ::GetClientRect(m_dialog, &client);
    HDWP positions = ::BeginDeferWindowPos(static_cast<int>(m_items.size()));
    for (const Item& item : m_items) {
        RECT rect = PlacedFor(item, client);
        if (adjust)
            adjust(item.id, rect);
        if (positions)
            positions = ::DeferWindowPos(positions, item.hwnd, nullptr, rect.left, rect.top, rect.right - rect.left,
                                         rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions)
        ::EndDeferWindowPos(positions);
    // Texts that wrap differently at their new width are drawn afresh.
    ::InvalidateRect(m_dialog, nullptr, TRUE);
}

RECT CDynamicLayout::PlacedFor(const Item& item, const RECT& client) const
{
    const LONG dx = client.right - m_start.cx, dy = client.bottom - m_start.cy;
    RECT rect = item.rect;
    if (item.anchors & MoveX)
        ::OffsetRect(&rect, dx, 0);
    if (item.anchors & MoveY)
        ::OffsetRect(&rect, 0, dy);
    if (item.anchors & SizeX)
        rect.right += dx;
    if (item.anchors & SizeY)
        rect.bottom += dy;
    return rect;
}

RECT CDynamicLayout::Placed(int id) const
{
    RECT client = {};
    if (m_dialog)
        ::GetClientRect(m_dialog, &client);
    for (const Item& item : m_items)
        if (item.id == id)
            return PlacedFor(item, client);
    return RECT{ 0, 0, 0, 0 };
}

void CDynamicLayout::Rescale(int oldDpi, int newDpi)
{
    if (oldDpi <= 0 || newDpi <= 0 || oldDpi == newDpi)
        return;
    auto scale = [&](LONG& value) { value = ::MulDiv(value, newDpi, oldDpi); };
    scale(m_start.cx);
    scale(m_start.cy);
    scale(m_minimum.cx);
    scale(m_minimum.cy);
    for (Item& item : m_items) {
        scale(item.rect.left);
        scale(item.rect.top);
        scale(item.rect.right);
        scale(item.rect.bottom);
    }
}
