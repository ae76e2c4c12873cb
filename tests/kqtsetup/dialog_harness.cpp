#include "dialog_harness.h"

#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#ifndef _WIN32
#include "kqwin/test_control.h"
#endif

namespace kqsetuptest {
namespace {

const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
constexpr UINT kTickMs = 10;
constexpr int kMaxTicks = 1500; // 15 s: a dialog that outlives this is stuck

std::string Convert(UINT from, UINT to, const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<WCHAR> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    const int narrow = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(to, 0, buffer.data(), wide, out.data(), narrow, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), length + 1)));
    return text;
}

bool HasClass(HWND window, const char* name) {
    char found[64] = {};
    GetClassNameA(window, found, sizeof(found));
    return std::strcmp(found, name) == 0;
}

struct DialogSearch {
    HWND except;
    bool attached;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (window != search->except && HasClass(window, "#32770") &&
        (CWnd::FromHandlePermanent(window) != nullptr) == search->attached) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The first dialog-class window of this thread other than `except` that an afx object owns (`attached`) or
// that none owns (a message box).
HWND FindDialogWindow(HWND except, bool attached) {
    DialogSearch search{except, attached, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Script {
    std::function<HWND()> window;
    std::vector<Step> steps;
    size_t next = 0;
    int ticks = 0;
    bool cancelled = false;
};
Script* g_script = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Script& script = *g_script;
    const HWND dialog = script.window();
    if (++script.ticks == kMaxTicks) {
        ADD_FAILURE() << "the dialog did not end; cancelling it";
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    if (!dialog || !IsWindowVisible(dialog) || FindDialogWindow(nullptr, false)) {
        return; // starting up, or a message box that closes by itself
    }
    if (script.next < script.steps.size()) {
        const Step step = script.steps[script.next++];
        step(dialog);
        return;
    }
    if (!script.cancelled) {
        script.cancelled = true;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

#ifdef _WIN32
// Message boxes on Windows: a CBT hook reads each box as it is activated and presses its OK button.
std::vector<Box> g_boxes;
std::vector<HWND> g_seen;
HHOOK g_hook = nullptr;

LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        if (HasClass(box, "#32770") && !CWnd::FromHandlePermanent(box) &&
            std::find(g_seen.begin(), g_seen.end(), box) == g_seen.end()) { // a message box, new
            g_seen.push_back(box);
            char text[2048] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            g_boxes.push_back(Box{Utf8(WindowText(box)), Utf8(text)});
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

#endif

} // namespace

std::string Utf8(const std::string& ansi) {
    return Convert(CP_ACP, CP_UTF8, ansi);
}
std::string Ansi(const std::string& utf8) {
    return Convert(CP_UTF8, CP_ACP, utf8);
}

void SetPorts(const std::vector<std::string>& names) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPortsKey);
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    for (const std::string& name : names) {
        const BYTE empty[1] = {0};
        EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, empty, 1), ERROR_SUCCESS) << name;
    }
    RegCloseKey(key);
}

void RemoveAllPrinters() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return;
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
        ASSERT_TRUE(OpenPrinterA(printers[i].pName, &printer, &all)) << printers[i].pName;
        EXPECT_TRUE(DeletePrinter(printer)) << printers[i].pName;
        ClosePrinter(printer);
    }
}

void AddPrinters(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
#ifdef _WIN32
        // Wine's own PostScript driver stands in for a driver: only its name matters here.
        char driverName[] = "KQ Dialog Test Driver";
        char environment[] = "Windows x64";
        char wineDriver[] = "wineps.drv";
        char raw[] = "RAW";
        DRIVER_INFO_3A driver{};
        driver.cVersion = 3;
        driver.pName = driverName;
        driver.pEnvironment = environment;
        driver.pDriverPath = wineDriver;
        driver.pDataFile = wineDriver;
        driver.pConfigFile = wineDriver;
        driver.pDefaultDataType = raw;
        if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED));
        }
        std::string printerName = name;
        char port[] = "C:\\kq-dialog-test.prn"; // a file port needs no registration under Wine
        char processor[] = "winprint";
        PRINTER_INFO_2A info{};
        info.pPrinterName = printerName.data();
        info.pPortName = port;
        info.pDriverName = driverName;
        info.pPrintProcessor = processor;
        info.pDatatype = raw;
        const HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(printer, nullptr) << name << ": error " << GetLastError();
        ClosePrinter(printer);
#else
        kqwin::control::PrinterSetup setup;
        setup.name = name;
        ASSERT_TRUE(kqwin::control::AddTestPrinter(setup)) << name;
#endif
    }
}

DCB StoredDcb(const char* device) {
    std::vector<BYTE> buffer(4096);
    DWORD size = static_cast<DWORD>(buffer.size());
    EXPECT_TRUE(GetDefaultCommConfigA(device, reinterpret_cast<COMMCONFIG*>(buffer.data()), &size)) << device;
    return reinterpret_cast<const COMMCONFIG*>(buffer.data())->dcb;
}

void StoreDcb(const char* device, const DCB& dcb) {
    std::vector<BYTE> buffer(4096);
    DWORD size = static_cast<DWORD>(buffer.size());
    ASSERT_TRUE(GetDefaultCommConfigA(device, reinterpret_cast<COMMCONFIG*>(buffer.data()), &size)) << device;
    reinterpret_cast<COMMCONFIG*>(buffer.data())->dcb = dcb;
    ASSERT_TRUE(SetDefaultCommConfigA(device, reinterpret_cast<COMMCONFIG*>(buffer.data()), size)) << device;
}

DCB MakeDcb(DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits, DWORD flags) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baud;
    SetDcbFlags(dcb, flags);
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return dcb;
}

DWORD DcbFlags(const DCB& dcb) {
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
                sizeof(flags));
    return flags;
}

void SetDcbFlags(DCB& dcb, DWORD flags) {
    std::memcpy(reinterpret_cast<BYTE*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), &flags,
                sizeof(flags));
}

std::vector<std::string> Items(HWND dialog, int id) {
    const HWND combo = GetDlgItem(dialog, id);
    std::vector<std::string> items;
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string text(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
        text.resize(
            static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        items.push_back(Utf8(text));
    }
    return items;
}

std::string Selection(HWND dialog, int id) {
    const int selected = static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
    return selected < 0 ? std::string() : Items(dialog, id).at(static_cast<size_t>(selected));
}

std::vector<std::string> SerialSelections(HWND dialog) {
    std::vector<std::string> shown;
    for (const int id : {IDC_BAUDRATE, IDC_DATABITS, IDC_PARITY, IDC_STOPBITS, IDC_FLOWCONTROL}) {
        shown.push_back(Selection(dialog, id));
    }
    return shown;
}

std::string SerialState(HWND dialog) {
    int enabled = 0;
    for (const int id :
         {IDC_BAUDRATE, IDC_DATABITS, IDC_PARITY, IDC_STOPBITS, IDC_FLOWCONTROL, IDC_LABEL_BAUDRATE,
          IDC_LABEL_DATABITS, IDC_LABEL_PARITY, IDC_LABEL_STOPBITS, IDC_LABEL_FLOWCONTROL}) {
        enabled += Enabled(dialog, id) ? 1 : 0;
    }
    return enabled == 10 ? "enabled" : enabled == 0 ? "disabled" : "mixed";
}

std::string Text(HWND dialog, int id) {
    return Utf8(WindowText(GetDlgItem(dialog, id)));
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

HWND OtherDialog(HWND dialog) {
    return FindDialogWindow(dialog, true);
}

void Pick(HWND dialog, int id, int index) {
    const HWND combo = GetDlgItem(dialog, id);
#ifdef _WIN32
    // What a click on the item does: the selection changes and the dialog is told.
    ASSERT_TRUE(IsWindowEnabled(combo) && IsWindowVisible(combo)) << "control " << id << " cannot be used";
    ASSERT_NE(SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0), CB_ERR) << "item " << index;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
#else
    ASSERT_TRUE(kqwin::control::PickComboItem(combo, index)) << "control " << id << " item " << index;
#endif
}

void PickText(HWND dialog, int id, const std::string& utf8) {
    const std::vector<std::string> items = Items(dialog, id);
    const auto found = std::find(items.begin(), items.end(), utf8);
    ASSERT_NE(found, items.end()) << utf8 << " is not in control " << id;
    Pick(dialog, id, static_cast<int>(found - items.begin()));
}

void ChooseSystemCommand(HWND dialog, UINT command) {
#ifdef _WIN32
    PostMessageA(dialog, WM_SYSCOMMAND, command, 0);
#else
    ASSERT_TRUE(kqwin::control::ChooseSystemMenuItem(dialog, command)) << "system command " << command;
#endif
}

void DialogTest::SetUp() {
    DialogTestBase::SetUp();
#ifdef _WIN32
    ASSERT_NO_FATAL_FAILURE(RemoveAllPrinters());
    g_boxes.clear();
    g_seen.clear();
    g_hook = SetWindowsHookExA(WH_CBT, WatchBoxes, nullptr, GetCurrentThreadId());
    ASSERT_NE(g_hook, nullptr);
#else
    kqwin::control::ClearMessageBoxes();
#endif
    app_.emplace();
}

void DialogTest::TearDown() {
    app_.reset();
#ifdef _WIN32
    UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
#endif
    DialogTestBase::TearDown();
}

std::vector<Box> DialogTest::Boxes() const {
#ifdef _WIN32
    return g_boxes;
#else
    std::vector<Box> boxes;
    for (const auto& box : kqwin::control::MessageBoxes()) {
        boxes.push_back(Box{Utf8(box.caption), Utf8(box.text)});
    }
    return boxes;
#endif
}

std::string DialogTest::String(UINT id) {
    CString text;
    text.LoadString(id);
    return Utf8(static_cast<LPCSTR>(text));
}

std::string DialogTest::ProgramTitle() {
#ifdef _WIN32
    return "kqtsetup_dialog_tests";
#else
    return "KqtSetup"; // the stand-in's program is C:\KQT50\KqtSetup.exe
#endif
}

INT_PTR Drive(const std::function<INT_PTR()>& modal, const std::function<HWND()>& window,
              std::vector<Step> steps, bool* cancelled) {
    Script script{window, std::move(steps)};
    g_script = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Tick);
    EXPECT_NE(timer, 0u);
    const INT_PTR result = modal();
    KillTimer(nullptr, timer);
    g_script = nullptr;
    EXPECT_EQ(script.next, script.steps.size()) << "the dialog ended before every step had run";
    if (cancelled) {
        *cancelled = script.cancelled;
    }
    return result;
}

INT_PTR DialogTest::RunSetupDialog(std::vector<Step> steps, bool* cancelled) {
    CSetupDlg dlg;
    App().m_pMainWnd = &dlg;
    return Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; }, std::move(steps),
                 cancelled);
}

} // namespace kqsetuptest
