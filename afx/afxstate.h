// The framework's global state, all of it: the application of the process, and per thread the handle maps
// and the message being handled. Private to afx.
#pragma once

#include "afxwin.h"

#include <memory>
#include <unordered_map>

struct AfxModuleState {
    CWinApp* pApp = nullptr;
};
AfxModuleState& AfxGetModuleState();

struct AfxMessage {
    HWND hWnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct AfxThreadState {
    AfxThreadState() = default;
    AfxThreadState(const AfxThreadState&) = delete;
    AfxThreadState& operator=(const AfxThreadState&) = delete;
    ~AfxThreadState();

    struct Attachment {
        CWnd* pWnd;
        HWND hWndOwner; // the dialog whose end detaches it (itself for a dialog)
    };
    std::unordered_map<HWND, Attachment> permanentWnds;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporaryWnds;
    std::unordered_map<HMENU, std::unique_ptr<CMenu>> temporaryMenus;

    // What the dialog procedure is handling now, for CWnd::Default.
    AfxMessage current;
    // A message that CDialog::DefWindowProc hands to DefDlgProc: DefDlgProc asks the dialog procedure first,
    // which must then decline it once instead of dispatching it again.
    AfxMessage declineOnce;
    bool declineArmed = false;

    int modalDepth = 0;

    void Attach(HWND hWnd, CWnd* pWnd, HWND hWndOwner);
    void Detach(HWND hWnd);
    // Detaches the dialog `hWndDlg` and every control attached to it.
    void DetachDialog(HWND hWndDlg);
    void DeleteTemporaryObjects();
};
AfxThreadState& AfxGetThreadState();
