// CDialog: a modal dialog over DialogBoxParamA whose dialog procedure dispatches through the message map.
#include "afxcmn.h"
#include "afxstate.h"

#include <cstring>
#include <string>

namespace {

// RT_DLGINIT, and the Win16 message numbers that resource compilers still write into it.
const WORD kDlgInitType = 240;
const WORD kWin16ListBoxAddString = 0x0401;
const WORD kWin16ComboBoxAddString = 0x0403;

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return true;
    default:
        return false;
    }
}

// The message being handled, for CWnd::Default, for the length of one dispatch.
class CurrentMessage {
  public:
    CurrentMessage(AfxThreadState& state, const AfxMessage& message) : state_(state), saved_(state.current) {
        state_.current = message;
    }
    ~CurrentMessage() { state_.current = saved_; }
    CurrentMessage(const CurrentMessage&) = delete;
    CurrentMessage& operator=(const CurrentMessage&) = delete;

  private:
    AfxThreadState& state_;
    const AfxMessage saved_;
};

// The message that CDialog::DefWindowProc hands to DefDlgProc, which the dialog procedure must decline once
// when DefDlgProc asks it first, for the length of that call; the one of an outer call comes back after it.
class DeclineOnce {
  public:
    DeclineOnce(AfxThreadState& state, const AfxMessage& message)
        : state_(state), saved_(state.declineOnce), savedArmed_(state.declineArmed) {
        state_.declineOnce = message;
        state_.declineArmed = true;
    }
    ~DeclineOnce() {
        state_.declineOnce = saved_;
        state_.declineArmed = savedArmed_;
    }
    DeclineOnce(const DeclineOnce&) = delete;
    DeclineOnce& operator=(const DeclineOnce&) = delete;

  private:
    AfxThreadState& state_;
    const AfxMessage saved_;
    const bool savedArmed_;
};

class ModalScope {
  public:
    explicit ModalScope(AfxThreadState& state) : state_(state) { ++state_.modalDepth; }
    ~ModalScope() {
        if (--state_.modalDepth == 0) {
            state_.DeleteTemporaryObjects();
        }
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    AfxThreadState& state_;
};

WORD ReadWord(const BYTE* p) {
    WORD value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

DWORD ReadDword(const BYTE* p) {
    DWORD value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

} // namespace

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    AfxThreadState& state = AfxGetThreadState();
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        if (dialog && !dialog->m_hWnd) {
            state.Attach(hWnd, dialog, hWnd);
        }
    }
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd) {
        return FALSE; // messages before WM_INITDIALOG
    }
    if (state.declineArmed && state.declineOnce.hWnd == hWnd && state.declineOnce.message == message) {
        state.declineArmed = false;
        return FALSE;
    }
    LRESULT result = 0;
    BOOL handled;
    {
        const CurrentMessage current(state, AfxMessage{hWnd, message, wParam, lParam});
        handled = wnd->OnWndMsg(message, wParam, lParam, &result);
    }
    if (message == WM_NCDESTROY) {
        state.DetachDialog(hWnd);
    }
    if (!handled) {
        return FALSE;
    }
    if (ReturnsResultDirectly(message)) {
        return static_cast<INT_PTR>(result);
    }
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    // The dialog's controls may be common controls: their window classes must exist first.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        if (CWnd* main = AfxGetMainWnd(); main && main != this) {
            owner = main->m_hWnd;
        }
    }
    AfxThreadState& state = AfxGetThreadState();
    const ModalScope modal(state);
    const INT_PTR result = ::DialogBoxParamA(AfxGetResourceHandle(), m_lpszTemplateName, owner, AfxDlgProc,
                                             reinterpret_cast<LPARAM>(this));
    if (m_hWnd) {
        state.DetachDialog(m_hWnd);
    }
    return result;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    if (!ExecuteDlgInit(m_lpszTemplateName)) {
        EndDialog(-1);
        return FALSE;
    }
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode) {
    if (CWnd::OnCmdMsg(nID, nCode)) {
        return TRUE;
    }
    // A command that the dialog does not take goes to the application; system commands and control
    // notifications do not.
    if (nCode != CN_COMMAND || nID >= 0xF000) {
        return FALSE;
    }
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(nID, nCode);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const DeclineOnce decline(AfxGetThreadState(), AfxMessage{m_hWnd, message, wParam, lParam});
    return ::DefDlgProcA(m_hWnd, message, wParam, lParam);
}

BOOL CDialog::ExecuteDlgInit(LPCSTR lpszResourceName) {
    const HINSTANCE module = AfxGetResourceHandle();
    const HRSRC found = ::FindResourceA(module, lpszResourceName, MAKEINTRESOURCEA(kDlgInitType));
    if (!found) {
        return TRUE;
    }
    const HGLOBAL loaded = ::LoadResource(module, found);
    const auto* data = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
    const DWORD size = ::SizeofResource(module, found);
    return data ? ExecuteDlgInit(data, size) : TRUE;
}

BOOL CDialog::ExecuteDlgInit(const void* lpResource, DWORD cbResource) {
    const auto* data = static_cast<const BYTE*>(lpResource);
    const DWORD size = data ? cbResource : 0;
    // Items follow each other unaligned: control id, message, byte count, the bytes; a zero id ends them.
    BOOL ok = TRUE;
    DWORD at = 0;
    while (size - at >= sizeof(WORD)) {
        const WORD id = ReadWord(data + at);
        if (id == 0) {
            break;
        }
        if (size - at < 8) {
            return FALSE;
        }
        const WORD win16Message = ReadWord(data + at + 2);
        const DWORD length = ReadDword(data + at + 4);
        at += 8;
        if (length > size - at) {
            return FALSE;
        }
        // The text with its zero, made safe against data that lacks the zero.
        const auto* bytes = reinterpret_cast<const char*>(data + at);
        const std::string text(bytes, strnlen(bytes, length));
        at += length;

        UINT message = win16Message;
        if (win16Message == kWin16ComboBoxAddString) {
            message = CB_ADDSTRING;
        } else if (win16Message == kWin16ListBoxAddString) {
            message = LB_ADDSTRING;
        }
        if (message != CB_ADDSTRING && message != LB_ADDSTRING) {
            continue; // other controls' data (OLE controls) means nothing here
        }
        const LRESULT added =
            ::SendDlgItemMessageA(m_hWnd, id, message, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (added == CB_ERR || added == CB_ERRSPACE) {
            ok = FALSE;
        }
    }
    return ok;
}
