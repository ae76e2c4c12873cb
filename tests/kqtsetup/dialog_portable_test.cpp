// The installer's main dialog as a person uses it: the ports it offers, what it finds installed, the serial
// settings it shows and writes back, the system menu. Runs on the stand-in and, as a Windows x64 program,
// under wine64 against Wine's user32, spooler and serial configuration.
#include "dialog_harness.h"

#include <commctrl.h>

#include <cstring>

namespace kqsetuptest {
namespace {

using Strings = std::vector<std::string>;

TEST_F(DialogTest, PortListHoldsSupportedPortsUpperCasedAndSortedWithTheFirstComChosen) {
    struct Case {
        Strings ports;
        Strings listed;
        std::string chosen;
        std::string serial;
    };
    const Case cases[] = {
        {{"com1:", "Lpt2:", "file:", "FILE", "USB001", "IP_10.0.0.5", "\\\\server\\receipts"},
         {"COM1:", "FILE:", "LPT2:"},
         "COM1:",
         "enabled"},
        {{"LPT1:", "COM2:", "COM1:"}, {"COM1:", "COM2:", "LPT1:"}, "COM1:", "enabled"},
        {{"LPT1:", "FILE:"}, {"FILE:", "LPT1:"}, "FILE:", "disabled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.ports));
        ASSERT_NO_FATAL_FAILURE(SetPorts(c.ports));
        RunSetupDialog({[&](HWND dialog) {
            EXPECT_EQ(Items(dialog, IDC_PORT), c.listed);
            EXPECT_EQ(Selection(dialog, IDC_PORT), c.chosen);
            EXPECT_EQ(SerialState(dialog), c.serial);
            EXPECT_TRUE(Enabled(dialog, IDC_PORT));
        }});
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DialogTest, WithoutSupportedPortMessage110ShowsOnceAndTheDialogClosesByItself) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"USB001", "FILE", "IP_10.0.0.5"}));
    bool cancelled = true;
    EXPECT_EQ(RunSetupDialog({}, &cancelled), IDCANCEL);
    EXPECT_FALSE(cancelled) << "the test had to close the dialog";
    const std::vector<Box> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].text.empty());
    EXPECT_EQ(boxes[0].text, String(IDS_NO_SUPPORTED_PORT));
    EXPECT_EQ(boxes[0].caption, ProgramTitle());
}

TEST_F(DialogTest, InstalledPrinterIsFoundByTheModelWordInExactCase) {
    struct Case {
        Strings printers;
        Strings found;
    };
    const Case cases[] = {
        {{}, {}},
        {{"KQT-50 Receipt"}, {"KQT-50 Receipt"}},
        {{"Office Laser", "Shop KQT-50 Receipt (2)"}, {"Shop KQT-50 Receipt (2)"}},
        {{"kqt-50 receipt", "KQT50 Receipt", "Kqt-50"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.printers));
        ASSERT_NO_FATAL_FAILURE(RemoveAllPrinters());
        ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
        ASSERT_NO_FATAL_FAILURE(AddPrinters(c.printers));
        const bool installed = !c.found.empty();
        RunSetupDialog({[&](HWND dialog) {
            EXPECT_EQ(Enabled(dialog, IDC_REMOVE), installed);
            EXPECT_EQ(Enabled(dialog, IDC_INSTALL), !installed);
            EXPECT_EQ(Text(dialog, IDC_STATUS), String(installed ? IDS_CLICK_REMOVE : IDS_CLICK_INSTALL));
            CStringArray names;
            names.Add("left from before");
            EXPECT_EQ(MainDialog().FindInstalledPrinters(names) != FALSE, installed);
            Strings found;
            for (INT_PTR i = 0; i < names.GetSize(); ++i) {
                found.push_back(static_cast<LPCSTR>(names[i]));
            }
            EXPECT_EQ(found, c.found);
        }});
        EXPECT_TRUE(Boxes().empty());
    }
}

TEST_F(DialogTest, ComPortShowsItsStoredSettings) {
    struct Case {
        DCB stored;
        Strings shown;
    };
    const Case cases[] = {
        {MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, kBinary), {"9600", "8", "없음", "1", "없음"}},
        {MakeDcb(115200, 7, EVENPARITY, TWOSTOPBITS, kOutX), {"115200", "7", "짝수", "2", "Xon / Xoff"}},
        {MakeDcb(4800, 5, ODDPARITY, ONE5STOPBITS, kCts), {"4800", "5", "홀수", "1.5", "하드웨어"}},
        {MakeDcb(300, 4, MARKPARITY, ONESTOPBIT, kDsr | kInX), {"300", "4", "표시", "1", "Xon / Xoff"}},
        {MakeDcb(921600, 6, SPACEPARITY, ONESTOPBIT, kDsr), {"921600", "6", "공백", "1", "하드웨어"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.shown));
        ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
        ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", c.stored));
        RunSetupDialog({[&](HWND dialog) { EXPECT_EQ(SerialSelections(dialog), c.shown); }});
    }
}

TEST_F(DialogTest, UnlistedRateIsAppendedOnceAndARatePrefixSelectsTheListedRate) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:", "COM2:", "COM3:"}));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", MakeDcb(14400, 8, NOPARITY, ONESTOPBIT, 0)));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM2", MakeDcb(14400, 8, NOPARITY, ONESTOPBIT, 0)));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM3", MakeDcb(1920, 8, NOPARITY, ONESTOPBIT, 0)));
    RunSetupDialog({
        [](HWND dialog) {
            const Strings rates = Items(dialog, IDC_BAUDRATE);
            ASSERT_EQ(rates.size(), 14u);
            EXPECT_EQ(rates.back(), "14400");
            EXPECT_EQ(Selection(dialog, IDC_BAUDRATE), "14400");
            PickText(dialog, IDC_PORT, "COM2:");
        },
        [](HWND dialog) {
            EXPECT_EQ(Items(dialog, IDC_BAUDRATE).size(), 14u);
            EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_BAUDRATE, CB_GETCURSEL, 0, 0), 13);
            PickText(dialog, IDC_PORT, "COM3:");
        },
        [](HWND dialog) {
            EXPECT_EQ(Selection(dialog, IDC_BAUDRATE), "19200");
            EXPECT_EQ(Items(dialog, IDC_BAUDRATE).size(), 14u);
            EXPECT_TRUE(MainDialog().WriteSerialSettings("COM3:"));
        },
    });
    EXPECT_EQ(StoredDcb("COM3").BaudRate, 19200u);
    EXPECT_EQ(StoredDcb("COM1").BaudRate, 14400u);
}

TEST_F(DialogTest, LptAndFileDisableTheSerialControlsAndAComPortReloadsThem) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:", "LPT1:", "FILE:"}));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, 0)));
    const Strings first = {"9600", "8", "없음", "1", "없음"};
    RunSetupDialog({
        [&](HWND dialog) {
            EXPECT_EQ(SerialState(dialog), "enabled");
            EXPECT_EQ(SerialSelections(dialog), first);
            PickText(dialog, IDC_PORT, "LPT1:");
        },
        [&](HWND dialog) {
            EXPECT_EQ(SerialState(dialog), "disabled");
            EXPECT_TRUE(Enabled(dialog, IDC_PORT));
            EXPECT_EQ(SerialSelections(dialog), first); // kept, disabled
            // changed behind the dialog's back: choosing the port again must read it anew
            StoreDcb("COM1", MakeDcb(57600, 7, EVENPARITY, TWOSTOPBITS, kCts));
            PickText(dialog, IDC_PORT, "FILE:");
        },
        [](HWND dialog) {
            EXPECT_EQ(SerialState(dialog), "disabled");
            PickText(dialog, IDC_PORT, "COM1:");
        },
        [](HWND dialog) {
            EXPECT_EQ(SerialState(dialog), "enabled");
            EXPECT_EQ(SerialSelections(dialog), (Strings{"57600", "7", "짝수", "2", "하드웨어"}));
        },
    });
}

TEST_F(DialogTest, WriteBackChangesTheChosenSettingsAndNothingElse) {
    // Every other field and flag carries a value of its own, so that a change anywhere shows.
    DCB base = MakeDcb(4800, 7, EVENPARITY, TWOSTOPBITS, 0);
    base.XonLim = 100;
    base.XoffLim = 200;
    base.XonChar = 0x11;
    base.XoffChar = 0x13;
    base.ErrorChar = '?';
    base.EofChar = 0x1A;
    base.EvtChar = 0x0D;
    const DWORD otherFlags = kBinary | (2u << 4) /* DTR handshake */ | (1u << 6) | (1u << 7) | (1u << 10) |
                             (1u << 11) | (3u << 12) /* RTS toggle */ | (1u << 14);
    struct Case {
        DWORD storedFlow;
        DWORD parityCheck; // fParity, which choosing a parity must leave alone
        int choice;        // item of the flow-control list
        DWORD writtenFlow;
    };
    const Case cases[] = {
        {kOutX | kInX, kParityCheck, 1, kCts | kDsr},
        {kCts, 0, 0, kOutX | kInX},
        {kCts | kDsr | kOutX | kInX, kParityCheck, 2, 0},
        {0, 0, 1, kCts | kDsr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored flow " << c.storedFlow << ", choice " << c.choice);
        ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
        DCB stored = base;
        SetDcbFlags(stored, otherFlags | c.parityCheck | c.storedFlow);
        ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", stored));
        RunSetupDialog({[&](HWND dialog) {
            Pick(dialog, IDC_FLOWCONTROL, c.choice);
            PickText(dialog, IDC_PARITY, "홀수");
            EXPECT_TRUE(MainDialog().WriteSerialSettings("COM1:"));
        }});
        DCB expected = stored;
        expected.Parity = ODDPARITY;
        SetDcbFlags(expected, otherFlags | c.parityCheck | c.writtenFlow);
        const DCB written = StoredDcb("COM1");
        EXPECT_EQ(DcbFlags(written), DcbFlags(expected));
        EXPECT_EQ(std::memcmp(&written, &expected, sizeof(DCB)), 0)
            << "a field other than the chosen ones changed";
    }
}

TEST_F(DialogTest, WriteBackLeavesASettingWithoutSelectionAsStored) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    // Values outside the lists: data bits 9, parity 5, stop bits 3.
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", MakeDcb(2400, 9, 5, 3, kOutX)));
    RunSetupDialog({[](HWND dialog) {
        EXPECT_EQ(SerialSelections(dialog), (Strings{"2400", "", "", "", "Xon / Xoff"}));
        SendDlgItemMessageA(dialog, IDC_BAUDRATE, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        PickText(dialog, IDC_FLOWCONTROL, "없음");
        EXPECT_TRUE(MainDialog().WriteSerialSettings("COM1:"));
    }});
    const DCB written = StoredDcb("COM1");
    EXPECT_EQ(written.BaudRate, 2400u);
    EXPECT_EQ(written.ByteSize, 9);
    EXPECT_EQ(written.Parity, 5);
    EXPECT_EQ(written.StopBits, 3);
    EXPECT_EQ(DcbFlags(written) & kFlowBits, 0u);
}

TEST_F(DialogTest, PortsOtherThanComAndNamesWithoutColonAreNotConfigured) {
    // "COM3" loses its last character as every port name does: the serial calls get "COM", no such port.
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM3", "LPT1:"}));
    RunSetupDialog({[](HWND dialog) {
        EXPECT_EQ(Selection(dialog, IDC_PORT), "COM3");
        EXPECT_EQ(SerialState(dialog), "enabled");
        EXPECT_EQ(SerialSelections(dialog), (Strings{"", "", "", "", ""}));
        EXPECT_FALSE(MainDialog().WriteSerialSettings("COM3"));
        EXPECT_TRUE(MainDialog().WriteSerialSettings("LPT1:"));
        EXPECT_TRUE(MainDialog().WriteSerialSettings("FILE:"));
    }});
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DialogTest, ProgressStepsAndStatusLine) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    RunSetupDialog({[](HWND dialog) {
        CSetupDlg& dlg = MainDialog();
        const auto position = [dialog] {
            return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
        };
        dlg.BeginProgress();
        PBRANGE range{};
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(range.iLow, 1);
        EXPECT_EQ(range.iHigh, 4);
        EXPECT_EQ(position(), 1);
        dlg.ProgressStep(IDS_STEP_PORT);
        EXPECT_EQ(position(), 2);
        EXPECT_EQ(Text(dialog, IDC_STATUS), String(IDS_STEP_PORT));
        dlg.ProgressStep(9999); // no such string: the bar moves, the line stays
        EXPECT_EQ(position(), 3);
        EXPECT_EQ(Text(dialog, IDC_STATUS), String(IDS_STEP_PORT));
        // the status member follows the line only when the dialog's data is pulled
        EXPECT_TRUE(dlg.m_strStatus.IsEmpty());
        EXPECT_TRUE(dlg.UpdateData(TRUE));
        EXPECT_EQ(Utf8(static_cast<LPCSTR>(dlg.m_strStatus)), String(IDS_STEP_PORT));
    }});
}

TEST_F(DialogTest, AboutBoxOpensFromItsSystemMenuItemAfterASeparator) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    RunSetupDialog({
        [](HWND dialog) {
            const HMENU menu = GetSystemMenu(dialog, FALSE);
            ASSERT_NE(menu, nullptr);
            const int count = GetMenuItemCount(menu);
            ASSERT_GE(count, 2);
            EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
            char text[128] = {};
            GetMenuStringA(menu, static_cast<UINT>(count - 1), text, sizeof(text), MF_BYPOSITION);
            EXPECT_EQ(Utf8(text), String(IDS_ABOUTBOX));
            EXPECT_NE(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, 0u);
            ChooseSystemCommand(dialog, IDM_ABOUTBOX);
        },
        [](HWND dialog) {
            const HWND about = OtherDialog(dialog);
            ASSERT_NE(about, nullptr) << "no about box";
            char caption[128] = {};
            GetWindowTextA(about, caption, sizeof(caption));
            EXPECT_EQ(Utf8(caption), "KqtSetup 정보");
            EXPECT_FALSE(IsWindowEnabled(dialog)) << "the about box is modal";
            PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        },
        [](HWND dialog) {
            EXPECT_EQ(OtherDialog(dialog), nullptr);
            EXPECT_TRUE(IsWindowEnabled(dialog));
            // the about box's end let go of its own windows only
            EXPECT_EQ(CWnd::FromHandlePermanent(dialog), &MainDialog());
            EXPECT_EQ(MainDialog().m_cbPort.m_hWnd, GetDlgItem(dialog, IDC_PORT));
        },
    });
}

// The framework's part of the start shows the members in the controls: a status text set before the dialog
// opens is what its line shows, and the member keeps it.
class FrameworkStartDialog : public CSetupDlg {
  protected:
    BOOL OnInitDialog() override { return CDialog::OnInitDialog(); }
};

TEST_F(DialogTest, TheFrameworksStartShowsTheMembersInTheControls) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    FrameworkStartDialog dlg;
    dlg.m_strStatus = "preset";
    App().m_pMainWnd = &dlg;
    std::string shown;
    Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; },
          {[&](HWND dialog) { shown = Text(dialog, IDC_STATUS); }});
    App().m_pMainWnd = nullptr;
    EXPECT_EQ(shown, "preset");
    EXPECT_EQ(std::string(dlg.m_strStatus), "preset");
}

// A dialog that has ended lets go of its window and of its controls' windows.
TEST_F(DialogTest, AnEndedDialogLetsGoOfItsWindows) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    CSetupDlg dlg;
    App().m_pMainWnd = &dlg;
    HWND window = nullptr;
    HWND port = nullptr;
    Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; }, {[&](HWND dialog) {
              window = dialog;
              port = GetDlgItem(dialog, IDC_PORT);
              EXPECT_EQ(dlg.m_cbPort.m_hWnd, port);
              EXPECT_EQ(CWnd::FromHandlePermanent(port), &dlg.m_cbPort);
          }});
    App().m_pMainWnd = nullptr;
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_cbPort.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_progress.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(window), nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(port), nullptr);
}

TEST_F(DialogTest, OtherSystemCommandsMinimiseRestoreAndClose) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    bool cancelled = true;
    const INT_PTR result = RunSetupDialog(
        {
            [icon](HWND dialog) {
                EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)), icon);
                EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0)), icon);
                PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0); // as its taskbar button does
            },
            [icon](HWND dialog) {
                EXPECT_TRUE(IsIconic(dialog));
                EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), icon);
                PostMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
            },
            [](HWND dialog) {
                EXPECT_FALSE(IsIconic(dialog));
                ChooseSystemCommand(dialog, SC_CLOSE);
            },
        },
        &cancelled);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(cancelled) << "the close command did not end the dialog";
}

// The framework would say that help could not be started; the kit has no help file, and the installer
// shows nothing when help is asked for.
TEST_F(DialogTest, HelpShowsNothingAndTheDialogStaysOpen) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    bool cancelled = false;
    RunSetupDialog({[](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0); },
                    [](HWND dialog) { EXPECT_TRUE(IsWindowVisible(dialog)); }},
                   &cancelled);
    EXPECT_TRUE(cancelled) << "the help command closed the dialog";
    EXPECT_TRUE(Boxes().empty());

    App().CWinApp::WinHelp(0, HELP_CONTENTS);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Help could not be started.");
}

TEST_F(DialogTest, ApplicationRunsTheDialogOnceAndEndsWithoutMessageLoop) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    BOOL started = TRUE;
    Drive([&] { return static_cast<INT_PTR>(started = App().InitInstance()); },
          [] { return AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr; }, {[](HWND dialog) {
              EXPECT_EQ(AfxGetMainWnd()->m_hWnd, dialog);
              EXPECT_EQ(Text(dialog, IDC_STATUS), String(IDS_CLICK_INSTALL));
              // the focus went to the first tab stop, the port list
              EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_PORT));
          }});
    EXPECT_FALSE(started);
    EXPECT_EQ(AfxGetMainWnd(), nullptr) << "the main window outlived its dialog";
}

} // namespace
} // namespace kqsetuptest
