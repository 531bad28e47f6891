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
