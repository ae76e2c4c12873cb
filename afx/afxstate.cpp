#include "afxstate.h"

AfxModuleState& AfxGetModuleState() {
    static AfxModuleState state;
    return state;
}

AfxThreadState& AfxGetThreadState() {
    thread_local AfxThreadState state;
    return state;
}

AfxThreadState::~AfxThreadState() {
    // Objects still attached outlive the thread's maps: they must not look for them on their way out.
    for (auto& [hWnd, attachment] : permanentWnds) {
        attachment.pWnd->m_hWnd = nullptr;
    }
    permanentWnds.clear();
    DeleteTemporaryObjects();
}

void AfxThreadState::Attach(HWND hWnd, CWnd* pWnd, HWND hWndOwner) {
    pWnd->m_hWnd = hWnd;
    permanentWnds[hWnd] = Attachment{pWnd, hWndOwner};
}

void AfxThreadState::Detach(HWND hWnd) {
    const auto found = permanentWnds.find(hWnd);
    if (found != permanentWnds.end()) {
        found->second.pWnd->m_hWnd = nullptr;
        permanentWnds.erase(found);
    }
}

void AfxThreadState::DetachDialog(HWND hWndDlg) {
    for (auto it = permanentWnds.begin(); it != permanentWnds.end();) {
        if (it->first == hWndDlg || it->second.hWndOwner == hWndDlg) {
            it->second.pWnd->m_hWnd = nullptr;
            it = permanentWnds.erase(it);
        } else {
            ++it;
        }
    }
}

void AfxThreadState::DeleteTemporaryObjects() {
    // A temporary CWnd is attached to nothing: clear its handle so that its destructor leaves the maps alone.
    for (auto& [hWnd, pWnd] : temporaryWnds) {
        pWnd->m_hWnd = nullptr;
    }
    temporaryWnds.clear();
    temporaryMenus.clear();
}
