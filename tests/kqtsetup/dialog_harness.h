// Test support for the installer's dialog: the machine it looks at (ports, printers, serial
// configurations), the dialog run modally and driven from a timer as a person would drive it, and the
// message boxes it showed. The same tests run on the stand-in and, as a Windows x64 program, under wine64.
#pragma once

#include "KqtSetup.h"
#include "SetupDlg.h"

#ifndef _WIN32
#include "machine.h"
#endif

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kqsetuptest {

// The dialog's texts are code page 949; tests read and state them in UTF-8.
std::string Utf8(const std::string& ansi);
std::string Ansi(const std::string& utf8);

// The machine as the dialog finds it.
void SetPorts(const std::vector<std::string>& names);
// Deletes every local printer through the spooler's calls.
void RemoveAllPrinters();
// Adds local printers of these names (each test starts with none).
void AddPrinters(const std::vector<std::string>& names);
// The stored default configuration of a serial port ("COM1"), through the platform's own calls.
DCB StoredDcb(const char* device);
void StoreDcb(const char* device, const DCB& dcb);
// A configuration with the given line settings and flag word.
DCB MakeDcb(DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits, DWORD flags);

// The DCB flag word and its bits.
DWORD DcbFlags(const DCB& dcb);
void SetDcbFlags(DCB& dcb, DWORD flags);
constexpr DWORD kBinary = 1u << 0;
constexpr DWORD kParityCheck = 1u << 1;
constexpr DWORD kCts = 1u << 2;
constexpr DWORD kDsr = 1u << 3;
constexpr DWORD kOutX = 1u << 8;
constexpr DWORD kInX = 1u << 9;
constexpr DWORD kFlowBits = kCts | kDsr | kOutX | kInX;

// Reading the dialog, as a person sees it.
std::vector<std::string> Items(HWND dialog, int id);
std::string Selection(HWND dialog, int id); // "" when nothing is selected
std::string Text(HWND dialog, int id);
// The five serial selections: rate, data bits, parity, stop bits, flow control.
std::vector<std::string> SerialSelections(HWND dialog);
// "enabled" or "disabled" when the five serial lists and their labels agree, "mixed" otherwise.
std::string SerialState(HWND dialog);
bool Enabled(HWND dialog, int id);
// The application's other dialog that is open now (the about box), or null.
HWND OtherDialog(HWND dialog);

// Acting on it: the user picks item `index` of a combo box (which then notifies the dialog), or the item of
// that text; the user chooses a system-menu command.
void Pick(HWND dialog, int id, int index);
void PickText(HWND dialog, int id, const std::string& utf8);
void ChooseSystemCommand(HWND dialog, UINT command);

// Runs `modal` (DoModal, or the application's start); `steps` run one by one on a thread timer inside the
// modal loop while `window` is visible and no message box is open, and then the dialog is cancelled if it is
// still open (`*cancelled` tells whether that was needed). Returns what `modal` returned.
using Step = std::function<void(HWND dialog)>;
INT_PTR Drive(const std::function<INT_PTR()>& modal, const std::function<HWND()>& window,
              std::vector<Step> steps, bool* cancelled = nullptr);

struct Box {
    std::string caption; // UTF-8
    std::string text;
};

#ifdef _WIN32
using DialogTestBase = ::testing::Test;
#else
using DialogTestBase = kqtest::MachineTest;
#endif

class DialogTest : public DialogTestBase {
  protected:
    void SetUp() override;
    void TearDown() override;

    CSetupApp& App() { return *app_; }
    // The message boxes shown since the test began, in order.
    std::vector<Box> Boxes() const;
    // String-table text, UTF-8.
    static std::string String(UINT id);
    // The title that message boxes must carry: the program's file name without extension.
    static std::string ProgramTitle();

    // A CSetupDlg of its own, as the application runs it.
    INT_PTR RunSetupDialog(std::vector<Step> steps, bool* cancelled = nullptr);
    // The dialog of the application's start (CSetupApp::InitInstance), which is the main window meanwhile.
    static CSetupDlg& MainDialog() { return *static_cast<CSetupDlg*>(AfxGetMainWnd()); }

  private:
    std::optional<CSetupApp> app_;
};

} // namespace kqsetuptest
