// CCmdTarget and the static message tables that bind window messages and commands to handlers.
//
// Each table entry holds a thunk made inside the owning class's own GetThisMessageMap(), so it may
// call protected and private handlers, and it reaches the handler through a static_cast of the
// target to that class: no member-function pointers are cast between unrelated types.
#pragma once

#include "framework/object.h"

class CCmdTarget;
class CWnd;

// Calls one handler: (target, wParam, lParam) -> the message result.
typedef LRESULT (*AFX_PMSG)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

// Notification code of a WM_COMMAND from a menu, an accelerator or a button click.
#define CN_COMMAND 0

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message; WM_COMMAND for command entries
    UINT nID;       // command id (command entries only)
    AFX_PMSG pfn;   // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root of the chain
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Runs the handler of command nID in this object's table chain; FALSE when there is none.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

protected:
    // The first entry for nMessage (and nID, for commands) along this object's table chain.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nID) const;

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                          \
protected:                                             \
    static const AFX_MSGMAP* GetThisMessageMap();      \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }  \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                  \
        using ThisClass [[maybe_unused]] = theClass;                                    \
        using TheBaseClass = baseClass;                                                 \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                          \
            {0, 0, nullptr}};                                                                      \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
        return &messageMap;                                                                        \
    }

// A captureless lambda, so it converts to AFX_PMSG; made inside ThisClass's own member function.
#define AFX_THUNK(body)                                                 \
    [](CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam) -> LRESULT {  \
        ThisClass* pThis = static_cast<ThisClass*>(pTarget);            \
        (void)pThis, (void)wParam, (void)lParam;                        \
        body                                                            \
    }

// int OnCreate(LPCREATESTRUCT): -1 makes the creation fail.
#define ON_WM_CREATE() \
    {WM_CREATE, 0, AFX_THUNK(return pThis->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));)},
// void OnClose()
#define ON_WM_CLOSE() \
    {WM_CLOSE, 0, AFX_THUNK(pThis->OnClose(); return 0;)},
// void OnDestroy()
#define ON_WM_DESTROY() \
    {WM_DESTROY, 0, AFX_THUNK(pThis->OnDestroy(); return 0;)},
// void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized)
#define ON_WM_ACTIVATE()                                                                            \
    {WM_ACTIVATE, 0, AFX_THUNK(                                                                     \
        pThis->OnActivate(LOWORD(wParam), CWnd::FromHandle(reinterpret_cast<HWND>(lParam)),         \
                          HIWORD(wParam) != 0);                                                     \
        return 0;)},
// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER() \
    {WM_TIMER, 0, AFX_THUNK(pThis->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;)},
// void memberFxn(), for WM_COMMAND with LOWORD(wParam) == id
#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, static_cast<UINT>(id), AFX_THUNK(pThis->memberFxn(); return 0;)},
// LRESULT memberFxn(WPARAM, LPARAM); the result goes back to the sender
#define ON_MESSAGE(message, memberFxn) \
    {static_cast<UINT>(message), 0, AFX_THUNK(return pThis->memberFxn(wParam, lParam);)},
// clang-format on
