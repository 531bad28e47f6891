// Window object of the framework layer.
#include "CWnd.h"
#include "AfxGuard.h"
#include "AfxResource.h"
#include <map>
#include <memory>

namespace {
const char kObjectProperty[] = "VelmoraKlarner.CWnd";
}

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::~CWnd()
{
    if (m_hWnd && ::GetPropA(m_hWnd, kObjectProperty) == this)
        UnsubclassWindow();
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd || ::GetPropA(hWnd, kObjectProperty))
        return FALSE;
    m_hWnd = hWnd;
    ::SetPropA(hWnd, kObjectProperty, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    HWND child = ::GetDlgItem(parent->GetSafeHwnd(), static_cast<int>(id));
    return child ? SubclassWindow(child) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    HWND hWnd = m_hWnd;
    if (!hWnd)
        return nullptr;
    if (m_pfnSuper)
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::RemovePropA(hWnd, kObjectProperty);
    m_pfnSuper = nullptr;
    m_hWnd = nullptr;
    return hWnd;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    if (CWnd* object = static_cast<CWnd*>(::GetPropA(hWnd, kObjectProperty)))
        return object;
    // Wrappers for windows nobody subclassed; they only carry the handle. Those of windows
    // that are gone go before a new one is made, so the map holds no more than live windows.
    static thread_local std::map<HWND, std::unique_ptr<CWnd>> temporaries;
    if (temporaries.find(hWnd) == temporaries.end()) {
        for (auto it = temporaries.begin(); it != temporaries.end();)
            it = ::IsWindow(it->first) ? std::next(it) : temporaries.erase(it);
    }
    std::unique_ptr<CWnd>& wrapper = temporaries[hWnd];
    if (!wrapper)
        wrapper.reset(new CWnd);
    wrapper->m_hWnd = hWnd;
    return wrapper.get();
}

CWnd* CWnd::GetDlgItem(int id) const
{
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

HDC CWnd::GetDC() { return ::GetDC(m_hWnd); }
int CWnd::ReleaseDC(HDC hdc) { return ::ReleaseDC(m_hWnd, hdc); }

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}

void CWnd::InvalidateRect(const RECT* rect, BOOL erase) { ::InvalidateRect(m_hWnd, rect, erase); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
void CWnd::SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }

void CWnd::GetWindowText(CString& text) const
{
    int length = ::GetWindowTextLengthA(m_hWnd);
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    int got = ::GetWindowTextA(m_hWnd, &buffer[0], length + 1);
    text = CString(buffer.c_str(), got > 0 ? got : 0);
}

void CWnd::SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }

int CWnd::GetDlgItemText(int id, CString& text) const
{
    CWnd* item = GetDlgItem(id);
    if (!item) {
        text.Empty();
        return 0;
    }
    item->GetWindowText(text);
    return text.GetLength();
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type)
{
    return ::MessageBoxA(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
HMENU CWnd::GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }

void CWnd::SetIcon(HICON icon, BOOL big)
{
    SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs)
{
    return ::SetTimer(m_hWnd, id, elapseMs, nullptr);
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    return ::KillTimer(m_hWnd, id);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    UINT code = 0, id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        code = header->code;
        id = static_cast<UINT>(header->idFrom);
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, code, id);
    if (!entry)
        return FALSE;

    *result = 0;
    switch (entry->nSig) {
    case AfxSig_vv:
        (this->*entry->pfn)();
        break;
    case AfxSig_vwl:
        (this->*AfxFromPmsg<void (CCmdTarget::*)(UINT, LPARAM)>(entry->pfn))(static_cast<UINT>(wParam), lParam);
        break;
    case AfxSig_vtimer:
        (this->*AfxFromPmsg<void (CCmdTarget::*)(UINT_PTR)>(entry->pfn))(static_cast<UINT_PTR>(wParam));
        break;
    case AfxSig_hv:
        *result = reinterpret_cast<LRESULT>((this->*AfxFromPmsg<HCURSOR (CCmdTarget::*)()>(entry->pfn))());
        break;
    case AfxSig_lwl:
        *result = (this->*AfxFromPmsg<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(entry->pfn))(wParam, lParam);
        break;
    case AfxSig_vNotify:
        (this->*AfxFromPmsg<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(entry->pfn))(
            reinterpret_cast<NMHDR*>(lParam), result);
        break;
    case AfxSig_vwii:
        (this->*AfxFromPmsg<void (CCmdTarget::*)(UINT, int, int)>(entry->pfn))(
            static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        break;
    case AfxSig_vMinMax:
        (this->*AfxFromPmsg<void (CCmdTarget::*)(MINMAXINFO*)>(entry->pfn))(reinterpret_cast<MINMAXINFO*>(lParam));
        break;
    case AfxSig_vWndPt: {
        // The menu key and Shift+F10 give (-1, -1): the handler places the menu itself.
        const POINT at = { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
        (this->*AfxFromPmsg<void (CCmdTarget::*)(CWnd*, POINT)>(entry->pfn))(FromHandle(reinterpret_cast<HWND>(wParam)), at);
        break;
    }
    default:
        return FALSE;
    }
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* self = static_cast<CWnd*>(::GetPropA(hWnd, kObjectProperty));
    if (!self)
        return ::DefWindowProcA(hWnd, message, wParam, lParam);

    // Handlers may pump messages (message boxes), so the current message is saved around
    // each call for Default(), and restored however the call ends.
    struct CurrentMessageScope
    {
        CWnd* wnd;
        CurrentMessage saved;
        ~CurrentMessageScope()
        {
            if (wnd)
                wnd->m_current = saved;
        }
    } scope = { self, self->m_current };
    self->m_current = { message, wParam, lParam };
    return AfxCallGuardedAndReport<LRESULT>(0, [&]() -> LRESULT {
        if (message != WM_NCDESTROY)
            return self->WindowProc(message, wParam, lParam);
        LRESULT result = self->DefWindowProc(message, wParam, lParam);
        self->UnsubclassWindow();
        // The object may go with its window: nothing of it is touched after this.
        self->m_current = scope.saved;
        scope.wnd = nullptr;
        self->PostNcDestroy();
        return result;
    });
}
