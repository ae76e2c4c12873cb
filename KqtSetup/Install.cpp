// The install sequence: the handler of the install button. The NT family installs through the system's
// printer set-up entry and the NT media, naming the driver of the installer's own architecture; Windows 98/ME
// run the Chicago media's INF and then add driver, monitor, print processor and printer themselves. Both end
// by binding the printer to KQPRINT.
#include "SetupDlg.h"

#include "Folders.h"
#include "KitArchitecture.h"
#include "kit_names.h"
#include "register_9x.h"

#include <shellapi.h>
#include <winspool.h>

#include <memory>
#include <new>

namespace {

// Runs the system's rundll32 with `parameters` and waits for it. Its exit code, or -1 when it could not
// be started. The entries it runs return nothing, so on Windows it ends with 0 whatever they did: a failed
// install shows in the tail, where the printer is not there. The system's own copy is named by its full
// path: a bare name is looked for beside the program and in the current folder first, where a planted
// rundll32.exe would run with our rights.
LONG RunRundll32(HWND owner, const CString& parameters) {
    const CString program = SystemFolder() + "\\rundll32.exe";
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = owner;
    info.lpVerb = "open";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    LONG outcome = -1;
    if (ShellExecuteExA(&info) && reinterpret_cast<INT_PTR>(info.hInstApp) > 32) {
        if (info.hProcess) {
            WaitForSingleObject(info.hProcess, INFINITE);
            DWORD code = 0;
            if (GetExitCodeProcess(info.hProcess, &code)) {
                outcome = static_cast<LONG>(code);
            }
        }
    }
    if (info.hProcess) {
        CloseHandle(info.hProcess);
    }
    return outcome;
}

// A spooler call's result as the outcome: 0 for success; a failure that left no error still counts as one.
LONG Outcome(const kqkit::SpoolerCall& call) {
    if (call.ok) {
        return 0;
    }
    return call.error != 0 ? static_cast<LONG>(call.error) : -1;
}

} // namespace

void CSetupDlg::OnInstall() {
    UpdateData(TRUE);

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    const bool nt = version.dwPlatformId == VER_PLATFORM_WIN32_NT;

    const CString infPath = ProgramFolder() + (nt ? "\\NT\\KQT50.INF" : "\\Chicago\\KQT50.INF");
    {
        CFileFind finder;
        if (!finder.FindFile(infPath)) {
            AfxMessageBox(IDS_INF_NOT_FOUND, MB_OK);
            return;
        }
    }

    CString printerName;
    printerName.LoadString(IDS_PRINTER_NAME);

    const int selected = m_cbPort.GetCurSel();
    if (selected == CB_ERR) {
        AfxMessageBox(IDS_SELECT_PORT, MB_OK);
        m_cbPort.SetFocus();
        return;
    }
    CString port;
    m_cbPort.GetLBText(selected, port);

    BeginProgress();
    ProgressStep(IDS_STEP_PORT);
    WriteSerialSettings(port);

    LONG outcome = -1;
    if (nt) {
        CString parameters;
        parameters.Format("PRINTUI.DLL,PrintUIEntry /if /b \"%s\" /f \"%s\" /r \"%s\" /w %s /m \"%s\"",
                          static_cast<LPCSTR>(printerName), static_cast<LPCSTR>(infPath),
                          static_cast<LPCSTR>(port), kqsetup::kKit.printUiDriver,
                          static_cast<LPCSTR>(printerName));
        ProgressStep(IDS_STEP_COPYING);
        CWaitCursor wait;
        outcome = RunRundll32(m_hWnd, parameters);
    } else {
        CString parameters;
        parameters.Format("SETUPAPI.DLL,InstallHinfSection DefaultInstall 128 %s", static_cast<LPCSTR>(infPath));
        ProgressStep(IDS_STEP_COPYING);
        CWaitCursor wait;
        RunRundll32(m_hWnd, parameters); // the spooler calls below decide
        ProgressStep(IDS_STEP_COPYING);
        const kqkit::Registered9x registered =
            kqkit::Register9x(printerName, port, [](kqkit::Step9x step, const kqkit::SpoolerCall& call) {
                // A driver that cannot be added ends it; what the monitor and the print processor give is not
                // looked at, and the printer decides.
                return step != kqkit::Step9x::Driver || call.ok;
            });
        outcome = Outcome(registered.call);
    }

    if (outcome == 0 && SetPrinterProperties(printerName)) {
        ProgressStep(IDS_STEP_DONE);
        AfxMessageBox(IDS_INSTALL_OK, MB_OK);
        PostMessage(WM_COMMAND, IDOK, 0);
        return;
    }
    ProgressStep(IDS_STEP_FAILED);
    AfxMessageBox(IDS_SYSTEM_ERROR, MB_OK);
    PostMessage(WM_COMMAND, IDCANCEL, 0);
}

BOOL CSetupDlg::SetPrinterProperties(const CString& printerName) {
    ProgressStep(IDS_STEP_PROPERTIES);
    CString name = printerName;
    PRINTER_DEFAULTSA access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(name.GetBuffer(0), &printer, &access)) {
        AfxMessageBox(IDS_CANNOT_OPEN_PRINTER, MB_OK);
        return FALSE;
    }
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    const std::unique_ptr<BYTE[]> record(new (std::nothrow) BYTE[needed]);
    if (!record) {
        AfxMessageBox(IDS_OUT_OF_MEMORY, MB_OK);
        ClosePrinter(printer);
        return FALSE;
    }
    if (!GetPrinterA(printer, 2, record.get(), needed, &needed)) {
        ClosePrinter(printer);
        return FALSE;
    }
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(record.get());
    info->pPrintProcessor = const_cast<LPSTR>(kqkit::kProcessorName); // only read
    info->Attributes |= PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;
    const BOOL set = SetPrinterA(printer, 2, record.get(), 0);
    if (!set) {
        AfxMessageBox(IDS_SET_PROPERTIES_FAILED, MB_OK);
    }
    ClosePrinter(printer);
    return set;
}
