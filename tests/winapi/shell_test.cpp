// The stand-in's shell and rundll32: how ShellExecuteExA finds and runs a program, and the installs that the
// installer starts through rundll32 (PrintUIEntry from the NT INF, InstallHinfSection from the Chicago INF),
// with the spooler and registry calls of the installer's remove sequence after them. The entries return
// nothing and rundll32 exits with 0 whatever they did: what failed is seen by calling the entry itself, as a
// program that loads the DLL would, and reading its last error.
#include "kqmon.h"
#include "machine.h"

#include <setupapi.h>
#include <shellapi.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace kqtest {
namespace {

constexpr char kSetupDir[] = "C:\\KQT50";
constexpr char kPrinter[] = "KQT-50 Receipt";
constexpr char kDriversKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-3";
constexpr char kDriverDir[] = "C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86\\3";

std::string NtParameters(const std::string& model = kPrinter, const std::string& port = "COM1:",
                         const std::string& driver = "/v \"Windows 2000 or XP\"") {
    return std::string("PRINTUI.DLL,PrintUIEntry /if /b \"") + kPrinter + "\" /f \"" + kSetupDir +
           "\\NT\\KQT50.INF\" /r \"" + port + "\" /w " + driver + " /m \"" + model + "\"";
}

// The 64-bit driver's options, as Microsoft's PrintUIEntry reference names them.
constexpr char kX64Driver[] = "/h \"x64\" /v \"Type 3 - User Mode\"";

} // namespace
} // namespace kqtest

// PRINTUI.DLL's entry, as it exports it (no SDK header declares it).
extern "C" void WINAPI PrintUIEntryW(HWND window, HINSTANCE module, LPCWSTR commandLine, INT show);

namespace kqtest {
namespace {

// Calls the entry that a rundll32 command line ("DLL,Entry arguments") names, as rundll32 calls it, and gives
// the last error it left: 0 when it did its work.
DWORD CallEntry(const std::string& parameters) {
    const std::string tail = parameters.substr(parameters.find(',') + 1);
    const size_t blank = tail.find(' ');
    const std::string entry = tail.substr(0, blank);
    const std::string arguments = blank == std::string::npos ? std::string() : tail.substr(blank + 1);
    SetLastError(0xDEAD);
    if (entry.find("PrintUIEntry") != std::string::npos) {
        std::u16string wide(arguments.size() + 1, u'\0');
        wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, arguments.c_str(), -1, wide.data(),
                                                            static_cast<int>(wide.size()))));
        PrintUIEntryW(nullptr, nullptr, wide.c_str(), SW_SHOWNORMAL);
    } else if (entry.find("InstallHinfSection") != std::string::npos) {
        InstallHinfSectionA(nullptr, nullptr, arguments.c_str(), SW_SHOWNORMAL);
    } else {
        ADD_FAILURE() << "no entry in " << parameters;
    }
    return GetLastError();
}

struct Started {
    BOOL started = FALSE;
    DWORD error = 0;
    uintptr_t instance = 0;
    DWORD exitCode = 0;
};

// Starts a program as the installer does and waits for it.
Started Start(const char* file, const std::string& parameters, const char* directory = nullptr) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.lpVerb = "open";
    info.lpFile = file;
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directory;
    info.nShow = 1;
    Started r;
    SetLastError(0xDEAD);
    r.started = ShellExecuteExA(&info);
    r.error = GetLastError();
    r.instance = reinterpret_cast<uintptr_t>(info.hInstApp);
    if (r.started) {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &r.exitCode));
        EXPECT_TRUE(CloseHandle(info.hProcess));
        EXPECT_FALSE(GetExitCodeProcess(info.hProcess, &r.exitCode)) << "a closed process handle is gone";
    }
    return r;
}

void PutFile(const std::string& windowsPath, const std::string& text) {
    const std::string host = control::HostPath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::ofstream(host, std::ios::binary) << text;
}

std::string ReadText(const std::string& windowsPath) {
    const Bytes b = FileBytes(control::HostPath(windowsPath));
    return std::string(b.begin(), b.end());
}

bool FileExists(const std::string& windowsPath) {
    return GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ShellTest : public MachineTest {
  protected:
    // The setup folder as the build lays it out: the media beside the program, the built libraries as the
    // DLLs that the INFs name.
    void StageSetup() { StageKit(kSetupDir); }

    // A fresh machine of its own for each case of a table.
    void FreshMachine(const std::string& name) {
        control::ResetMachine(Root() + "/" + name);
        control::RecordWrites(true);
        ASSERT_NO_FATAL_FAILURE(StageSetup());
    }

    DWORD InstallNt() { return Start("rundll32.exe", NtParameters()).exitCode; }
};

TEST_F(ShellTest, ABareNameIsSearchedAsWindowsSearchesIt) {
    char cwd[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryA(sizeof(cwd), cwd), std::strlen(kSetupDir));
    EXPECT_STREQ(cwd, kSetupDir) << "the current directory starts as the program's folder";
    const std::string system = "C:\\WINDOWS\\SYSTEM32\\rundll32.exe";
    // The machine's rundll32 runs the command line and shows that it has no such DLL; a program planted
    // elsewhere "runs" and shows nothing. Both exit with 0.
    struct Case {
        const char* what;
        std::vector<std::string> planted;
        const char* file;
        const char* directory;
        std::string found;
        bool systemRundll32;
    };
    const std::vector<Case> cases = {
        {"nothing planted", {}, "rundll32.exe", nullptr, system, true},
        {"no extension", {}, "rundll32", nullptr, system, true},
        {"beside the program", {"C:\\KQT50\\rundll32.exe"}, "rundll32.exe", nullptr, "C:\\KQT50\\rundll32.exe", false},
        {"in the current directory", {"C:\\WORK\\rundll32.exe"}, "rundll32.exe", nullptr, "C:\\WORK\\rundll32.exe",
         false},
        {"the program's folder before the current directory",
         {"C:\\WORK\\rundll32.exe", "C:\\KQT50\\rundll32.exe"}, "rundll32.exe", nullptr, "C:\\KQT50\\rundll32.exe",
         false},
        {"the given directory before the system", {"C:\\TOOLS\\rundll32.exe"}, "rundll32.exe", "C:\\TOOLS",
         "C:\\TOOLS\\rundll32.exe", false},
        {"in the Windows directory", {"C:\\WINDOWS\\other.exe"}, "other.exe", nullptr, "C:\\WINDOWS\\other.exe", false},
        {"the system's own by its full path", {"C:\\KQT50\\rundll32.exe"}, "c:\\windows\\system32\\RUNDLL32.EXE",
         nullptr, "c:\\windows\\system32\\RUNDLL32.EXE", true},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine("search" + std::to_string(i)));
        ASSERT_TRUE(CreateDirectoryA("C:\\WORK", nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA("..\\WORK"));
        for (const std::string& p : c.planted) {
            PutFile(p, "a program");
        }
        control::ClearMessageBoxes();
        const Started r = Start(c.file, "NOSUCH.DLL,Entry", c.directory);
        ASSERT_TRUE(r.started);
        EXPECT_GT(r.instance, 32u);
        EXPECT_EQ(r.exitCode, 0u);
        const auto boxes = control::MessageBoxes();
        ASSERT_EQ(boxes.size(), c.systemRundll32 ? 1u : 0u);
        if (c.systemRundll32) {
            EXPECT_EQ(boxes[0].caption, "RunDLL");
            EXPECT_NE(boxes[0].text.find("NOSUCH.DLL"), std::string::npos) << boxes[0].text;
        }
        const auto starts = control::ProcessStarts();
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].file, c.found);
        EXPECT_EQ(starts[0].parameters, "NOSUCH.DLL,Entry");
        EXPECT_EQ(starts[0].verb, "open");
        EXPECT_EQ(starts[0].show, 1);
        EXPECT_EQ(starts[0].mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT));
    }

    // Nothing to start, a start that breaks, a record of the wrong size, a rundll32 told how to end.
    ASSERT_NO_FATAL_FAILURE(FreshMachine("failures"));
    ASSERT_TRUE(DeleteFileA(system.c_str()));
    Started r = Start("rundll32.exe", "x");
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(r.instance, static_cast<uintptr_t>(SE_ERR_FNF));
    ASSERT_NO_FATAL_FAILURE(FreshMachine("fault"));
    control::InjectFault({control::Op::ShellExecuteEx, 1});
    r = Start("rundll32.exe", NtParameters());
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.error, 0u) << "a fault without an error fails with last error 0";
    SHELLEXECUTEINFOA small{};
    small.cbSize = sizeof(small) - 4;
    small.lpFile = "rundll32.exe";
    EXPECT_FALSE(ShellExecuteExA(&small));
    control::ForceNextRundll32Exit(1603);
    EXPECT_EQ(InstallNt(), 1603u);
    HANDLE printer = nullptr;
    EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kPrinter), &printer, nullptr)) << "the INF was not touched";
    ASSERT_FALSE(control::ProcessStarts().empty());
    EXPECT_EQ(control::ProcessStarts().back().exitCode, 1603u);
}

// PrintUIEntry installs the NT INF into a printer that prints through KQPRINT and the monitor, with every file
// where Windows keeps it; the remove sequence's calls then undo it.
TEST_F(ShellTest, PrintUIEntryInstallsTheNtInfIntoAWorkingPrinter) {
    ASSERT_NO_FATAL_FAILURE(StageSetup());
    ASSERT_EQ(InstallNt(), 0u);

    const std::string driver = std::string(kDriversKey) + "\\" + kPrinter;
    const std::vector<std::pair<const char*, std::string>> values = {
        {"Driver", "UNIDRV.DLL"},         {"Configuration File", "UNIDRVUI.DLL"}, {"Data File", "KQT50.GPD"},
        {"Help File", "UNIDRV.HLP"},      {"Dependent Files", "UNIRES.DLL|STDNAMES.GPD"},
        {"Monitor", "ZIDERIVAR"},         {"Datatype", "RAW"},                    {"Version", "3"},
    };
    for (const auto& [name, value] : values) {
        EXPECT_EQ(RegValue(driver, name), value) << name;
    }
    EXPECT_EQ(ReadText(std::string(kDriverDir) + "\\KQT50.GPD"), ReadText("C:\\KQT50\\NT\\KQT50.GPD"));
    for (const char* f : {"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL", "STDNAMES.GPD"}) {
        EXPECT_TRUE(FileExists(std::string(kDriverDir) + "\\" + f)) << f;
        EXPECT_FALSE(FileExists(std::string("C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86\\") + f))
            << f << " is moved into the version folder";
    }
    const std::string processorFile = "C:\\WINDOWS\\System32\\spool\\PRTPROCS\\W32X86\\KQPRINT.DLL";
    EXPECT_EQ(FileBytes(control::HostPath(processorFile)),
              FileBytes(control::HostPath("C:\\KQT50\\NT\\i386\\KQPRINT.DLL")));
    EXPECT_TRUE(FileExists("C:\\WINDOWS\\SYSTEM32\\KQMON.DLL"));
    EXPECT_EQ(RegValue("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZIDERIVAR", "Driver"), "KQMON.DLL");
    EXPECT_EQ(RegValue("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print "
                       "Processors\\KQPRINT",
                       "Driver"),
              "KQPRINT.DLL");

    PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>(kPrinter), &h, &all));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterA(h, 2, buffer.data(), needed, &needed));
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    EXPECT_STREQ(info->pPortName, "COM1:");
    EXPECT_STREQ(info->pDriverName, kPrinter);
    EXPECT_STREQ(info->pPrintProcessor, "KQPRINT");
    EXPECT_STREQ(info->pDatatype, "RAW");
    EXPECT_EQ(info->Attributes, PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST |
                                    PRINTER_ATTRIBUTE_ENABLE_BIDI);

    // A receipt goes through KQPRINT and the monitor to the port.
    const std::string portFile = Root() + "/com1.out";
    control::SetPortTarget("COM1:", portFile);
    const Bytes job = Concat({B({0x1B, 0x40}), B("KQT-50 test receipt\n")});
    DOC_INFO_1A doc{const_cast<LPSTR>("receipt"), nullptr, const_cast<LPSTR>("RAW")};
    ASSERT_NE(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&doc)), 0u);
    DWORD written = 0;
    ASSERT_TRUE(WritePrinter(h, const_cast<BYTE*>(job.data()), static_cast<DWORD>(job.size()), &written));
    ASSERT_TRUE(EndDocPrinter(h));
    const auto outcome = control::LastJobOutcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(outcome->printed) << outcome->error;
    EXPECT_TRUE(outcome->viaMonitor) << outcome->error;
    EXPECT_EQ(FileBytes(portFile), job);
    EXPECT_EQ(FileBytes(control::HostPath(kqmon::kCapturePath)), job);

    // The remove sequence: a print processor that a printer uses stays; the printer goes, then the print
    // processor and the monitor (which the driver still names) with their files, then the driver's key.
    char env[] = "Windows NT x86";
    char processor[] = "KQPRINT";
    char monitor[] = "ZIDERIVAR";
    EXPECT_FALSE(DeletePrintProcessorA(nullptr, env, processor));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CAN_NOT_COMPLETE));
    HANDLE user = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>(kPrinter), &user, nullptr));
    EXPECT_FALSE(DeletePrinter(user)) << "a handle opened to print cannot delete";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ClosePrinter(user);
    EXPECT_TRUE(DeletePrinter(h));
    ClosePrinter(h);
    EXPECT_TRUE(DeletePrintProcessorA(nullptr, env, processor));
    EXPECT_TRUE(DeleteFileA(processorFile.c_str()));
    EXPECT_TRUE(DeleteMonitorA(nullptr, nullptr, monitor));
    EXPECT_FALSE(DeleteMonitorA(nullptr, nullptr, monitor));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\SYSTEM32\\KQMON.DLL"));

    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriversKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments"),
              ERROR_ACCESS_DENIED)
        << "NT keeps a key that has subkeys";
    EXPECT_EQ(RegDeleteKeyA(key, kPrinter), ERROR_SUCCESS);
    RegCloseKey(key);
    // The driver is gone for the spooler too: no printer can be made with it.
    char name[] = "Again";
    char port[] = "COM1:";
    char raw[] = "RAW";
    char winprint[] = "winprint";
    PRINTER_INFO_2A again{};
    again.pPrinterName = name;
    again.pPortName = port;
    again.pDriverName = const_cast<LPSTR>(kPrinter);
    again.pPrintProcessor = winprint;
    again.pDatatype = raw;
    EXPECT_EQ(AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&again)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
}

// What breaks an install: PrintUIEntry fails with the error of what failed, and no printer is made; rundll32,
// which ran it, exits with 0 all the same.
TEST_F(ShellTest, BrokenInstallsFailInTheEntryWhileRundll32ExitsWithZero) {
    auto editInf = [](const std::string& from, const std::string& to) {
        const std::string inf = "C:\\KQT50\\NT\\KQT50.INF";
        std::string text = ReadText(inf);
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        PutFile(inf, text);
    };
    struct Case {
        const char* what;
        std::function<void()> breakIt;
        std::string parameters;
        DWORD error;
        bool printerRemains = false;
    };
    const std::vector<Case> cases = {
        {"a model the INF does not have", [] {}, NtParameters("KQT-60 Receipt"), ERROR_UNKNOWN_PRINTER_DRIVER},
        {"a source file missing", [] { DeleteFileA("C:\\KQT50\\NT\\i386\\KQMON.DLL"); }, NtParameters(),
         ERROR_FILE_NOT_FOUND},
        {"the GPD missing from NT", [] { DeleteFileA("C:\\KQT50\\NT\\KQT50.GPD"); }, NtParameters(),
         ERROR_FILE_NOT_FOUND},
        {"a port the machine does not have", [] {}, NtParameters(kPrinter, "COM9:"), ERROR_UNKNOWN_PORT},
        {"the printer exists already", [] { Start("rundll32.exe", NtParameters()); }, NtParameters(),
         ERROR_PRINTER_ALREADY_EXISTS, true},
        {"text before the first section", [&] { editInf("[Version]", "Signature=x\n[Version]"); }, NtParameters(),
         ERROR_EXPECTED_SECTION_NAME},
        {"a section header without its bracket", [&] { editInf("[Strings]", "[Strings"); }, NtParameters(),
         ERROR_BAD_SECTION_NAME_LINE},
        {"not an NT or Windows 95 INF", [&] { editInf("$Windows NT$", "$Windows 3.1$"); }, NtParameters(),
         ERROR_WRONG_INF_STYLE},
        {"a needed section the system INF lacks", [&] { editInf("Needs=UNIDRV.OEM", "Needs=PSCRIPT.OEM"); },
         NtParameters(), ERROR_SECTION_NOT_FOUND},
        {"a file list that is not there", [&] { editInf("CopyFiles=KQT50_DRIVER,", "CopyFiles=KQT50_DRIVERS,"); },
         NtParameters(), ERROR_SECTION_NOT_FOUND},
        {"an INF that is not there", [] { DeleteFileA("C:\\KQT50\\NT\\KQT50.INF"); }, NtParameters(),
         ERROR_FILE_NOT_FOUND},
        {"the monitor cannot be added",
         [] { control::InjectFault({control::Op::AddMonitor, 1, control::FaultKind::Fail, 0, ERROR_ACCESS_DENIED}); },
         NtParameters(), ERROR_ACCESS_DENIED},
        {"the driver cannot be added, no reason given",
         [] { control::InjectFault({control::Op::AddPrinterDriver, 1}); }, NtParameters(), ERROR_GEN_FAILURE},
        {"an option PrintUIEntry does not know", [] {}, NtParameters() + " /x", ERROR_INVALID_PARAMETER},
        {"a kernel-mode driver", [] {}, NtParameters(kPrinter, "COM1:", "/v \"Type 2 - Kernel Mode\""),
         ERROR_INVALID_PARAMETER},
        {"an architecture PrintUIEntry does not know", [] {}, NtParameters(kPrinter, "COM1:", "/h \"ARM\""),
         ERROR_INVALID_PARAMETER},
        {"the 64-bit driver on 32-bit Windows", [] {}, NtParameters(kPrinter, "COM1:", kX64Driver),
         ERROR_INVALID_ENVIRONMENT},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        for (const bool throughRundll32 : {true, false}) {
            ASSERT_NO_FATAL_FAILURE(FreshMachine("case" + std::to_string(i) + (throughRundll32 ? "r" : "e")));
            ASSERT_NO_FATAL_FAILURE(c.breakIt());
            if (throughRundll32) {
                const Started r = Start("rundll32.exe", c.parameters);
                ASSERT_TRUE(r.started);
                EXPECT_EQ(r.exitCode, 0u);
            } else {
                EXPECT_EQ(CallEntry(c.parameters), c.error);
            }
            control::ClearFaults();
            HANDLE h = nullptr;
            const BOOL printer = OpenPrinterA(const_cast<LPSTR>(kPrinter), &h, nullptr);
            EXPECT_EQ(printer != FALSE, c.printerRemains);
            if (printer) {
                ClosePrinter(h);
            }
        }
    }
}

// Which models section PrintUIEntry reads: Windows 2000 only the undecorated one, Windows XP and later 32-bit
// NTx86 (without falling back), 64-bit Windows only NTamd64. A section is made to miss the model by renaming it
// there.
TEST_F(ShellTest, PrintUIEntryReadsTheModelsSectionOfItsWindows) {
    struct Case {
        const char* what;
        DWORD major;
        DWORD minor;
        WORD architecture;
        const char* renamedIn; // the models section without the model
        DWORD error;
        bool plainNt = false;  // NTx86 is a plain NT decoration instead, and the only one
    };
    const Case cases[] = {
        {"Windows XP takes NTx86", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, "Velmora", 0},
        {"Windows XP takes only NTx86", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, "Velmora.NTx86",
         ERROR_UNKNOWN_PRINTER_DRIVER},
        {"Windows 2000 takes the undecorated one", 5, 0, PROCESSOR_ARCHITECTURE_INTEL, "Velmora.NTx86", 0},
        {"Windows 2000 takes only the undecorated one", 5, 0, PROCESSOR_ARCHITECTURE_INTEL, "Velmora",
         ERROR_UNKNOWN_PRINTER_DRIVER},
        {"64-bit Windows takes NTamd64", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, "Velmora.NTx86", 0},
        {"64-bit Windows takes nothing but NTamd64", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, "Velmora.NTamd64",
         ERROR_UNKNOWN_PRINTER_DRIVER},
        {"Windows XP takes a plain NT decoration", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, "Velmora", 0, true},
        {"64-bit Windows takes no plain NT decoration", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, "Velmora",
         ERROR_UNKNOWN_PRINTER_DRIVER, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine(c.what));
        control::SetWindowsVersion(VER_PLATFORM_WIN32_NT, c.major, c.minor, c.architecture);
        const std::string inf = "C:\\KQT50\\NT\\KQT50.INF";
        std::string text = ReadText(inf);
        const std::string line = "[" + std::string(c.renamedIn) + "]\n\"KQT-50 Receipt\"";
        const size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        text.replace(at + line.size() - 8, 8, "Receipt2\"");
        if (c.plainNt) {
            for (const auto& [from, to] : {std::pair<std::string, std::string>{",NTx86,NTamd64", ",NT"},
                                           {"[Velmora.NTx86]", "[Velmora.NT]"}}) {
                ASSERT_NE(text.find(from), std::string::npos) << from;
                text.replace(text.find(from), from.size(), to);
            }
        }
        PutFile(inf, text);
        const bool x64 = c.architecture == PROCESSOR_ARCHITECTURE_AMD64;
        EXPECT_EQ(CallEntry(NtParameters(kPrinter, "COM1:", x64 ? kX64Driver : "/v \"Windows 2000 or XP\"")), c.error);
    }
}

// 64-bit Windows: PrintUIEntry with the 64-bit driver's options installs the driver for "Windows x64" with the
// files of amd64\; with no /h it takes the machine's own architecture; a 32-bit driver it refuses to make a
// printer with. The i386\ DLLs are 32-bit images here, so that the monitor of a wrong pick cannot be added.
TEST_F(ShellTest, PrintUIEntryInstallsThe64BitKitOn64BitWindows) {
    struct Case {
        const char* what;
        std::string driver; // the options that name the driver
        DWORD error;
    };
    const Case cases[] = {
        {"the 64-bit driver's options", kX64Driver, 0},
        {"the version alone", "/v \"Windows 2000 or XP\"", 0},
        {"the options in other letter case", "/h \"X64\" /v \"type 3 - user mode\"", 0},
        {"the 32-bit driver", "/h \"x86\" /v \"Type 3 - User Mode\"", ERROR_INVALID_ENVIRONMENT},
    };
    const std::string x64 = "C:\\WINDOWS\\System32\\spool";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine(c.what));
        control::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 6, 1, PROCESSOR_ARCHITECTURE_AMD64);
        for (const char* dll : {"KQPRINT.DLL", "KQMON.DLL"}) {
            WriteImageHeaders(std::string("C:\\KQT50\\NT\\i386\\") + dll, IMAGE_FILE_MACHINE_I386);
        }
        ASSERT_EQ(CallEntry(NtParameters(kPrinter, "COM1:", c.driver)), c.error);
        if (c.error != 0) {
            HANDLE h = nullptr;
            EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kPrinter), &h, nullptr));
            continue;
        }
        const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64";
        EXPECT_EQ(RegValue(key + "\\Drivers\\Version-3\\" + kPrinter, "Data File"), "KQT50.GPD");
        EXPECT_EQ(RegValue(key + "\\Print Processors\\KQPRINT", "Driver"), "KQPRINT.DLL");
        EXPECT_EQ(RegValue("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-3\\" +
                               std::string(kPrinter),
                           "Driver"),
                  "-");
        EXPECT_TRUE(FileExists(x64 + "\\DRIVERS\\x64\\3\\KQT50.GPD"));
        EXPECT_EQ(FileBytes(control::HostPath(x64 + "\\PRTPROCS\\x64\\KQPRINT.DLL")),
                  FileBytes(control::HostPath("C:\\KQT50\\NT\\amd64\\KQPRINT.DLL")));
        EXPECT_EQ(FileBytes(control::HostPath("C:\\WINDOWS\\SYSTEM32\\KQMON.DLL")),
                  FileBytes(control::HostPath("C:\\KQT50\\NT\\amd64\\KQMON.DLL")));
    }
}

// What rundll32 itself cannot call: a message box, as on Windows, and still exit code 0.
TEST_F(ShellTest, Rundll32ShowsWhatItCannotCallAndExitsWithZero) {
    struct Case {
        const char* what;
        DWORD platform;
        std::string parameters;
        const char* shown; // in the box's text
    };
    const Case cases[] = {
        {"an entry PRINTUI.DLL does not have", VER_PLATFORM_WIN32_NT, "PRINTUI.DLL,PrintUIMain /if", "PrintUIMain"},
        {"a DLL the system does not have", VER_PLATFORM_WIN32_NT, "PRINTUX.DLL,PrintUIEntry /if", "PRINTUX.DLL"},
        {"PRINTUI.DLL on Windows 98", VER_PLATFORM_WIN32_WINDOWS, NtParameters(), "PRINTUI.DLL"},
        {"a DLL of another folder than the system's", VER_PLATFORM_WIN32_NT,
         "C:\\KQT50\\PRINTUI.DLL,PrintUIEntry /if", "C:\\KQT50\\PRINTUI.DLL"},
        {"no entry at all", VER_PLATFORM_WIN32_NT, "PRINTUI.DLL", "PRINTUI.DLL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine(c.what));
        control::SetWindowsVersion(c.platform, c.platform == VER_PLATFORM_WIN32_NT ? 5 : 4, 10);
        control::ClearMessageBoxes();
        const Started r = Start("rundll32.exe", c.parameters);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, 0u);
        const auto boxes = control::MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "RunDLL");
        EXPECT_NE(boxes[0].text.find(c.shown), std::string::npos) << boxes[0].text;
        HANDLE h = nullptr;
        EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kPrinter), &h, nullptr));
    }
}

// InstallHinfSection of the Chicago INF on Windows 98 copies the two DLLs into the system directory and
// registers nothing: the installer's own spooler calls do that, and Windows 98 keeps print processors in the
// system directory, so the registration finds the copied file.
TEST_F(ShellTest, InstallHinfSectionCopiesTheChicagoInfsFilesOnly) {
    ASSERT_NO_FATAL_FAILURE(StageSetup());
    control::SetWindowsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    const std::string without128 = "SETUPAPI.DLL,InstallHinfSection DefaultInstall 0 C:\\KQT50\\Chicago\\KQT50.INF";
    EXPECT_EQ(CallEntry(without128), static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        << "without 128 the files come from the system's setup source";
    const std::string params = "SETUPAPI.DLL,InstallHinfSection DefaultInstall 128 C:\\KQT50\\Chicago\\KQT50.INF";
    ASSERT_EQ(Start("rundll32.exe", params).exitCode, 0u);
    for (const char* f : {"KQPRINT.DLL", "KQMON.DLL"}) {
        EXPECT_EQ(FileBytes(control::HostPath(std::string("C:\\WINDOWS\\SYSTEM32\\") + f)),
                  FileBytes(control::HostPath(std::string("C:\\KQT50\\Chicago\\") + f)))
            << f;
    }
    const std::string print = "System\\CurrentControlSet\\Control\\Print";
    EXPECT_EQ(RegValue(print + "\\Environments\\Windows 4.0\\Print Processors\\KQPRINT", "Driver"), "-");
    EXPECT_EQ(RegValue(print + "\\Monitors\\ZIDERIVAR", "Driver"), "-");
    EXPECT_EQ(RegValue(print + "\\Environments\\Windows 4.0\\Drivers\\KQT-50 Receipt", "Driver"), "-");

    char env[] = "Windows 4.0";
    char dir[MAX_PATH];
    DWORD needed = 0;
    ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, env, 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir), &needed));
    EXPECT_STREQ(dir, "C:\\WINDOWS\\SYSTEM32");
    char file[] = "KQPRINT.DLL";
    char processor[] = "KQPRINT";
    EXPECT_TRUE(AddPrintProcessorA(nullptr, env, file, processor));
    EXPECT_EQ(RegValue(print + "\\Environments\\Windows 4.0\\Print Processors\\KQPRINT", "Driver"), "KQPRINT.DLL");
}

// A driver for "Windows 4.0" is kept where the machine keeps it: directly below Drivers on Windows 98, below
// Version-0 on Windows XP (for its Windows 98 clients). DeletePrinterDriverA finds it there and takes its key;
// a second deletion finds no driver.
TEST_F(ShellTest, DriverForWindows40IsKeptAndDeletedWhereTheMachineKeepsIt) {
    struct Case {
        const char* what;
        DWORD platform;
        const char* kept;  // the driver's key below the environment's Drivers
        const char* other; // where it must not be
    };
    const Case cases[] = {
        {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, "KQT-50 Receipt", "Version-0\\KQT-50 Receipt"},
        {"Windows XP", VER_PLATFORM_WIN32_NT, "Version-0\\KQT-50 Receipt", "KQT-50 Receipt"},
    };
    const std::string drivers = "System\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine(c.platform == VER_PLATFORM_WIN32_NT ? "xp" : "98"));
        control::SetWindowsVersion(c.platform, c.platform == VER_PLATFORM_WIN32_NT ? 5 : 4, 10);
        char env[] = "Windows 4.0";
        char name[] = "KQT-50 Receipt";
        char path[] = "kqt50.drv";
        char monitor[] = "ZIDERIVAR";
        char raw[] = "RAW";
        DRIVER_INFO_3A di{0x570, name, env, path, path, path, nullptr, nullptr, monitor, raw};
        ASSERT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&di))) << GetLastError();
        EXPECT_EQ(RegValue(drivers + c.kept, "Monitor"), "ZIDERIVAR");
        EXPECT_EQ(RegValue(drivers + c.other, "Monitor"), "-");

        EXPECT_TRUE(DeletePrinterDriverA(nullptr, env, name)) << GetLastError();
        EXPECT_EQ(RegValue(drivers + c.kept, "Monitor"), "-");
        SetLastError(0);
        EXPECT_FALSE(DeletePrinterDriverA(nullptr, env, name));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
    }
}

// The INF reader and the directives of an install section, on an INF that uses what setupapi allows.
TEST_F(ShellTest, InfDirectivesFollowSetupapisRules) {
    PutFile("C:\\SRC\\files\\a.txt", "file a");
    PutFile("C:\\SRC\\b.txt", "file b");
    PutFile("C:\\OUT\\old.txt", "stays unless deleted");
    PutFile("C:\\OUT\\keep.txt", "kept");
    PutFile("C:\\WINDOWS\\INF\\EXTRA.INF",
            "[Version]\nSignature=$Chicago$\n[EXTRA.REG]\nAddReg=EXTRA_ADD\n"
            "[EXTRA_ADD]\nHKCU,Software\\Test,FromInclude,,%Word%\n[Strings]\nWord=extra\n");
    PutFile("C:\\SRC\\TEST.INF", R"([version]
signature = "$Windows NT$"   ; case does not matter

[DefaultInstall]
CopyFiles = LIST, @b.txt
DelFiles = GONE
AddReg = ADD
DelReg = DEL
Include = EXTRA.INF
Needs = EXTRA.REG

[LIST]
a.txt
copy.txt , b.txt
keep.txt,b.txt,,0x10

[GONE]
old.txt

[ADD]
HKLM,"Software\Test",Text,,"%Quoted%"
HKLM,Software\Test,Expand,0x20000,%%SystemRoot%%\x
HKLM,Software\Test,Multi,0x10000,one,"two, three"
HKLM,Software\Test,Multi,0x10008,one,four
HKLM,Software\Test,Number,0x10001,0x1000
HKLM,Software\Test,Bytes,1,0a,ff, \
  01
HKLM,Software\Test,Once,0x2,first
HKLM,Software\Test,Once,0x2,second
HKLM,Software\Test,Dir,,%10%\INF

[DEL]
HKLM,Software\Test,Dropped
HKLM,Software\Gone

[DestinationDirs]
DefaultDestDir = 10, ..\OUT
GONE = 10,..\OUT

[SourceDisksNames]
1 = "disk",,,files

[SourceDisksFiles]
a.txt = 1

[Strings]
Quoted = "a ""quoted"" word; not a comment"
)");
    // what DelReg removes was there before
    for (const char* k : {"Software\\Gone\\Sub", "Software\\Test"}) {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, k, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, "Dropped", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    ASSERT_EQ(CallEntry("setupapi,InstallHinfSection DefaultInstall 128 C:\\SRC\\TEST.INF"), 0u);
    EXPECT_EQ(ReadText("C:\\OUT\\a.txt"), "file a");
    EXPECT_EQ(ReadText("C:\\OUT\\copy.txt"), "file b");
    EXPECT_EQ(ReadText("C:\\OUT\\b.txt"), "file b");
    EXPECT_EQ(ReadText("C:\\OUT\\keep.txt"), "kept") << "0x10: an existing file is not replaced";
    EXPECT_FALSE(FileExists("C:\\OUT\\old.txt"));
    const std::string key = "Software\\Test";
    const std::vector<std::pair<const char*, std::string>> values = {
        {"Text", "a \"quoted\" word; not a comment"},
        {"Expand", "%SystemRoot%\\x"},
        {"Multi", "one|two, three|four"},
        {"Number", "4096"},
        {"Bytes", "0aff01"},
        {"Once", "first"},
        {"Dir", "C:\\WINDOWS\\INF"},
        {"Dropped", "-"},
    };
    for (const auto& [name, value] : values) {
        EXPECT_EQ(RegValue(key, name), value) << name;
    }
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Gone\\Sub", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    HKEY user = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &user), ERROR_SUCCESS);
    char text[32] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(RegQueryValueExA(user, "FromInclude", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, "extra") << "a needed section of an included INF, with that INF's strings";
    RegCloseKey(user);

    // The printer class's directory ids exist only in a printer install.
    PutFile("C:\\SRC\\PRN.INF", "[Version]\nSignature=$Windows NT$\n[DefaultInstall]\nCopyFiles=@b.txt\n"
                                "[DestinationDirs]\nDefaultDestDir=66000\n");
    EXPECT_EQ(CallEntry("SETUPAPI.DLL,InstallHinfSection DefaultInstall 128 C:\\SRC\\PRN.INF"),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CallEntry("SETUPAPI.DLL,InstallHinfSection Missing 128 C:\\SRC\\PRN.INF"), ERROR_SECTION_NOT_FOUND);
}

} // namespace
} // namespace kqtest
