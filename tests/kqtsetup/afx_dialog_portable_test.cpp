// The afx classes where the installer leans on MFC's behaviour: multibyte strings, command routing from a
// dialog to the application, the counted wait cursor. Runs on the stand-in and under wine64.
#include "dialog_harness.h"

#include <optional>

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
    // a double-byte character at the very end: its trail byte is no character of its own
    EXPECT_EQ(CString((std::string("x") + kTrailK).c_str()).Find("K"), -1);
}

// Format gives the whole text whatever its length: none, exactly the first buffer's size, or more.
TEST_F(AfxTest, FormatGivesTheWholeText) {
    for (const size_t length : {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{129}, size_t{5000}}) {
        const std::string text(length, 'k');
        CString s("before");
        s.Format("%s", text.c_str());
        EXPECT_EQ(std::string(s), text) << length;
    }
}

// Equality is exact, byte for byte, whichever side the plain string stands on; a null string is empty.
TEST_F(AfxTest, StringEqualityIsExactOnEitherSide) {
    struct Pair {
        const char* a;
        const char* b;
        bool equal;
    };
    const Pair pairs[] = {
        {"COM1:", "COM1:", true}, {"COM1:", "com1:", false}, {"COM1:", "COM1", false}, {"", "", true},
        {kTrailK, kTrailA, false},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(std::string(p.a) + " / " + p.b);
        const CString a(p.a);
        const CString b(p.b);
        EXPECT_EQ(a == b, p.equal);
        EXPECT_EQ(a == p.b, p.equal);
        EXPECT_EQ(p.a == b, p.equal);
        EXPECT_EQ(a != b, !p.equal);
        EXPECT_EQ(a != p.b, !p.equal);
        EXPECT_EQ(p.a != b, !p.equal);
    }
    EXPECT_TRUE(CString() == static_cast<LPCSTR>(nullptr));
    EXPECT_FALSE(CString("x") == static_cast<LPCSTR>(nullptr));
}

// Commands that the dialog's map chain (its own, then CDialog's) does not take reach the application's map.
constexpr UINT kIdBoth = 0x8001;
constexpr UINT kIdAppOnly = 0x8002;
constexpr UINT kIdSystem = 0xF000; // the first system command (SC_SIZE)
std::vector<std::string> g_calls;

class RoutingApp : public CWinApp {
  public:
    RoutingApp() : CWinApp("Routing Test") {}
    afx_msg void OnBoth() { g_calls.push_back("app: both"); }
    afx_msg void OnAppOnly() { g_calls.push_back("app: app only"); }
    afx_msg void OnSystem() { g_calls.push_back("app: system"); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(RoutingApp, CWinApp)
ON_COMMAND(kIdBoth, OnBoth)
ON_COMMAND(kIdAppOnly, OnAppOnly)
ON_COMMAND(kIdSystem, OnSystem)
END_MESSAGE_MAP()

constexpr UINT kAnswerMessage = WM_APP + 1;

class RoutingDialog : public CDialog {
  public:
    RoutingDialog() : CDialog(IDD_ABOUTBOX) {}
    afx_msg void OnBoth() { g_calls.push_back("dialog: both"); }
    afx_msg LRESULT OnAnswer(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam) + 1000; }
    void OnOK() override {
        g_calls.push_back("dialog: OK");
        CDialog::OnOK();
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(RoutingDialog, CDialog)
ON_COMMAND(kIdBoth, OnBoth)
ON_MESSAGE(kAnswerMessage, OnAnswer)
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
                  send(dialog, kIdSystem, 0);  // a system command never goes to the application
                  // a handler's result reaches the sender through the dialog's message result
                  EXPECT_EQ(SendMessageA(dialog, kAnswerMessage, 1, 0), 1001);
                  EXPECT_EQ(SendMessageA(dialog, kAnswerMessage, 2, 0), 1002);
                  send(dialog, IDOK, BN_CLICKED);
              }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"dialog: both", "app: app only", "dialog: OK"}));
}

// Initialisation data fills the dialog's controls item by item: unaligned items of control id, message, byte
// count and text, up to a zero id or the end of the data. A control that refuses an item, and damaged data,
// make it FALSE. The dialog's OK button stands in for a list, answering as told.
struct Received {
    UINT message;
    std::string text;
    bool operator==(const Received&) const = default;
};
std::vector<Received> g_received;
LRESULT g_answer = 0;
WNDPROC g_buttonProc = nullptr;

LRESULT CALLBACK ListSpy(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    if (message == CB_ADDSTRING || message == LB_ADDSTRING) {
        g_received.push_back({message, reinterpret_cast<const char*>(lp)});
        return g_answer;
    }
    return CallWindowProcA(g_buttonProc, w, message, wp, lp);
}

using Bytes = std::vector<BYTE>;
Bytes Item(WORD id, WORD message, const std::string& text, DWORD length) {
    Bytes b = {LOBYTE(id), HIBYTE(id), LOBYTE(message), HIBYTE(message)};
    for (int shift = 0; shift < 32; shift += 8) {
        b.push_back(static_cast<BYTE>(length >> shift));
    }
    b.insert(b.end(), text.begin(), text.end());
    return b;
}
Bytes Item(WORD id, WORD message, const std::string& text) {
    return Item(id, message, std::string(text.c_str(), text.size() + 1), static_cast<DWORD>(text.size() + 1));
}
Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST_F(AfxTest, InitialisationDataFillsTheListsAndRefusesDamage) {
    constexpr WORD kCombo = 0x0403; // the Win16 numbers that resource compilers write
    constexpr WORD kList = 0x0401;
    const Bytes end = {0, 0};
    struct Case {
        const char* what;
        Bytes data;
        LRESULT answer;
        BOOL result;
        std::vector<Received> received;
    };
    const Case cases[] = {
        {"two items, then the end", Join({Item(IDOK, kCombo, "9600"), Item(IDOK, kList, "8"), end}), 0, TRUE,
         {{CB_ADDSTRING, "9600"}, {LB_ADDSTRING, "8"}}},
        {"other data is passed over", Join({Item(IDOK, 0x1234, "ole"), Item(IDOK, kCombo, "a"), end}), 0, TRUE,
         {{CB_ADDSTRING, "a"}}},
        {"the last item fills the data", Item(IDOK, kCombo, "a"), 0, TRUE, {{CB_ADDSTRING, "a"}}},
        {"an empty item at the very end", Item(IDOK, kCombo, "", 0), 0, TRUE, {{CB_ADDSTRING, ""}}},
        {"a text without its zero", Join({Item(IDOK, kCombo, "ab", 2), end}), 0, TRUE, {{CB_ADDSTRING, "ab"}}},
        {"nothing", {}, 0, TRUE, {}},
        {"half an item", {LOBYTE(IDOK), HIBYTE(IDOK)}, 0, FALSE, {}},
        {"a header cut short", Join({Item(IDOK, kCombo, "a"), {LOBYTE(IDOK), 0, 3, 4, 0, 0, 0}}), 0, FALSE,
         {{CB_ADDSTRING, "a"}}},
        {"a text beyond the data", Item(IDOK, kCombo, "abc", 5), 0, FALSE, {}},
        {"the list refuses an item", Join({Item(IDOK, kCombo, "a"), Item(IDOK, kCombo, "b"), end}), CB_ERR, FALSE,
         {{CB_ADDSTRING, "a"}, {CB_ADDSTRING, "b"}}},
        {"the list has no room", Join({Item(IDOK, kCombo, "a"), end}), CB_ERRSPACE, FALSE, {{CB_ADDSTRING, "a"}}},
    };
    RoutingApp app;
    RoutingDialog dlg;
    Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; }, {[&](HWND dialog) {
              const HWND button = GetDlgItem(dialog, IDOK);
              g_buttonProc = reinterpret_cast<WNDPROC>(
                  SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListSpy)));
              for (const Case& c : cases) {
                  SCOPED_TRACE(c.what);
                  g_received.clear();
                  g_answer = c.answer;
                  EXPECT_EQ(dlg.ExecuteDlgInit(c.data.data(), static_cast<DWORD>(c.data.size())), c.result);
                  EXPECT_EQ(g_received, c.received);
              }
              EXPECT_TRUE(dlg.ExecuteDlgInit(nullptr, 8));
              SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_buttonProc));
          }});
}

// A window object attaches to a window that no other object holds, and detaching lets go of it in the map too.
TEST_F(AfxTest, AttachAndDetachKeepTheWindowMapRight) {
    RoutingApp app;
    RoutingDialog dlg;
    Drive([&dlg] { return dlg.DoModal(); }, [&dlg] { return dlg.m_hWnd; }, {[](HWND dialog) {
              const HWND button = GetDlgItem(dialog, IDOK);
              CWnd first;
              CWnd second;
              EXPECT_TRUE(first.Attach(button));
              EXPECT_EQ(CWnd::FromHandlePermanent(button), &first);
              EXPECT_FALSE(second.Attach(button)) << "held already";
              second.m_hWnd = button; // a handle that the object only names
              EXPECT_EQ(second.Detach(), button);
              EXPECT_EQ(CWnd::FromHandlePermanent(button), &first) << "it let go of another object's window";
              EXPECT_EQ(first.m_hWnd, button);
              EXPECT_EQ(first.Detach(), button);
              EXPECT_EQ(first.m_hWnd, nullptr);
              EXPECT_EQ(CWnd::FromHandlePermanent(button), nullptr);
              EXPECT_TRUE(second.Attach(button));
              EXPECT_EQ(second.Detach(), button);
          }});
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

// The application is the one made last, until it goes; one that goes meanwhile leaves it alone.
TEST_F(AfxTest, TheApplicationIsTheOneMadeLastUntilItGoes) {
    std::optional<RoutingApp> first(std::in_place);
    EXPECT_EQ(AfxGetApp(), &*first);
    {
        HelpApp second;
        EXPECT_EQ(AfxGetApp(), &second);
        first.reset();
        EXPECT_EQ(AfxGetApp(), &second);
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
}

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

    // Restore brings the wait cursor back after something changed it, and keeps the cursor to go back to.
    const HCURSOR beam = LoadCursorA(nullptr, IDC_IBEAM);
    ASSERT_NE(beam, arrow);
    SetCursor(beam);
    {
        CWaitCursor scoped;
        SetCursor(arrow);
        scoped.Restore();
        EXPECT_EQ(GetCursor(), wait);
    }
    EXPECT_EQ(GetCursor(), beam);
}

} // namespace
} // namespace kqsetuptest
