#include "KqtSetup.h"

#include "SetupDlg.h"

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

// No name of its own: message boxes carry the program's file name.
CSetupApp::CSetupApp() = default;

BOOL CSetupApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();

    CSetupDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();

    // The dialog was the whole program: end without a message loop.
    return FALSE;
}

void CSetupApp::WinHelp(DWORD_PTR, UINT) {}
