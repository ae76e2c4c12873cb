// The remove sequence: the handler of the remove button. Deletes the printers of the model, then the
// print processor and the monitor with their files, and, when every printer went, the spooler's registry
// keys of the driver, the print processor and the monitor.
#include "SetupDlg.h"

#include <winspool.h>

namespace {

char kProcessorName[] = "KQPRINT";
char kMonitorName[] = "ZIDERIVAR";


// A key of the spooler and the subkey of the kit in it.
struct KitKey {
    const char* key;
    const char* subkey;
};

// In this order; a key that cannot be opened ends the clean-up. The print processors of an environment
// live in "<environment>\Print Processors" (not below its Drivers). The Windows 98/ME install registers
// its driver for "Windows 4.0", which the last key removes.
const KitKey kKitKeys[] = {
    {"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-3", "KQT-50 Receipt"},
    {"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors", "KQPRINT"},
    {"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", "ZIDERIVAR"},
    {"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Version-0", "KQT-50 Receipt"},
};

// Deletes the print processor of `environment` and, when that worked, its file.
void RemovePrintProcessor(const char* environment) {
    CString env = environment;
    if (!DeletePrintProcessorA(nullptr, env.GetBuffer(0), kProcessorName)) {
        return;
    }
    char dir[1024] = {};
    DWORD needed = 0;
    if (GetPrintProcessorDirectoryA(nullptr, env.GetBuffer(0), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                    &needed)) {
        CString file;
        file.Format("%s\\KQPRINT.DLL", dir);
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
    RemovePrintProcessor("Windows NT x86");
    RemovePrintProcessor("Windows 4.0"); // where the Windows 98/ME install put it

    ProgressStep(IDS_STEP_REMOVE_MONITOR);
    if (DeleteMonitorA(nullptr, nullptr, kMonitorName)) {
        char dir[1024] = {};
        if (GetSystemDirectoryA(dir, sizeof(dir)) != 0) {
            CString file;
            file.Format("%s\\KQMON.DLL", dir);
            DeleteFileA(file);
        }
    }

    if (ok) {
        for (const KitKey& kit : kKitKeys) {
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
