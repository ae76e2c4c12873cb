// The Windows 98/ME install and removal as a whole life under wine64, with Wine's own rundll32, SETUPAPI,
// spooler and registry: Wine reports Windows 98 to this program (setup98-life.sh names it under
// HKCU\Software\Wine\AppDefaults). The dialog's install button adds the printer, which is read back; its
// remove button takes the kit away, and the spooler's registry and the system directory must be as they were
// before, but for what Wine itself keeps (each named below with its reason). Every difference is logged.
#include "dialog_harness.h"

#include "kit_names.h"

#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace kqsetuptest {
namespace {

const char kPrintKey[] = "System\\CurrentControlSet\\Control\\Print";

// One line per key and per value below `path`: "key <path>" and "value <path>\<name> <type> <hex data>".
void ReadKey(HKEY root, const std::string& path, std::set<std::string>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    out.insert("key " + path);
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof(name);
        DWORD type = 0;
        BYTE data[65536];
        DWORD dataSize = sizeof(data);
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        std::string hex;
        for (DWORD b = 0; b < dataSize; ++b) {
            char two[3];
            std::snprintf(two, sizeof(two), "%02x", data[b]);
            hex += two;
        }
        out.insert("value " + path + "\\" + name + " " + std::to_string(type) + " " + hex);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& sub : subkeys) {
        ReadKey(root, path + "\\" + sub, out);
    }
}

// One line per file and folder below `dir`: "file <path> <size>" or "dir <path>".
void ReadFolder(const std::string& dir, std::set<std::string>& out) {
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::string> folders;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = dir + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.insert("dir " + path);
            folders.push_back(path);
        } else {
            out.insert("file " + path + " " + std::to_string(found.nFileSizeLow));
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
    for (const std::string& folder : folders) {
        ReadFolder(folder, out);
    }
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct Machine {
    std::set<std::string> registry;
    std::set<std::string> system;
};

Machine ReadMachine(const std::string& systemDir) {
    Machine m;
    ReadKey(HKEY_LOCAL_MACHINE, kPrintKey, m.registry);
    ReadFolder(systemDir, m.system);
    return m;
}

// What Wine keeps after the removal that is not the kit's: a line (lower case), or the start of lines, and why.
struct WineKeeps {
    std::string line;
    bool prefix;
    const char* reason;
};
TEST_F(DialogTest, NinetyEightPathLivesAndLeavesNothingOfItsOwn) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS))
        << "Wine does not report Windows 98 to this program (HKCU\\Software\\Wine\\AppDefaults)";
    char system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(system, MAX_PATH), 0u);
    char processors[MAX_PATH] = {};
    DWORD needed = 0;
    char environment9x[] = "Windows 4.0";
    ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, environment9x, 1, reinterpret_cast<LPBYTE>(processors),
                                            sizeof(processors), &needed));
    std::printf("system directory %s; Wine's print-processor directory for Windows 4.0: %s\n", system, processors);

    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    const Machine before = ReadMachine(system);

    // Install: the port is COM1:, the only one.
    EXPECT_EQ(RunSetupDialog({[](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDC_INSTALL), BM_CLICK, 0, 0); }}),
              IDOK);
    std::vector<std::string> texts;
    for (const Box& box : Boxes()) {
        texts.push_back(box.text);
    }
    ASSERT_EQ(texts, std::vector<std::string>{String(IDS_INSTALL_OK)});

    // The printer as the spooler has it.
    {
        HANDLE printer = nullptr;
        char name[] = "KQT-50 Receipt";
        ASSERT_TRUE(OpenPrinterA(name, &printer, nullptr));
        DWORD size = 0;
        GetPrinterA(printer, 2, nullptr, 0, &size);
        std::vector<BYTE> record(size + 1);
        ASSERT_TRUE(GetPrinterA(printer, 2, record.data(), size, &size));
        ClosePrinter(printer);
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record.data());
        std::printf("printer: port %s, driver %s, print processor %s, datatype %s, attributes 0x%lx\n",
                    info->pPortName, info->pDriverName, info->pPrintProcessor, info->pDatatype,
                    static_cast<unsigned long>(info->Attributes));
        EXPECT_STREQ(info->pPrintProcessor, kqkit::kProcessorName);
        EXPECT_STREQ(info->pPortName, "COM1:");
        EXPECT_STREQ(info->pDriverName, kqkit::kPrinterName);
        // added with bidirectional mode (0x800) alone, which Wine keeps as given; the install adds RAW only
        // (0x1000) and bidirectional mode again
        EXPECT_EQ(info->Attributes, 0x800u | 0x1000u);

        // Its driver sends its jobs through the monitor that the kit registered.
        DWORD driverSize = 0;
        GetPrinterDriverA(nullptr, environment9x, 3, nullptr, 0, &driverSize);
        ASSERT_TRUE(OpenPrinterA(name, &printer, nullptr));
        std::vector<BYTE> driver(driverSize + 4096);
        const BOOL gotDriver = GetPrinterDriverA(printer, environment9x, 3, driver.data(),
                                                 static_cast<DWORD>(driver.size()), &driverSize);
        ClosePrinter(printer);
        ASSERT_TRUE(gotDriver) << GetLastError();
        const auto* d = reinterpret_cast<const DRIVER_INFO_3A*>(driver.data());
        std::printf("driver: monitor %s, datatype %s\n", d->pMonitorName ? d->pMonitorName : "(none)",
                    d->pDefaultDataType ? d->pDefaultDataType : "(none)");
        EXPECT_STREQ(d->pMonitorName, kqkit::kMonitorName);
    }

    // Remove.
    const size_t boxesBefore = Boxes().size();
    EXPECT_EQ(RunSetupDialog({[](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDC_REMOVE), BM_CLICK, 0, 0); }}),
              IDOK);
    texts.clear();
    for (size_t i = boxesBefore; i < Boxes().size(); ++i) {
        texts.push_back(Boxes()[i].text);
    }
    EXPECT_EQ(texts, std::vector<std::string>{String(IDS_REMOVE_OK)});

    const Machine after = ReadMachine(system);
    {
        char processor[] = "KQPRINT";
        const BOOL deleted = DeletePrintProcessorA(nullptr, environment9x, processor);
        std::printf("Wine's DeletePrintProcessorA, called again for KQPRINT: %d (error %lu)\n", deleted,
                    static_cast<unsigned long>(GetLastError()));
    }
    const std::string print = std::string("System\\CurrentControlSet\\Control\\Print") + "\\Environments\\Windows 4.0";
    const std::string drivers = std::string(system) + "\\spool\\drivers\\win40";
    const char* const driverContainers =
        "Wine's AddPrinterDriverA keeps the drivers of \"Windows 4.0\" below a Version-0 key and makes a driver "
        "folder of its own (spool\\drivers\\win40\\0), each on first use; its DeletePrinterDriverA deletes the "
        "driver's own key and leaves them";
    const std::vector<WineKeeps> wineKeeps = {
        {"key " + print + "\\Drivers", false, driverContainers},
        {"key " + print + "\\Drivers\\Version-0", false, driverContainers},
        {"dir " + drivers, false, driverContainers},
        {"dir " + drivers + "\\0", false, driverContainers},
        {"key " + print + "\\Print Processors\\KQPRINT", false,
         "Wine's DeletePrintProcessorA is a stub: the print processor's registration stays"},
        {"value " + print + "\\Print Processors\\KQPRINT\\", true,
         "Wine's DeletePrintProcessorA is a stub: the print processor's registration stays"},
        {std::string("file ") + system + "\\" + kqkit::kProcessorFile + " ", true,
         "the Chicago INF copied KQPRINT.DLL into the system directory; Wine's DeletePrintProcessorA reports "
         "success without deleting, and removal then deletes the file from the print-processor directory, which "
         "for \"Windows 4.0\" is not the system directory under Wine (spool\\prtprocs\\win40)"},
    };
    auto explain = [&](const std::string& line) -> const char* {
        const std::string lower = Lower(line);
        for (const WineKeeps& keep : wineKeeps) {
            const std::string expected = Lower(keep.line);
            if (keep.prefix ? lower.rfind(expected, 0) == 0 : lower == expected) {
                return keep.reason;
            }
        }
        return nullptr;
    };
    int unexplained = 0;
    auto compare = [&](const char* what, const std::set<std::string>& was, const std::set<std::string>& is) {
        for (const std::string& line : is) {
            if (!was.count(line)) {
                const char* reason = explain(line);
                std::printf("%s: after removal, not before: %s\n    %s\n", what, line.c_str(),
                            reason ? reason : "NOT EXPLAINED: the kit left it");
                unexplained += reason == nullptr;
            }
        }
        for (const std::string& line : was) {
            if (!is.count(line)) {
                std::printf("%s: before, gone after removal: %s\n    NOT EXPLAINED: the kit took it\n", what,
                            line.c_str());
                ++unexplained;
            }
        }
    };
    compare("registry", before.registry, after.registry);
    compare("system directory", before.system, after.system);
    EXPECT_EQ(unexplained, 0) << "differences that Wine does not explain (see the lines above)";
}

} // namespace
} // namespace kqsetuptest
