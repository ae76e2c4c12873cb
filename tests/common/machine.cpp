#include "machine.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace kqtest {

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<BYTE>(v));
    }
    return out;
}

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

bool KeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

std::string RegValue(const std::string& key, const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return "-";
    }
    BYTE data[1024] = {};
    DWORD size = sizeof(data);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExA(h, name, nullptr, &type, data, &size);
    RegCloseKey(h);
    if (status != ERROR_SUCCESS) {
        return "-";
    }
    if (type == REG_DWORD) {
        DWORD v;
        std::memcpy(&v, data, 4);
        return std::to_string(v);
    }
    if (type == REG_BINARY) {
        return Hex(Bytes(data, data + size));
    }
    std::string out;
    for (DWORD i = 0; i + 1 < size || (type != REG_MULTI_SZ && i < size && data[i]); ++i) {
        out += data[i] ? static_cast<char>(data[i]) : '|';
    }
    while (!out.empty() && out.back() == '|') {
        out.pop_back();
    }
    return out;
}

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Pattern(size_t n, unsigned seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<BYTE>((i * 7 + seed) & 0xFF);
    }
    return out;
}

void MachineTest::SetUp() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqt50-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    control::ResetMachine(root_);
    control::RecordWrites(true);
}

void MachineTest::TearDown() {
    control::ClearHooks();
    control::ClearFaults();
    control::RecordWrites(false);
    control::ClearWrites();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

ProcessorOpenData::ProcessorOpenData(std::u16string printerName, DWORD jobId, std::u16string parameterText,
                                     std::u16string datatypeName)
    : printer(std::move(printerName)), parameters(std::move(parameterText)), datatype(std::move(datatypeName)) {
    data.pDatatype = datatype.data();
    data.pParameters = parameters.data();
    data.pDocumentName = document.data();
    data.JobId = jobId;
    data.pPrinterName = printer.data();
}

std::u16string CopiesParameter(unsigned copies) {
    std::u16string text = u"COPIES=";
    for (const char c : std::to_string(copies)) {
        text += static_cast<char16_t>(c);
    }
    return text + u";";
}

void AddDiscardingPrinter(const char* name) {
    control::PrinterSetup setup;
    setup.name = name;
    ASSERT_TRUE(control::AddTestPrinter(setup));
    control::SetPortTarget("FILE:", "/dev/null");
}

void InstallKitPrinter(const char* port, const char* monitorLibrary) {
    const char* bin = std::getenv("KQ_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    char env[] = "Windows 4.0";
    char ppDir[MAX_PATH];
    DWORD needed = 0;
    ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, env, 1, reinterpret_cast<LPBYTE>(ppDir), sizeof(ppDir),
                                            &needed));
    ASSERT_TRUE(CopyFileA((std::string(bin) + "/libkqprint.so").c_str(),
                          (std::string(ppDir) + "\\KQPRINT.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((std::string(bin) + "/" + monitorLibrary).c_str(), "C:\\WINDOWS\\SYSTEM32\\KQMON.DLL",
                          FALSE));
    char file[] = "KQPRINT.DLL";
    char name[] = "KQPRINT";
    ASSERT_TRUE(AddPrintProcessorA(nullptr, env, file, name));
    char monitor[] = "KQMON";
    char dll[] = "KQMON.DLL";
    MONITOR_INFO_2A mi{monitor, env, dll};
    ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&mi)));
    char driverName[] = "Receipt Driver";
    char path[] = "kqt50.drv";
    char raw[] = "RAW";
    DRIVER_INFO_3A di{0x570, driverName, env, path, path, path, nullptr, nullptr, monitor, raw};
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&di)));
    control::PrinterSetup setup;
    setup.name = "Receipt";
    setup.port = port;
    setup.driver = driverName;
    setup.printProcessor = name;
    setup.attributes = PRINTER_ATTRIBUTE_ENABLE_BIDI;
    ASSERT_TRUE(control::AddTestPrinter(setup));
}

void StageKit(const std::string& windowsFolder) {
    const char* bin = std::getenv("KQ_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    const std::string media =
        (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "media").string();
    for (const char* sub : {"", "\\NT", "\\NT\\i386", "\\NT\\amd64", "\\Chicago"}) {
        CreateDirectoryA((windowsFolder + sub).c_str(), nullptr);
    }
    for (const char* f : {"NT\\KQT50.INF", "NT\\KQT50.GPD", "Chicago\\KQT50.INF"}) {
        std::string host = media + "/" + f;
        host[host.find('\\')] = '/';
        ASSERT_TRUE(CopyFileA(host.c_str(), (windowsFolder + "\\" + f).c_str(), FALSE)) << f;
    }
    for (const char* dir : {"\\NT\\i386", "\\NT\\amd64", "\\Chicago"}) {
        const std::string to = windowsFolder + dir;
        ASSERT_TRUE(
            CopyFileA((std::string(bin) + "/libkqprint.so").c_str(), (to + "\\KQPRINT.DLL").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA((std::string(bin) + "/libkqmon.so").c_str(), (to + "\\KQMON.DLL").c_str(), FALSE));
    }
}

void WriteImageHeaders(const std::string& windowsPath, WORD machine) {
    Bytes image(0x40 + 24);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x40; // e_lfanew: the PE header follows the MS-DOS header
    const Bytes signature = B({'P', 'E', 0, 0, machine & 0xFF, machine >> 8});
    std::copy(signature.begin(), signature.end(), image.begin() + 0x40);
    const std::string host = control::HostPath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::ofstream(host, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

std::vector<Bytes> WriteChunks() {
    std::vector<Bytes> out;
    for (const control::WriteRecord& w : control::Writes()) {
        out.push_back(w.bytes);
    }
    return out;
}

Bytes Output() {
    Bytes out;
    for (const control::WriteRecord& w : control::Writes()) {
        out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    }
    return out;
}

HexList HexOf(const std::vector<Bytes>& chunks) {
    HexList out;
    for (const Bytes& c : chunks) {
        out.push_back(Hex(c));
    }
    return out;
}

HexList HexWrites() { return HexOf(WriteChunks()); }

} // namespace kqtest
