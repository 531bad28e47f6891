// Run-time class records and message maps: a per-class table from message, command or
// notification to member handler, chained to the base class's table.
#pragma once
#include <windows.h>
#include <commctrl.h>

struct CRuntimeClass
{
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
};

class CObject
{
public:
    virtual ~CObject() {}
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* cls) const;
    static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(theClass) (&theClass::class##theClass)
#define DECLARE_DYNAMIC(theClass) \
public: \
    static const CRuntimeClass class##theClass; \
    const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(theClass, baseClass) \
    const CRuntimeClass theClass::class##theClass = { #theClass, RUNTIME_CLASS(baseClass) }; \
    const CRuntimeClass* theClass::GetRuntimeClass() const { return RUNTIME_CLASS(theClass); }

class CCmdTarget;
class CWnd;
typedef void (CCmdTarget::*AFX_PMSG)();

// How a handler is called and what its result means.
enum AfxSig : UINT_PTR
{
    AfxSig_end = 0,
    AfxSig_vv,       // void ()                 commands, BN_CLICKED, WM_PAINT, WM_DESTROY
    AfxSig_vwl,      // void (UINT, LPARAM)     WM_SYSCOMMAND
    AfxSig_vtimer,   // void (UINT_PTR)         WM_TIMER
    AfxSig_hv,       // HCURSOR ()              WM_QUERYDRAGICON
    AfxSig_lwl,      // LRESULT (WPARAM, LPARAM) private messages
    AfxSig_vNotify,  // void (NMHDR*, LRESULT*) WM_NOTIFY
    AfxSig_vwii,     // void (UINT, int, int)   WM_SIZE
    AfxSig_vMinMax,  // void (MINMAXINFO*)      WM_GETMINMAXINFO
    AfxSig_vWndPt,   // void (CWnd*, POINT)     WM_CONTEXTMENU
};

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;
    UINT nCode;  // command or notification code
    UINT nID;    // control id
    AfxSig nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Handlers of every signature are stored in one member pointer type and turned back into
// their own type before the call: a member function pointer cast to another member function
// pointer type and back is the pointer it was (the one round trip the language guarantees).
// GCC warns of any cast between member function types, this round trip included.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
#endif
template <class F> inline AFX_PMSG AfxToPmsg(F f)
{
    return reinterpret_cast<AFX_PMSG>(f);
}
template <class F> inline F AfxFromPmsg(AFX_PMSG p)
{
    return reinterpret_cast<F>(p);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)

public:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // First entry of this class's map chain that handles the message, or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;
};

#define DECLARE_MESSAGE_MAP() \
public: \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass) \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() \
    { \
        [[maybe_unused]] typedef theClass ThisClass; \
        typedef baseClass TheBaseClass; \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP() \
            { 0, 0, 0, AfxSig_end, nullptr } \
        }; \
        static const AFX_MSGMAP map = { &TheBaseClass::GetThisMessageMap, &entries[0] }; \
        return &map; \
    }

#define AFX_FN(sig, member) AfxToPmsg(static_cast<sig>(&ThisClass::member))

#define ON_COMMAND(id, memberFxn) \
    { WM_COMMAND, 0, (UINT)(id), AfxSig_vv, AfxToPmsg(static_cast<void (CCmdTarget::*)()>(memberFxn)) },
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_NOTIFY(code, id, memberFxn) \
    { WM_NOTIFY, (UINT)(code), (UINT)(id), AfxSig_vNotify, \
      AfxToPmsg(static_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(memberFxn)) },
#define ON_MESSAGE(message, memberFxn) \
    { (UINT)(message), 0, 0, AfxSig_lwl, AfxToPmsg(static_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(memberFxn)) },
#define ON_WM_PAINT() { WM_PAINT, 0, 0, AfxSig_vv, AFX_FN(void (CCmdTarget::*)(), OnPaint) },
#define ON_WM_DESTROY() { WM_DESTROY, 0, 0, AfxSig_vv, AFX_FN(void (CCmdTarget::*)(), OnDestroy) },
#define ON_WM_SYSCOMMAND() { WM_SYSCOMMAND, 0, 0, AfxSig_vwl, AFX_FN(void (CCmdTarget::*)(UINT, LPARAM), OnSysCommand) },
#define ON_WM_TIMER() { WM_TIMER, 0, 0, AfxSig_vtimer, AFX_FN(void (CCmdTarget::*)(UINT_PTR), OnTimer) },
#define ON_WM_SIZE() { WM_SIZE, 0, 0, AfxSig_vwii, AFX_FN(void (CCmdTarget::*)(UINT, int, int), OnSize) },
#define ON_WM_GETMINMAXINFO() \
    { WM_GETMINMAXINFO, 0, 0, AfxSig_vMinMax, AFX_FN(void (CCmdTarget::*)(MINMAXINFO*), OnGetMinMaxInfo) },
#define ON_WM_CONTEXTMENU() \
    { WM_CONTEXTMENU, 0, 0, AfxSig_vWndPt, AFX_FN(void (CCmdTarget::*)(CWnd*, POINT), OnContextMenu) },
#define ON_WM_QUERYDRAGICON() { WM_QUERYDRAGICON, 0, 0, AfxSig_hv, AFX_FN(HCURSOR (CCmdTarget::*)(), OnQueryDragIcon) },
