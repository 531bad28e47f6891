// Modal dialog from a template of the current resource module, with control binding.
#pragma once
#include "CWnd.h"
#include <functional>
#include <vector>

class CDataExchange
{
public:
    CDataExchange(CWnd* dialog, BOOL save) : m_pDlgWnd(dialog), m_bSaveAndValidate(save) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds a control of the dialog to a window object (once, when the dialog starts).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)

public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    virtual INT_PTR DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL save = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

// Keeps the controls of a dialog that can be resized along its edges: each control named keeps
// its distance to the right or bottom edge (it moves) or to both edges (it stretches); the rest
// stay where the template put them. The size the dialog had when the layout started is the
// smallest it takes.
class CDynamicLayout
{
public:
    enum Anchor : UINT
    {
        MoveX = 1,
        MoveY = 2,
        SizeX = 4,
        SizeY = 8,
    };
    struct Rule
    {
        int id;
        UINT anchors;
    };
    // Records the controls where they stand now, in the dialog's client coordinates.
    void Start(HWND dialog, const std::vector<Rule>& rules);
    bool Started() const { return m_dialog != nullptr; }
    // Places the controls for the client size now; `adjust` may change a control's rectangle
    // before it is placed (a part whose height follows its text, say).
    void Apply(const std::function<void(int id, RECT& rect)>& adjust = nullptr) const;
    // Where a control goes for the client size now, before any adjusting (empty: not named).
    RECT Placed(int id) const;
    // The smallest size of the window, for WM_GETMINMAXINFO.
    SIZE MinimumSize() const { return m_minimum; }
    // The display's scale changed: every distance and the smallest size scale with it.
    void Rescale(int oldDpi, int newDpi);

private:
    struct Item;
    RECT PlacedFor(const Item& item, const RECT& client) const;
    struct Item
    {
        HWND hwnd;
        int id;
        UINT anchors;
        RECT rect;  // where it stood at the start size
    };
    HWND m_dialog = nullptr;
    SIZE m_start = { 0, 0 };    // the client size the rectangles belong to
    SIZE m_minimum = { 0, 0 };  // the window's size at the start
    std::vector<Item> m_items;
};
