#include "KqtSetup.h"

#include "Folders.h"
#include "KitArchitecture.h"
#include "SetupDlg.h"

#include <shellapi.h>

namespace {

// Whether this program is a 32-bit one on 64-bit Windows. Windows 2000 has no IsWow64Process, and a program
// that imported it would not even load there: it is looked up, and without it Windows is 32-bit.
bool RunsUnderWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    if (!found) {
        return false;
    }
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(found));
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

// No name of its own: message boxes carry the program's file name.
CSetupApp::CSetupApp() = default;

BOOL CSetupApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();
    if (HandOverOn64BitWindows()) {
        return FALSE;
    }

    CSetupDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();

    // The dialog was the whole program: end without a message loop.
    return FALSE;
}

BOOL CSetupApp::HandOverOn64BitWindows() {
    // A 64-bit spooler cannot load the 32-bit kit, and the 32-bit installer would name the wrong environment.
    if (!kqsetup::kKit.is32Bit || !RunsUnderWow64()) {
        return FALSE;
    }
    // The 64-bit installer of the same kit folder, by its full path, as the system's programs are started.
    const CString folder = ProgramFolder();
    const CString setup64 = folder + "\\" + kqkit::kSetup64File;
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI; // a missing program is this installer's own message
    info.lpVerb = "open";
    info.lpFile = setup64;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || reinterpret_cast<INT_PTR>(info.hInstApp) <= 32) {
        AfxMessageBox(IDS_NO_64BIT_SETUP, MB_OK);
    }
    return TRUE;
}

void CSetupApp::WinHelp(DWORD_PTR, UINT) {}
