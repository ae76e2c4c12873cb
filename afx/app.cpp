// CWinApp, the wait cursor, message boxes and the Afx functions.
#include "afxstate.h"

namespace {

// The program's file name without folder and extension.
CString ModuleTitle() {
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    // Walk by characters: a trail byte may equal a separator in some code pages.
    LPCSTR name = path;
    LPCSTR dot = nullptr;
    for (LPCSTR p = path; *p; p = ::CharNextA(p)) {
        if (*p == '\\' || *p == '/') {
            name = p + 1;
            dot = nullptr;
        } else if (*p == '.') {
            dot = p;
        }
    }
    return dot && dot > name ? CString(name, static_cast<int>(dot - name)) : CString(name);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// CWinApp

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pszAppName(nullptr), m_hInstance(::GetModuleHandleA(nullptr)),
      m_strAppName(lpszAppName ? CString(lpszAppName) : ModuleTitle()) {
    m_pszAppName = m_strAppName;
    AfxGetModuleState().pApp = this;
}

CWinApp::~CWinApp() {
    AfxModuleState& state = AfxGetModuleState();
    if (state.pApp == this) {
        state.pApp = nullptr;
    }
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return LoadIcon(MAKEINTRESOURCEA(nIDResource));
}

HICON CWinApp::LoadIcon(LPCSTR lpszResourceName) const {
    return ::LoadIconA(AfxGetResourceHandle(), lpszResourceName);
}

void CWinApp::DoWaitCursor(int nCode) {
    m_nWaitCursorCount += nCode;
    if (m_nWaitCursorCount > 0) {
        const HCURSOR previous = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        if (nCode > 0 && m_nWaitCursorCount == 1) {
            m_hcurWaitCursorRestore = previous;
        }
    } else {
        m_nWaitCursorCount = 0; // an end too many changes nothing
        ::SetCursor(m_hcurWaitCursorRestore);
    }
}

int CWinApp::DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT) {
    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    const HWND owner = m_pMainWnd && ::IsWindow(m_pMainWnd->m_hWnd) ? m_pMainWnd->m_hWnd : nullptr;
    return ::MessageBoxA(owner, lpszPrompt, m_pszAppName, nType);
}

void CWinApp::OnHelp() {
    WinHelp(0, HELP_CONTENTS);
}

void CWinApp::WinHelp(DWORD_PTR, UINT) {
    AfxMessageBox("Help could not be started.", MB_OK | MB_ICONEXCLAMATION);
}

CWaitCursor::CWaitCursor() {
    AfxGetApp()->BeginWaitCursor();
}

CWaitCursor::~CWaitCursor() {
    AfxGetApp()->EndWaitCursor();
}

void CWaitCursor::Restore() {
    AfxGetApp()->DoWaitCursor(0);
}

// ---------------------------------------------------------------------------------------------------------
// Afx functions

CWinApp* AFXAPI AfxGetApp() {
    return AfxGetModuleState().pApp;
}

HINSTANCE AFXAPI AfxGetInstanceHandle() {
    const CWinApp* app = AfxGetApp();
    return app ? app->m_hInstance : ::GetModuleHandleA(nullptr);
}

HINSTANCE AFXAPI AfxGetResourceHandle() {
    return AfxGetInstanceHandle();
}

LPCSTR AFXAPI AfxGetAppName() {
    const CWinApp* app = AfxGetApp();
    return app ? app->m_pszAppName : nullptr;
}

CWnd* AFXAPI AfxGetMainWnd() {
    const CWinApp* app = AfxGetApp();
    return app ? app->m_pMainWnd : nullptr;
}

void AFXAPI AfxEnableControlContainer() {} // no ActiveX controls here

int AFXAPI AfxMessageBox(LPCSTR lpszText, UINT nType, UINT nIDHelp) {
    if (CWinApp* app = AfxGetApp()) {
        return app->DoMessageBox(lpszText, nType, nIDHelp);
    }
    const CString title = ModuleTitle();
    return ::MessageBoxA(nullptr, lpszText, title, nType);
}

int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    CString text;
    text.LoadString(nIDPrompt);
    return AfxMessageBox(text, nType, nIDHelp == static_cast<UINT>(-1) ? nIDPrompt : nIDHelp);
}

int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app) {
        return -1;
    }
    app->m_hInstance = hInstance;
    if (!app->InitInstance()) {
        return app->ExitInstance();
    }
    return app->Run();
}
