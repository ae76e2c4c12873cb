// Prints a job file through Wine's own spooler with KQPRINT as the printer's print processor.
//
//   wine_spool_test <KQPRINT.DLL> <job file> <output file>
//
// Installs the DLL as print processor "KQPRINT" for "Windows x64", makes a printer whose port is the
// output file (deleted first), prints the job as a RAW document and writes the printer's vertical
// resolution as "LOGPIXELSY <n>" on standard output. Exit status 0 when every step succeeded.
// Wine's spooler runs the print processor inside this process, at EndDocPrinter.
//
// Wine opens the print processor with "<port>, Port" as the printer name ("FILE:, Port" for a port
// that is a file path) and the printer's own name only in the open data; the processor must make its
// device context for the latter, as only a printer has one.
#include <windows.h>
#include <winspool.h>

#include "wine_driver.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kPrinterName[] = L"KQT-50 Receipt";
const wchar_t kDriverName[] = L"KQT-50 Wine Test";
const wchar_t kEnvironment[] = L"Windows x64";
const wchar_t kProcessorName[] = L"KQPRINT";
const wchar_t kProcessorFile[] = L"KQPRINT.DLL";

int Fail(const char* what) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "wine_spool_test: %s failed, error %lu\n", what, static_cast<unsigned long>(error));
    return 1;
}

using kqwine::Text;

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>* data) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    BYTE chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        data->insert(data->end(), chunk, chunk + got);
    }
    CloseHandle(file);
    return ok;
}

int InstallProcessor(const std::wstring& dllPath) {
    Text environment(kEnvironment);
    DWORD needed = 0;
    GetPrintProcessorDirectoryW(nullptr, environment.get(), 1, nullptr, 0, &needed);
    std::vector<BYTE> dirBuffer(needed + sizeof(wchar_t));
    if (needed == 0 || !GetPrintProcessorDirectoryW(nullptr, environment.get(), 1, dirBuffer.data(),
                                                    static_cast<DWORD>(dirBuffer.size()), &needed)) {
        return Fail("GetPrintProcessorDirectoryW");
    }
    const std::wstring dir(reinterpret_cast<const wchar_t*>(dirBuffer.data()));
    // The folder may not exist yet in a new prefix: make each level.
    for (size_t at = dir.find(L'\\', 3); at != std::wstring::npos; at = dir.find(L'\\', at + 1)) {
        CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring target = dir + L"\\" + kProcessorFile;
    if (!CopyFileW(dllPath.c_str(), target.c_str(), FALSE)) {
        return Fail("CopyFileW of the print processor");
    }
    Text file(kProcessorFile);
    Text name(kProcessorName);
    if (!AddPrintProcessorW(nullptr, environment.get(), file.get(), name.get()) &&
        GetLastError() != ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED) {
        return Fail("AddPrintProcessorW");
    }
    return 0;
}

int AddTestPrinter(const std::wstring& name, const std::wstring& port) {
    Text printerName(name);
    // A printer left from an earlier run in the same prefix would keep its old port.
    HANDLE old = nullptr;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(printerName.get(), &old, &all)) {
        DeletePrinter(old);
        ClosePrinter(old);
    }
    Text portName(port);
    Text driverName(kDriverName);
    Text processor(kProcessorName);
    Text raw(L"RAW");
    PRINTER_INFO_2W info{};
    info.pPrinterName = printerName.get();
    info.pPortName = portName.get();
    info.pDriverName = driverName.get();
    info.pPrintProcessor = processor.get();
    info.pDatatype = raw.get();
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    const HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!printer) {
        return Fail("AddPrinterW");
    }
    ClosePrinter(printer);
    return 0;
}

int InstallPrinters(const std::wstring& port) {
    if (!kqwine::AddWineDriver(kDriverName)) {
        return Fail("AddPrinterDriverW");
    }
    return AddTestPrinter(kPrinterName, port);
}

int PrintJob(const std::vector<BYTE>& data, const std::wstring& docName) {
    Text printerName(kPrinterName);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(printerName.get(), &printer, nullptr)) {
        return Fail("OpenPrinterW");
    }
    Text doc(docName);
    Text raw(L"RAW");
    DOC_INFO_1W info{doc.get(), nullptr, raw.get()};
    if (!StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info))) {
        const int status = Fail("StartDocPrinterW");
        ClosePrinter(printer);
        return status;
    }
    for (size_t at = 0; at < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - at, 65536));
        DWORD written = 0;
        if (!WritePrinter(printer, const_cast<BYTE*>(data.data() + at), chunk, &written) || written != chunk) {
            const int status = Fail("WritePrinter");
            EndDocPrinter(printer);
            ClosePrinter(printer);
            return status;
        }
        at += chunk;
    }
    if (!EndDocPrinter(printer)) {
        const int status = Fail("EndDocPrinter");
        ClosePrinter(printer);
        return status;
    }
    ClosePrinter(printer);
    return 0;
}

bool VerticalDpi(const wchar_t* device, int* dpi) {
    const HDC dc = CreateDCW(L"", device, L"", nullptr);
    if (!dc) {
        return false;
    }
    *dpi = GetDeviceCaps(dc, LOGPIXELSY);
    DeleteDC(dc);
    return true;
}

// What the print processor learns from CreateDCW: the printer's resolution.
int ReportVerticalDpi() {
    int dpi = 0;
    if (!VerticalDpi(kPrinterName, &dpi)) {
        return Fail("CreateDCW on the printer");
    }
    std::printf("LOGPIXELSY %d\n", dpi);
    std::fflush(stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: wine_spool_test <KQPRINT.DLL> <job file> <output file>\n");
        return 2;
    }
    const std::wstring dll = argv[1];
    const std::wstring jobFile = argv[2];
    const std::wstring output = argv[3];

    std::vector<BYTE> job;
    if (!ReadFileBytes(jobFile, &job)) {
        return Fail("reading the job file");
    }
    // The port appends to its file.
    if (!DeleteFileW(output.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Fail("DeleteFileW of the output file");
    }
    if (int status = InstallProcessor(dll)) {
        return status;
    }
    if (int status = InstallPrinters(output)) {
        return status;
    }
    if (int status = ReportVerticalDpi()) {
        return status;
    }
    const size_t slash = jobFile.find_last_of(L"\\/");
    const std::wstring docName = slash == std::wstring::npos ? jobFile : jobFile.substr(slash + 1);
    if (int status = PrintJob(job, docName)) {
        return status;
    }
    if (GetFileAttributesW(output.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "wine_spool_test: the port wrote no output file\n");
        return 1;
    }
    return 0;
}
