// The installer's application object.
#pragma once

#include <afxwin.h>

class CSetupApp : public CWinApp {
  public:
    CSetupApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CSetupApp theApp;
