// The installer's application object.
#pragma once

#include <afxwin.h>

class CSetupApp : public CWinApp {
  public:
    CSetupApp();

    BOOL InitInstance() override;
    // The kit has no help file: help asked for (ID_HELP) shows nothing.
    void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT) override;

    DECLARE_MESSAGE_MAP()
};

extern CSetupApp theApp;
