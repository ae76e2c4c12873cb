// The remove sequence: the handler of the remove button. Deletes the printers of the model, then the
// print processor and the monitor with their files, and, when every printer went, the spooler's registry
// keys of the driver, the print processor and the monitor. The NT family's keys are those of the
// environment of the installer's own architecture.
#include "SetupDlg.h"

#include "KitArchitecture.h"
#include "kit_names.h"

#include <winspool.h>

namespace {

// A key of the spooler and the subkey of the kit in it.
struct KitKey {
    CString key;
    const char* subkey;
};

// Deletes the print processor of `environment` and, when that worked, its file.
void RemovePrintProcessor(const char* environment) {
    CString env = environment;
    CString name = kqkit::kProcessorName;
    if (!DeletePrintProcessorA(nullptr, env.GetBuffer(0), name.GetBuffer(0))) {
        return;
    }
    char dir[1024] = {};
    DWORD needed = 0;
    if (GetPrintProcessorDirectoryA(nullptr, env.GetBuffer(0), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                    &needed)) {
        CString file;
        file.Format("%s\\%s", dir, kqkit::kProcessorFile);
        DeleteFileA(file);
    }
}

} // namespace

void CSetupDlg::OnRemove() {
    CWaitCursor wait;

    CStringArray printers;
    if (!FindInstalledPrinters(printers)) {
        return;
    }

    BeginProgress();
    ProgressStep(IDS_STEP_REMOVE_PRINTER);
    BOOL ok = TRUE;
    for (INT_PTR i = 0; i < printers.GetSize() && ok; ++i) {
        CString name = printers[i];
        PRINTER_DEFAULTSA access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE printer = nullptr;
        if (!OpenPrinterA(name.GetBuffer(0), &printer, &access)) {
            AfxMessageBox(IDS_CANNOT_OPEN_PRINTER, MB_OK);
            ok = FALSE;
            break;
        }
        ok = DeletePrinter(printer);
        if (!ok) {
            AfxMessageBox(IDS_CANNOT_REMOVE, MB_OK);
        }
        ClosePrinter(printer);
    }

    // Whatever the printers gave, the print processor and the monitor go.
    ProgressStep(IDS_STEP_REMOVE_PROCESSOR);
    RemovePrintProcessor(kqsetup::kKit.environment);
    RemovePrintProcessor(kqkit::kEnvironment9x); // where the Windows 98/ME install put it

    ProgressStep(IDS_STEP_REMOVE_MONITOR);
    CString monitor = kqkit::kMonitorName;
    if (DeleteMonitorA(nullptr, nullptr, monitor.GetBuffer(0))) {
        char dir[1024] = {};
        if (GetSystemDirectoryA(dir, sizeof(dir)) != 0) {
            CString file;
            file.Format("%s\\%s", dir, kqkit::kMonitorFile);
            DeleteFileA(file);
        }
    }

    if (ok) {
        // In this order; a key that cannot be opened ends the clean-up. The print processors of an
        // environment live in "<environment>\Print Processors" (not below its Drivers). The Windows 98/ME
        // install registers its driver for "Windows 4.0", which the last key removes.
        const CString environments = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\";
        const KitKey kitKeys[] = {
            {environments + kqsetup::kKit.environment + "\\Drivers\\Version-3", kqkit::kPrinterName},
            {environments + kqsetup::kKit.environment + "\\Print Processors", kqkit::kProcessorName},
            {"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", kqkit::kMonitorName},
            {environments + kqkit::kEnvironment9x + "\\Drivers\\Version-0", kqkit::kPrinterName},
        };
        for (const KitKey& kit : kitKeys) {
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kit.key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            RegDeleteKeyA(key, kit.subkey);
            RegCloseKey(key);
        }
        ProgressStep(IDS_STEP_REMOVED);
        AfxMessageBox(IDS_REMOVE_OK, MB_OK);
    } else {
        ProgressStep(IDS_STEP_FAILED);
        AfxMessageBox(IDS_CANNOT_REMOVE, MB_OK);
    }
    PostMessage(WM_COMMAND, IDOK, 0);
}
