// The installer's application object.
#pragma once

#include <afxwin.h>

class CSetupApp : public CWinApp {
  public:
    CSetupApp();

    BOOL InitInstance() override;
    // On 64-bit Windows the 32-bit installer installs nothing itself: it starts the kit's 64-bit installer,
    // or says that it cannot. TRUE when it did either; FALSE for the 64-bit installer and on 32-bit Windows.
    BOOL HandOverOn64BitWindows();
    // The kit has no help file: help asked for (ID_HELP) shows nothing.
    void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT) override;

    DECLARE_MESSAGE_MAP()
};

extern CSetupApp theApp;
