// The afx classes where the installer leans on MFC's behaviour: multibyte strings, command routing from a
// dialog to the application, the counted wait cursor. Runs on the stand-in and under wine64.
#include "dialog_harness.h"

namespace kqsetuptest {
namespace {

#ifdef _WIN32
using AfxTest = ::testing::Test;
#else
using AfxTest = kqtest::MachineTest;
#endif

// Code page 949: 0x81 0x4B and 0x81 0x61 are double-byte characters whose trail bytes are 'K' and 'a'.
const char kTrailK[] = "\x81\x4B";
const char kTrailA[] = "\x81\x61";

TEST_F(AfxTest, StringCaseAndSearchNeverSplitADoubleByteCharacter) {
    struct Upper {
        std::string text;
        std::string upper;
    };
    const Upper uppers[] = {
        {"com1:", "COM1:"},
        {std::string("a") + kTrailA + "b", std::string("A") + kTrailA + "B"},
        {Ansi("포트 lpt1:"), Ansi("포트 LPT1:")},
    };
    for (const Upper& u : uppers) {
        CString s(u.text.c_str());
        EXPECT_EQ(std::string(s.MakeUpper()), u.upper) << Utf8(u.text);
    }

    struct Search {
        std::string text;
        int at;
    };
    const Search searches[] = {
        {"KQT-50 Receipt", 0},
        {"Shop KQT-50", 5},
        {"kqt-50 receipt", -1},
        {std::string(kTrailK) + "QT-50", -1}, // "KQT-50" across a character boundary
        {std::string(kTrailK) + "KQT-50", 2},
    };
    for (const Search& s : searches) {
        EXPECT_EQ(CString(s.text.c_str()).Find("KQT-50"), s.at) << Utf8(s.text);
    }
    EXPECT_EQ(CString("COM1: COM1:").Find("COM1:", 1), 6);
    EXPECT_EQ(CString("COM1:").Find("COM1:", 6), -1);
}

// Commands that the dialog's map chain (its own, then CDialog's) does not take reach the application's map.
constexpr UINT kIdBoth = 0x8001;
constexpr UINT kIdAppOnly = 0x8002;
std::vector<std::string> g_calls;

class RoutingApp : public CWinApp {
  public:
    RoutingApp() : CWinApp("Routing Test") {}
    afx_msg void OnBoth() { g_calls.push_back("app: both"); }
    afx_msg void OnAppOnly() { g_calls.push_back("app: app only"); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(RoutingApp, CWinApp)
ON_COMMAND(kIdBoth, OnBoth)
ON_COMMAND(kIdAppOnly, OnAppOnly)
END_MESSAGE_MAP()

class RoutingDialog : public CDialog {
  public:
    RoutingDialog() : CDialog(IDD_ABOUTBOX) {}
    afx_msg void OnBoth() { g_calls.push_back("dialog: both"); }
    void OnOK() override {
        g_calls.push_back("dialog: OK");
        CDialog::OnOK();
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(RoutingDialog, CDialog)
ON_COMMAND(kIdBoth, OnBoth)
END_MESSAGE_MAP()

TEST_F(AfxTest, CommandsGoFromTheDialogUpItsMapsAndThenToTheApplication) {
    g_calls.clear();
    RoutingApp app;
    RoutingDialog dlg;
    const auto send = [](HWND dialog, UINT id, WORD code) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), 0);
    };
    const INT_PTR result =
        Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; }, {[&](HWND dialog) {
                  send(dialog, kIdBoth, 0);
                  send(dialog, kIdAppOnly, 0);
                  send(dialog, kIdAppOnly, 1); // an accelerator's code: not a command
                  send(dialog, ID_HELP, 0);    // nobody's
                  send(dialog, IDOK, BN_CLICKED);
              }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"dialog: both", "app: app only", "dialog: OK"}));
}

// ID_HELP, routed by the application to the framework's OnHelp, asks WinHelp for the help's contents.
class HelpApp : public CWinApp {
  public:
    HelpApp() : CWinApp("Help Test") {}
    void WinHelp(DWORD_PTR dwData, UINT nCmd) override {
        g_calls.push_back("help " + std::to_string(dwData) + " " + std::to_string(nCmd));
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(HelpApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

TEST_F(AfxTest, HelpCommandReachesTheApplicationsWinHelp) {
    g_calls.clear();
    HelpApp app;
    RoutingDialog dlg;
    Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; },
          {[](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0); }});
    EXPECT_EQ(g_calls, (std::vector<std::string>{"help 0 " + std::to_string(HELP_CONTENTS)}));
}

TEST_F(AfxTest, WaitCursorIsCountedAndRestoresTheCursorBeforeIt) {
    RoutingApp app;
    const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(arrow, wait);
    SetCursor(arrow);
    {
        const CWaitCursor outer;
        EXPECT_EQ(GetCursor(), wait);
        app.BeginWaitCursor();
        SetCursor(arrow); // a message box meanwhile
        app.EndWaitCursor();
        EXPECT_EQ(GetCursor(), wait) << "one wait is still on";
    }
    EXPECT_EQ(GetCursor(), arrow);
    app.EndWaitCursor(); // one end too many changes nothing
    EXPECT_EQ(GetCursor(), arrow);
    app.BeginWaitCursor();
    EXPECT_EQ(GetCursor(), wait);
    app.EndWaitCursor();
    EXPECT_EQ(GetCursor(), arrow);
}

} // namespace
} // namespace kqsetuptest
