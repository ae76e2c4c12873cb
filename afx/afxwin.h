// The MFC classes the installer uses, with MFC's names and behaviour, written on plain user32 and kernel32
// calls so that the same installer code runs on Windows and on the stand-in: message maps, windows,
// dialogs, controls and the application, over the strings and files of afx.h.
#pragma once

#include "afx.h"
#include "afxres.h"

#include <memory>

#define afx_msg

// WinHelp's commands, where the platform's headers do not have them.
#ifndef HELP_CONTEXT
#define HELP_CONTEXT 0x0001L
#endif
#ifndef HELP_CONTENTS
#define HELP_CONTENTS 0x0003L
#endif

// The notification code of menu and accelerator commands, and of button clicks.
#define CN_COMMAND 0

class CCmdTarget;
class CDataExchange;
class CMenu;
class CWinApp;
class CWnd;

// ---------------------------------------------------------------------------------------------------------
// Message maps

// A handler as the map stores it: the entry's own adapter casts the target back to its class and cracks the
// message's parameters for the member function.
using AFX_PMSGHANDLER = LRESULT (*)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // window message, or WM_COMMAND for commands and control notifications
    UINT nCode;    // notification code (WM_COMMAND only)
    UINT nID;      // first and last command or control id (WM_COMMAND only)
    UINT nLastID;
    AFX_PMSGHANDLER pfn; // null ends the map
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)(); // null for the root of the chain
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                 \
  protected:                                                                                  \
    static const AFX_MSGMAP* GetThisMessageMap();                                             \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }         \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                         \
        using ThisClass [[maybe_unused]] = theClass;                                          \
        using TheBaseClass = baseClass;                                                       \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                     \
            {0, 0, 0, 0, nullptr}                                                             \
        };                                                                                    \
        static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};            \
        return &map;                                                                          \
    }

// Each entry adapts the message for its member function. `memberFxn` is named as a member of the class
// of the map, as in ON_COMMAND(ID_HELP, CWinApp::OnHelp).
#define AFX_CALL_ENTRY(message, code, id, call)                                               \
    {static_cast<UINT>(message), static_cast<UINT>(code), static_cast<UINT>(id),              \
     static_cast<UINT>(id),                                                                   \
     [](CCmdTarget* pTarget, [[maybe_unused]] WPARAM wParam,                                  \
        [[maybe_unused]] LPARAM lParam) -> LRESULT {                                          \
         ThisClass* pThis = static_cast<ThisClass*>(pTarget);                                 \
         call;                                                                                \
     }},

#define ON_COMMAND(id, memberFxn)                                                             \
    AFX_CALL_ENTRY(WM_COMMAND, CN_COMMAND, id, pThis->memberFxn(); return 0)
#define ON_CONTROL(code, id, memberFxn)                                                       \
    AFX_CALL_ENTRY(WM_COMMAND, code, id, pThis->memberFxn(); return 0)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(CBN_SELCHANGE, id, memberFxn)
// LRESULT memberFxn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                        \
    AFX_CALL_ENTRY(message, 0, 0, return pThis->memberFxn(wParam, lParam))
#define ON_WM_SYSCOMMAND()                                                                    \
    AFX_CALL_ENTRY(WM_SYSCOMMAND, 0, 0,                                                       \
                   pThis->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0)
#define ON_WM_PAINT()                                                                         \
    AFX_CALL_ENTRY(WM_PAINT, 0, 0, pThis->OnPaint(); return 0)
#define ON_WM_QUERYDRAGICON()                                                                 \
    AFX_CALL_ENTRY(WM_QUERYDRAGICON, 0, 0, return reinterpret_cast<LRESULT>(pThis->OnQueryDragIcon()))
// clang-format on

class CCmdTarget {
  public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Calls the handler of command `nID` with notification `nCode` from this object's map chain; FALSE
    // when the chain has none.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);
    virtual const AFX_MSGMAP* GetMessageMap() const;

  protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    // The first entry of the chain from `pMap` up that takes the message.
    static const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode,
                                                    UINT nID);
};

// ---------------------------------------------------------------------------------------------------------
// Windows

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object attached to `hWnd`, or else a temporary one that lives until the outermost modal dialog
    // of the thread ends. NULL for a NULL handle.
    static CWnd* FromHandle(HWND hWnd);
    // The attached object only.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // Attaches this object to `hWnd` until Detach, the window's end or this object's end.
    BOOL Attach(HWND hWnd);
    HWND Detach();

    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void SetDlgItemText(int nID, LPCSTR lpszString) { ::SetDlgItemTextA(m_hWnd, nID, lpszString); }
    int GetDlgItemText(int nID, LPSTR lpStr, int nMaxCount) const;
    int GetDlgItemText(int nID, CString& rString) const;
    void SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
    int GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }

    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    // The window's system menu as a temporary CMenu; NULL when it has none.
    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    // Runs DoDataExchange: TRUE moves the controls' values into the members, FALSE the other way.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // The window's default handling of the message being handled now, with its result.
    LRESULT Default();

    // Dispatches a window message through the map chain; FALSE when nothing there takes it.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

    DECLARE_MESSAGE_MAP()
};

class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    const BOOL m_bSaveAndValidate; // TRUE: controls to members
    CWnd* const m_pDlgWnd;

    // The dialog's control `nIDC`; NULL when it has none.
    HWND PrepareCtrl(int nIDC) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }
};

// Attaches the control window `nIDC` to `rControl` the first time.
void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog modally; the value given to EndDialog, or -1 when it cannot be made.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }
    // Fills the controls from the dialog's initialisation data (RT_DLGINIT of `lpszResourceName`); TRUE also
    // when it has none, FALSE when the data is damaged or a control refuses an item.
    BOOL ExecuteDlgInit(LPCSTR lpszResourceName);
    // The same for initialisation data of `cbResource` bytes.
    BOOL ExecuteDlgInit(const void* lpResource, DWORD cbResource);

    BOOL OnCmdMsg(UINT nID, int nCode) override;
    // Executes the initialisation data, then UpdateData(FALSE); TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();

  protected:
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    LPCSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

  private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    afx_msg LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

// ---------------------------------------------------------------------------------------------------------
// Controls, menus, painting

class CComboBox : public CWnd {
  public:
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int nSelect) {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect)));
    }
    int AddString(LPCSTR lpszString) {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszString)));
    }
    // Prefix searches without regard to case, from the item after `nStartAfter` (-1: the whole list).
    int SelectString(int nStartAfter, LPCSTR lpszString) {
        return static_cast<int>(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(nStartAfter),
                                            reinterpret_cast<LPARAM>(lpszString)));
    }
    int FindString(int nStartAfter, LPCSTR lpszString) const {
        return static_cast<int>(SendMessage(CB_FINDSTRING, static_cast<WPARAM>(nStartAfter),
                                            reinterpret_cast<LPARAM>(lpszString)));
    }
    int GetLBText(int nIndex, LPSTR lpszText) const {
        return static_cast<int>(
            SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(lpszText)));
    }
    // Empty when there is no item `nIndex`.
    void GetLBText(int nIndex, CString& rString) const;
    int GetLBTextLen(int nIndex) const {
        return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex)));
    }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
};

class CMenu {
  public:
    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    HMENU m_hMenu = nullptr;

    // A temporary object for `hMenu` that lives until the outermost modal dialog ends; NULL for NULL.
    static CMenu* FromHandle(HMENU hMenu);
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr) {
        return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
    UINT GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }
};

class CDC {
  public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC() = default;

    HDC m_hDC = nullptr;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
};

// BeginPaint for its life, EndPaint at its end.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

  private:
    HWND m_hWnd;
};

// ---------------------------------------------------------------------------------------------------------
// The application

class CWinApp : public CCmdTarget {
  public:
    // Without a name, the title of message boxes is the program's file name without its extension.
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    LPCSTR m_pszAppName;
    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd = nullptr;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // afx has no message loop of its own: an application whose InitInstance returns TRUE ends here.
    virtual int Run() { return ExitInstance(); }

    HICON LoadIcon(UINT nIDResource) const;
    HICON LoadIcon(LPCSTR lpszResourceName) const;

    // Wait cursor, counted: the first begin remembers the cursor that the last end puts back.
    void BeginWaitCursor() { DoWaitCursor(1); }
    void EndWaitCursor() { DoWaitCursor(-1); }
    // 1 begin, -1 end, 0 show the wait cursor again if one is on.
    virtual void DoWaitCursor(int nCode);

    BOOL Enable3dControls() { return TRUE; } // the system draws 3-D controls itself

    // Help as MFC gives it: an application routes ID_HELP to OnHelp, which asks WinHelp for the contents
    // of the application's help.
    afx_msg void OnHelp();
    // Shows the application's help. afx carries no help engine, so this says that help could not be
    // started, as MFC does when the engine cannot run; an application overrides it to show its help its
    // own way, or to say that it has none.
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);

    // The message box of AfxMessageBox: owned by the main window, with the application's title.
    virtual int DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT nIDPrompt);

  private:
    CString m_strAppName;
    int m_nWaitCursorCount = 0;
    HCURSOR m_hcurWaitCursorRestore = nullptr;

    DECLARE_MESSAGE_MAP()
};

// Shows the application's wait cursor for its life.
class CWaitCursor {
  public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    // Shows the wait cursor again, after something (a message box) changed the cursor.
    void Restore();
};

CWinApp* AFXAPI AfxGetApp();
HINSTANCE AFXAPI AfxGetInstanceHandle();
LPCSTR AFXAPI AfxGetAppName();
CWnd* AFXAPI AfxGetMainWnd();
void AFXAPI AfxEnableControlContainer();
int AFXAPI AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// The string-table text `nIDPrompt`.
int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
// The program's start on Windows (WinMain calls it): InitInstance, and ExitInstance when it returns FALSE.
int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
