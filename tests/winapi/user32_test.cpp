// The headless user32 and the kernel32 pieces that the installer relies on behave as Windows does: resources
// and dialog templates, the modal loop with posted messages, timers and nested dialogs, the controls, message
// boxes, ports, serial configurations and file search. Built as ANSI code, as the installer is.
#undef UNICODE
#undef _UNICODE
#include "machine.h"

#include <commctrl.h>
#include <mbstring.h>

#include "kqwin/resources.h"

#include <cstring>
#include <functional>
#include <map>

namespace kqtest {
namespace {

// The machine's ANSI bytes (code page 949) of UTF-8 text.
std::string Ansi(const char* utf8) {
    std::vector<WCHAR> wide(std::strlen(utf8) + 1);
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), static_cast<int>(wide.size()));
    std::string out(static_cast<size_t>(n) * 2 + 1, '\0');
    const int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<size_t>(m));
    if (!out.empty() && out.back() == '\0') {
        out.pop_back();
    }
    return out;
}

std::string Text(HWND h) {
    char buf[256];
    GetWindowTextA(h, buf, sizeof(buf));
    return buf;
}

// A dialog procedure made of a function: WM_INITDIALOG's parameter carries it.
using Handler = std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>;

INT_PTR CALLBACK Trampoline(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(h, DWLP_USER, lp);
    }
    auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtrA(h, DWLP_USER));
    return handler ? (*handler)(h, msg, wp, lp) : FALSE;
}

INT_PTR RunDialog(int id, Handler handler, HWND owner = nullptr) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), owner, Trampoline,
                           reinterpret_cast<LPARAM>(&handler));
}

// Calls `action` on the thread's modal loop after `ms` milliseconds (a thread timer), once.
void After(UINT ms, std::function<void()> action) {
    static std::map<UINT_PTR, std::function<void()>> pending;
    const UINT_PTR id = SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        auto node = pending.extract(timer);
        if (!node.empty()) {
            node.mapped()();
        }
    });
    pending[id] = std::move(action);
}

class User32Test : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
#ifdef KQ_TEST_RES
        static const Bytes res = FileBytes(KQ_TEST_RES);
        kqwin::RegisterProgramResources(res.data(), res.size());
        haveResources_ = !res.empty();
#endif
    }
    bool haveResources_ = false;
};

#define NEED_RESOURCES()                                                                                           \
    if (!haveResources_) {                                                                                         \
        GTEST_SKIP() << "windres was not found at build time";                                                     \
    }

TEST_F(User32Test, StringsIconsAndModuleFromTheResourceFile) {
    NEED_RESOURCES();
    struct Case {
        UINT id;
        int max;
        std::string text;
    };
    const std::string about = Ansi("정보(&A)...");
    const Case cases[] = {
        {101, 256, about},
        {117, 256, Ansi("완료 했습니다.")},
        {118, 2, "A"},
        {101, 5, Ansi("정보")}, // a double-byte character that does not fit whole is left out
        {101, 4, Ansi("정")},
        {101, 1, ""},
        {116, 256, ""}, // same block, no such string
        {300, 256, ""}, // no such block
    };
    for (const Case& c : cases) {
        char buf[256];
        std::memset(buf, 'x', sizeof(buf));
        EXPECT_EQ(LoadStringA(nullptr, c.id, buf, c.max), static_cast<int>(c.text.size())) << c.id << "/" << c.max;
        EXPECT_EQ(std::string(buf), c.text) << c.id << "/" << c.max;
    }
    control::ResetCounters();
    control::InjectFault({control::Op::LoadStringResource, 1});
    char buf[64] = "old";
    EXPECT_EQ(LoadStringA(nullptr, 101, buf, sizeof(buf)), 0);

    const HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_EQ(FindResourceA(self, MAKEINTRESOURCEA(102), RT_DIALOG), FindResourceA(self, "#102", RT_DIALOG));
    const HRSRC bitmap = FindResourceA(self, MAKEINTRESOURCEA(129), RT_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(SizeofResource(self, bitmap), 20u);
    EXPECT_EQ(static_cast<const BYTE*>(LockResource(LoadResource(self, bitmap)))[0], 0x28);
    EXPECT_EQ(FindResourceA(self, MAKEINTRESOURCEA(999), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(self, MAKEINTRESOURCEA(102), RT_MENU), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

    const HICON icon = LoadIconA(self, MAKEINTRESOURCEA(128));
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCEA(128)), icon); // a loaded icon is shared
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCEA(135)), nullptr);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), icon);

    char path[64];
    EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof(path)), std::strlen("C:\\KQT50\\KqtSetup.exe"));
    EXPECT_STREQ(path, "C:\\KQT50\\KqtSetup.exe");
    control::SetProgramPath("D:\\SETUP\\KQT.EXE");
    EXPECT_EQ(GetModuleFileNameA(self, path, 8), 8u); // cut and terminated
    EXPECT_STREQ(path, "D:\\SETU");
    EXPECT_EQ(GetModuleHandleA("kqt.exe"), self);
}

TEST_F(User32Test, DialogsAreMadeFromBothTemplateForms) {
    NEED_RESOURCES();
    std::vector<HWND> controls;
    const INT_PTR result = RunDialog(102, [&](HWND dlg, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG) {
            return FALSE;
        }
        EXPECT_EQ(Text(dlg), Ansi("시험 설치 프로그램"));
        EXPECT_FALSE(IsWindowVisible(dlg)); // shown after WM_INITDIALOG
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dlg, GWL_EXSTYLE)) & WS_EX_APPWINDOW, static_cast<DWORD>(WS_EX_APPWINDOW));
        struct Expected {
            int id;
            const char* cls;
            std::string text;
        };
        const Expected expected[] = {{-1, "Static", ""},        {-1, "Static", Ansi("포트 설정(&T):")},
                                     {1000, "ComboBox", ""},    {1004, "ComboBox", ""},
                                     {1001, "Button", Ansi("설치(&O)")}, {1010, "Button", Ansi("제거(&R)")},
                                     {1018, "Static", ""},      {1017, "msctls_progress32", ""},
                                     {-1, "Static", ""},        {2, "Button", Ansi("취소(&C)")}};
        size_t i = 0;
        for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++i) {
            controls.push_back(c);
            if (i >= std::size(expected)) {
                continue;
            }
            char cls[64];
            GetClassNameA(c, cls, sizeof(cls));
            EXPECT_EQ(GetDlgCtrlID(c), expected[i].id) << i;
            EXPECT_STREQ(cls, expected[i].cls) << i;
            EXPECT_EQ(Text(c), expected[i].text) << i;
        }
        EXPECT_EQ(i, std::size(expected));
        // images come from the resources by the ordinal in the template
        EXPECT_NE(SendMessageA(controls[0], STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
        EXPECT_EQ(SendMessageA(controls[0], STM_GETIMAGE, IMAGE_ICON, 0), 0);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(controls[8], STM_GETICON, 0, 0)),
                  LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128)));
        // controls sit where the template puts them in dialog units, converted with the font's base units
        RECT unit{52, 56, 52 + 105, 56};
        MapDialogRect(dlg, &unit);
        EXPECT_EQ(unit.left, 78); // 9-point Gulim: 6 x 12 pixels per 4 x 8 dialog units
        EXPECT_EQ(unit.top, 84);
        RECT combo;
        RECT window;
        RECT client;
        GetWindowRect(controls[2], &combo);
        GetWindowRect(dlg, &window);
        GetClientRect(dlg, &client);
        EXPECT_EQ(client.right, 323);
        EXPECT_EQ(client.bottom, 338);
        const LONG frameX = (window.right - window.left - client.right) / 2;
        const LONG captionAndFrame = window.bottom - window.top - client.bottom - frameX;
        EXPECT_EQ(combo.left - window.left - frameX, unit.left);
        EXPECT_EQ(combo.top - window.top - captionAndFrame, unit.top);
        EXPECT_EQ(combo.right - combo.left, unit.right - unit.left);
        PostMessageA(dlg, WM_COMMAND, IDOK, 0);
        return TRUE;
    });
    // WM_COMMAND IDOK reached the dialog procedure, which left it to the default processing: nothing ends
    // the dialog, and the loop, with nothing left to wait for, ends it with -1 and says so.
    EXPECT_EQ(result, -1);
    EXPECT_EQ(control::ModalLoopErrors().size(), 1u);
    ASSERT_FALSE(controls.empty());
    for (HWND c : controls) {
        SetLastError(0);
        EXPECT_FALSE(IsWindow(c));
        EXPECT_EQ(GetWindowTextLengthA(c), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }

    // the plain form too; TRUE from WM_INITDIALOG puts the focus on the first tab stop, and a dialog without
    // WS_VISIBLE shows once its queue first runs dry
    for (const auto& [id, firstTabStop] : {std::pair{100, IDOK}, std::pair{102, 1000}}) {
        EXPECT_EQ(RunDialog(id,
                      [](HWND dlg, UINT msg, WPARAM, LPARAM) -> INT_PTR {
                          if (msg == WM_INITDIALOG) {
                              After(10, [dlg] {
                                  EXPECT_TRUE(IsWindowVisible(dlg));
                                  EndDialog(dlg, GetDlgCtrlID(GetFocus()));
                              });
                          }
                          return msg == WM_INITDIALOG;
                      }),
                  firstTabStop);
    }
}

// A class a DLL registers (as comctl32 registers its progress bar) is made by name from a dialog template; its
// procedure gets WM_NCCREATE first, with the CREATESTRUCT of the template's item. A name is registered once.
TEST_F(User32Test, RegisteredClassesAreMadeFromTemplatesByName) {
    static std::vector<std::string> seen;
    seen.clear();
    WNDCLASSA wc{};
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lp);
            seen.push_back(std::string(create->lpszClass) + "|" + create->lpszName + "|" + std::to_string(create->cx));
        }
        return DefWindowProcA(h, msg, wp, lp);
    };
    wc.lpszClassName = "msctls_progress32";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "comctl32 registered its class when it was loaded";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    wc.lpszClassName = "Kit Gauge";
    EXPECT_GE(RegisterClassA(&wc), 0xC000);
    wc.lpszClassName = "KIT GAUGE";
    EXPECT_EQ(RegisterClassA(&wc), 0);

    // DLGTEMPLATE, no menu, class or title; one item of the class "kit gauge", 40 units wide, titled "g"
    std::vector<WORD> t = {LOWORD(DS_MODALFRAME), HIWORD(DS_MODALFRAME), 0, 0, 1, 0, 0, 100, 50, 0, 0, 0};
    t.insert(t.end(), {LOWORD(WS_VISIBLE), HIWORD(WS_VISIBLE), 0, 0, 4, 4, 40, 10, 77});
    for (const char c : std::string("kit gauge")) {
        t.push_back(static_cast<WORD>(c));
    }
    t.insert(t.end(), {0, 'g', 0, 0});
    const INT_PTR result = DialogBoxIndirectParamA(
        nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), nullptr,
        [](HWND dlg, UINT msg, WPARAM, LPARAM) -> INT_PTR {
            if (msg == WM_INITDIALOG) {
                char cls[32] = {};
                GetClassNameA(GetDlgItem(dlg, 77), cls, sizeof(cls));
                EndDialog(dlg, std::string(cls) == "Kit Gauge" ? 1 : 2);
            }
            return msg == WM_INITDIALOG;
        },
        0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"Kit Gauge|g|80"})) << "40 units of the system font's 8 pixels per 4";
}

TEST_F(User32Test, ModalLoopRunsPostedMessagesTimersAndNestedDialogs) {
    NEED_RESOURCES();
    std::vector<std::string> seen;
    const INT_PTR result = RunDialog(102, [&](HWND dlg, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        switch (msg) {
        case WM_INITDIALOG:
            PostMessageA(dlg, WM_APP + 1, 0, 0);
            PostMessageA(dlg, WM_APP + 2, 0, 0);
            SetTimer(dlg, 7, 300, nullptr);
            After(200, [&] { seen.push_back("t200"); });
            After(100, [&] { seen.push_back("t100"); });
            return TRUE;
        case WM_APP + 1:
        case WM_APP + 2:
            seen.push_back("app" + std::to_string(msg - WM_APP));
            return TRUE;
        case WM_TIMER:
            KillTimer(dlg, wp);
            seen.push_back("window timer");
            // an about box from here: the main dialog is disabled while it runs, then enabled again
            seen.push_back("about " + std::to_string(RunDialog(
                                          100,
                                          [&](HWND about, UINT m, WPARAM command, LPARAM) -> INT_PTR {
                                              if (m == WM_INITDIALOG) {
                                                  EXPECT_FALSE(IsWindowEnabled(dlg));
                                                  PostMessageA(about, WM_KEYDOWN, VK_RETURN, 0);
                                              }
                                              if (m == WM_COMMAND) {
                                                  EndDialog(about, LOWORD(command) + 10);
                                              }
                                              return m == WM_INITDIALOG || m == WM_COMMAND;
                                          },
                                          dlg)));
            EXPECT_TRUE(IsWindowEnabled(dlg));
            PostMessageA(dlg, WM_CLOSE, 0, 0);
            return TRUE;
        case WM_COMMAND: // buttons only: the combo box's focus notices are not looked at
            if (HIWORD(wp) == BN_CLICKED) {
                seen.push_back("command " + std::to_string(LOWORD(wp)));
                EndDialog(dlg, LOWORD(wp));
            }
            return TRUE;
        default:
            return FALSE;
        }
    });
    EXPECT_EQ(result, IDCANCEL);
    // posted messages first, then timers by due time; Enter in the about box pressed its default button (1);
    // WM_CLOSE became the cancel button
    const std::vector<std::string> expected{"app1", "app2", "t100", "t200", "window timer", "about 11", "command 2"};
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(control::ModalLoopErrors().empty());
}

TEST_F(User32Test, KeysSystemMenuMinimisingAndPainting) {
    NEED_RESOURCES();
    std::vector<std::string> seen;
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    const INT_PTR result = RunDialog(102, [&](HWND dlg, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        switch (msg) {
        case WM_INITDIALOG: {
            SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            const HMENU menu = GetSystemMenu(dlg, FALSE);
            EXPECT_EQ(GetMenuItemCount(menu), 2);
            EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(SC_MOVE));
            EXPECT_EQ(GetMenuItemID(menu, 1), static_cast<UINT>(SC_CLOSE));
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, 0x10, Ansi("정보(&A)...").c_str());
            EXPECT_EQ(GetSystemMenu(dlg, FALSE), menu);
            EXPECT_EQ(GetMenuItemCount(menu), 4);
            EXPECT_EQ(GetMenuState(menu, 2, MF_BYPOSITION), static_cast<UINT>(MF_SEPARATOR));
            char text[32];
            EXPECT_EQ(GetMenuStringA(menu, 0x10, text, sizeof(text), MF_BYCOMMAND), 11);
            EXPECT_EQ(std::string(text), Ansi("정보(&A)..."));
            EXPECT_EQ(GetMenuState(menu, 0x99, MF_BYCOMMAND), static_cast<UINT>(-1));
            PostMessageA(dlg, WM_KEYDOWN, VK_RETURN, 0); // the default push button
            EXPECT_TRUE(control::ChooseSystemMenuItem(dlg, 0x10));
            EXPECT_FALSE(control::ChooseSystemMenuItem(dlg, 0x20));
            return TRUE;
        }
        case WM_COMMAND:
            if (HIWORD(wp) != BN_CLICKED) {
                return TRUE;
            }
            seen.push_back("command " + std::to_string(LOWORD(wp)));
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, 55);
            }
            return TRUE;
        case WM_SYSCOMMAND:
            seen.push_back("syscommand " + std::to_string(wp));
            if (wp == 0x10) {
                SendMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                EXPECT_TRUE(IsIconic(dlg));
                SendMessageA(dlg, WM_SYSCOMMAND, SC_MOVE, 0);
                PostMessageA(GetDlgItem(dlg, 1000), WM_KEYDOWN, VK_ESCAPE, 0); // Escape on a control
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (IsIconic(dlg)) { // as a dialog paints its icon while minimised
                PAINTSTRUCT ps;
                const HDC dc = BeginPaint(dlg, &ps);
                RECT r;
                GetClientRect(dlg, &r);
                DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                         (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                         reinterpret_cast<HICON>(SendMessageA(dlg, WM_GETICON, ICON_BIG, 0)));
                EndPaint(dlg, &ps);
                seen.push_back("painted iconic");
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
        }
    });
    EXPECT_EQ(result, 55);
    const std::vector<std::string> expected{"command 1001", "syscommand 16",
                                            "syscommand " + std::to_string(SC_MINIMIZE), "painted iconic",
                                            "syscommand " + std::to_string(SC_MOVE), "command 2"};
    EXPECT_EQ(seen, expected);
    const auto draws = control::IconDraws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].icon, icon);
    EXPECT_EQ(draws[0].x, 8); // the iconic client area is 48 x 40
    EXPECT_EQ(draws[0].y, 4);
}

TEST_F(User32Test, ComboBoxesSortSearchAndNotifyAsUser32Does) {
    NEED_RESOURCES();
    std::vector<std::string> notes;
    RunDialog(102, [&](HWND dlg, UINT msg, WPARAM wp, LPARAM lp) -> INT_PTR {
        if (msg == WM_COMMAND) {
            notes.push_back(std::to_string(LOWORD(wp)) + "/" + std::to_string(HIWORD(wp)) +
                            (reinterpret_cast<HWND>(lp) == GetDlgItem(dlg, LOWORD(wp)) ? "" : " wrong handle"));
            return TRUE;
        }
        if (msg != WM_INITDIALOG) {
            return FALSE;
        }
        const HWND sorted = GetDlgItem(dlg, 1000);
        auto send = [&](UINT m, WPARAM w, const char* s) {
            return SendMessageA(sorted, m, w, reinterpret_cast<LPARAM>(s));
        };
        for (const char* port : {"LPT1:", "COM10:", "file:", "COM1:", "COM2:"}) {
            send(CB_ADDSTRING, 0, port);
        }
        std::vector<std::string> order;
        for (int i = 0; i < SendMessageA(sorted, CB_GETCOUNT, 0, 0); ++i) {
            char buf[16];
            EXPECT_EQ(SendMessageA(sorted, CB_GETLBTEXTLEN, i, 0), send(CB_GETLBTEXT, i, buf));
            order.push_back(buf);
        }
        EXPECT_EQ(order, (std::vector<std::string>{"COM1:", "COM10:", "COM2:", "file:", "LPT1:"}));
        struct Search {
            UINT msg;
            int start;
            const char* text;
            LRESULT found;
        };
        const Search searches[] = {
            {CB_FINDSTRING, -1, "com", 0},       {CB_FINDSTRING, 0, "com", 1},  {CB_FINDSTRING, 2, "COM", 0},
            {CB_FINDSTRING, 1, "FILE", 3},       {CB_FINDSTRING, -1, "x", CB_ERR},
            {CB_FINDSTRINGEXACT, -1, "com2:", 2}, {CB_FINDSTRINGEXACT, -1, "COM", CB_ERR},
            {CB_FINDSTRINGEXACT, 2, "COM2:", 2},
        };
        for (const Search& s : searches) {
            EXPECT_EQ(send(s.msg, static_cast<WPARAM>(s.start), s.text), s.found) << s.text << " after " << s.start;
        }
        EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(send(CB_SELECTSTRING, static_cast<WPARAM>(-1), "lpt"), 4);
        EXPECT_EQ(send(CB_SELECTSTRING, static_cast<WPARAM>(-1), "USB"), CB_ERR);
        EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), 4) << "a failed search leaves the selection";
        EXPECT_EQ(Text(sorted), "LPT1:");
        send(CB_ADDSTRING, 0, "COM3:"); // goes before the selection, which moves with its item
        EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), 5);
        EXPECT_EQ(SendMessageA(sorted, CB_SETCURSEL, 6, 0), CB_ERR);
        EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), CB_ERR) << "an index outside the list clears it";
        EXPECT_EQ(Text(sorted), "");
        EXPECT_EQ(SendMessageA(sorted, CB_SETCURSEL, 2, 0), 2);
        EXPECT_EQ(SendMessageA(sorted, CB_DELETESTRING, 2, 0), 5);
        EXPECT_EQ(SendMessageA(sorted, CB_GETCURSEL, 0, 0), CB_ERR);

        const HWND plain = GetDlgItem(dlg, 1004);
        const std::string korean = Ansi("없음");
        SendMessageA(plain, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("9600"));
        SendMessageA(plain, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(korean.c_str()));
        SendMessageA(plain, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("14400"));
        EXPECT_EQ(SendMessageA(plain, CB_INSERTSTRING, 9, reinterpret_cast<LPARAM>("x")), CB_ERR);
        EXPECT_EQ(SendMessageA(plain, CB_GETLBTEXTLEN, 2, 0), static_cast<LRESULT>(korean.size()));
        EXPECT_EQ(SendMessageA(plain, CB_SETITEMDATA, 1, 77), TRUE);
        EXPECT_EQ(SendMessageA(plain, CB_GETITEMDATA, 1, 0), 77);
        EXPECT_EQ(SendMessageA(plain, CB_GETITEMDATA, 3, 0), CB_ERR);
        EXPECT_EQ(SendMessageA(plain, CB_SETCURSEL, 1, 0), 1); // no notification
        EXPECT_FALSE(control::PickComboItem(plain, 2)) << "the dialog is not on the screen yet";
        After(10, [dlg, plain] { // the user picks once the dialog shows
            EXPECT_TRUE(control::PickComboItem(plain, 2));
            EXPECT_EQ(SendMessageA(plain, CB_GETCURSEL, 0, 0), 2);
            EnableWindow(plain, FALSE);
            EXPECT_FALSE(control::PickComboItem(plain, 0));
            EXPECT_FALSE(control::PickComboItem(plain, 7));
            EXPECT_EQ(SendMessageA(plain, CB_RESETCONTENT, 0, 0), CB_OKAY);
            EXPECT_EQ(SendMessageA(plain, CB_GETCOUNT, 0, 0), 0);
            EndDialog(dlg, 0);
        });
        return FALSE; // no focus, so no CBN_SETFOCUS among the notifications
    });
    EXPECT_EQ(notes, (std::vector<std::string>{"1004/" + std::to_string(CBN_SELCHANGE)}));
}

TEST_F(User32Test, ButtonsAndProgressBarAnswerAsTheControlsDo) {
    NEED_RESOURCES();
    std::vector<int> clicks;
    RunDialog(102, [&](HWND dlg, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_COMMAND) {
            if (HIWORD(wp) == BN_CLICKED) {
                clicks.push_back(LOWORD(wp));
            }
            return TRUE;
        }
        if (msg != WM_INITDIALOG) {
            return FALSE;
        }
        std::vector<int> enables;
        SendDlgItemMessageA(dlg, 1010, BM_CLICK, 0, 0); // disabled: nothing
        SendDlgItemMessageA(dlg, 1001, BM_CLICK, 0, 0);
        EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1001)); // a click takes the focus
        EXPECT_TRUE(EnableWindow(GetDlgItem(dlg, 1010), TRUE)); // it was disabled
        EXPECT_FALSE(EnableWindow(GetDlgItem(dlg, 1001), FALSE));
        EXPECT_EQ(GetFocus(), nullptr) << "a disabled window loses the focus";
        SendDlgItemMessageA(dlg, 1010, BM_CLICK, 0, 0);
        SendDlgItemMessageA(dlg, 1001, BM_CLICK, 0, 0);
        EXPECT_EQ(SendMessageA(dlg, DM_GETDEFID, 0, 0), MAKELONG(1001, DC_HASDEFID));
        // from the clicked button, the tab order wraps round and skips what is disabled
        for (const auto& [previous, next] : {std::pair{0, IDCANCEL}, std::pair{0, 1000}, std::pair{0, 1004},
                                             std::pair{0, 1010}, std::pair{0, IDCANCEL}, std::pair{1, 1010}}) {
            SendMessageA(dlg, WM_NEXTDLGCTL, previous, 0);
            EXPECT_EQ(GetDlgCtrlID(GetFocus()), next);
        }
        SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, 1017)), TRUE);
        EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1017));

        const HWND bar = GetDlgItem(dlg, 1017);
        struct Step {
            UINT msg;
            WPARAM wp;
            LPARAM lp;
            LRESULT result;
            int pos;
        };
        const Step steps[] = {
            {PBM_GETPOS, 0, 0, 0, 0},
            {PBM_SETRANGE, 0, MAKELPARAM(1, 4), MAKELONG(0, 100), 1}, // the position moves into the range
            {PBM_DELTAPOS, 1, 0, 1, 2},
            {PBM_DELTAPOS, 5, 0, 2, 4},
            {PBM_SETPOS, 0, 0, 4, 1},
            {PBM_SETSTEP, 2, 0, 10, 1},
            {PBM_STEPIT, 0, 0, 1, 3},
            {PBM_STEPIT, 0, 0, 3, 1}, // past the end it starts over
            {PBM_SETRANGE32, static_cast<WPARAM>(-5), 70000, MAKELONG(1, 4), 1},
            {PBM_GETRANGE, TRUE, 0, -5, 1},
            {PBM_GETRANGE, FALSE, 0, 70000, 1},
            {PBM_SETPOS, 90000, 0, 1, 70000},
        };
        for (const Step& s : steps) {
            EXPECT_EQ(SendMessageA(bar, s.msg, s.wp, s.lp), s.result) << s.msg << " " << s.wp;
            EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), s.pos) << s.msg << " " << s.wp;
        }
        PBRANGE range{};
        SendMessageA(bar, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(range.iLow, -5);
        EXPECT_EQ(range.iHigh, 70000);
        EndDialog(dlg, 0);
        return FALSE;
    });
    EXPECT_EQ(clicks, (std::vector<int>{1001, 1010}));
}

TEST_F(User32Test, MessageBoxesAreRecordedAndAnswered) {
    struct Case {
        UINT type;
        int answer;
    };
    for (const Case& c : {Case{MB_OK, IDOK}, Case{MB_OKCANCEL | MB_ICONSTOP, IDOK}, Case{MB_YESNOCANCEL, IDYES},
                          Case{MB_RETRYCANCEL, IDRETRY}, Case{MB_ABORTRETRYIGNORE, IDABORT}}) {
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", c.type), c.answer) << c.type;
    }
    const std::string text = Ansi("포트를 선택하세요.");
    control::SetMessageBoxAnswer([](const control::MessageBoxRecord& box) { return box.type == MB_YESNO ? IDNO : IDOK; });
    EXPECT_EQ(MessageBoxA(nullptr, text.c_str(), nullptr, MB_YESNO), IDNO);
    // a timer armed before the box finds it as a dialog window and presses a button, as a test on Windows would
    After(50, [] {
        const HWND box = FindWindowA("#32770", "Setup");
        ASSERT_NE(box, nullptr);
        SendMessageA(box, WM_COMMAND, IDRETRY, 0);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "again?", "Setup", MB_RETRYCANCEL), IDRETRY);
    const auto boxes = control::MessageBoxes();
    ASSERT_EQ(boxes.size(), 7u);
    EXPECT_EQ(boxes[5].text, text);
    EXPECT_EQ(boxes[5].caption, Ansi("오류"));
    EXPECT_EQ(boxes[5].answer, IDNO);
    EXPECT_EQ(boxes[6].answer, IDRETRY);
    EXPECT_EQ(FindWindowA("#32770", nullptr), nullptr) << "the box is gone";
}

TEST_F(User32Test, CursorsTimersAndVersion) {
    const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    EXPECT_NE(arrow, nullptr);
    EXPECT_NE(wait, arrow);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), wait);
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(SetCursor(wait), arrow);
    EXPECT_EQ(GetCursor(), wait);
    EXPECT_EQ(SetCursor(arrow), wait);

    // a timer killed before it is due never runs; GetMessage without anything left returns WM_QUIT
    bool ran = false;
    After(10, [&] { ran = true; });
    const UINT_PTR killed = SetTimer(nullptr, 0, 5, [](HWND, UINT, UINT_PTR, DWORD) { FAIL() << "killed timer ran"; });
    EXPECT_TRUE(KillTimer(nullptr, killed));
    EXPECT_FALSE(KillTimer(nullptr, killed));
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    DispatchMessageA(&msg);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));

    struct Version {
        DWORD platform, major, minor;
    };
    for (const Version& v : {Version{VER_PLATFORM_WIN32_NT, 5, 1}, Version{VER_PLATFORM_WIN32_WINDOWS, 4, 10}}) {
        control::SetWindowsVersion(v.platform, v.major, v.minor);
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        ASSERT_TRUE(GetVersionExA(&info));
        EXPECT_EQ(info.dwPlatformId, v.platform);
        EXPECT_EQ(info.dwMajorVersion, v.major);
        EXPECT_EQ(info.dwMinorVersion, v.minor);
    }
    OSVERSIONINFOA small{};
    small.dwOSVersionInfoSize = 20;
    EXPECT_FALSE(GetVersionExA(&small));
}

TEST_F(User32Test, MultibyteStringsKeepDoubleByteCharactersWhole) {
    // 0x81 0x61 is one character whose second byte looks like 'a'
    unsigned char mixed[] = "ab\x81\x61" "c";
    EXPECT_EQ(_mbsupr(mixed), mixed);
    EXPECT_STREQ(reinterpret_cast<char*>(mixed), "AB\x81\x61" "C");
    EXPECT_EQ(_mbsstr(reinterpret_cast<const unsigned char*>("\x81\x61"), reinterpret_cast<const unsigned char*>("a")),
              nullptr);
    const auto* kqt = reinterpret_cast<const unsigned char*>("1 KQT-50 Receipt");
    EXPECT_EQ(_mbsstr(kqt, reinterpret_cast<const unsigned char*>("KQT-50")), kqt + 2);
    EXPECT_EQ(_mbscmp(reinterpret_cast<const unsigned char*>("COM"), reinterpret_cast<const unsigned char*>("COM")), 0);
    EXPECT_LT(_mbscmp(reinterpret_cast<const unsigned char*>("\xFF"), reinterpret_cast<const unsigned char*>("\x81\x41")),
              0) << "a double-byte character orders after every single byte";
    const char* twoThenOne = "\xB0\xA1x";
    EXPECT_EQ(CharNextA(twoThenOne), twoThenOne + 2);
    EXPECT_TRUE(IsDBCSLeadByte(0xB0));
    EXPECT_FALSE(IsDBCSLeadByte('x'));
    char upper[] = "com1:\xB0\x61";
    EXPECT_EQ(CharUpperBuffA(upper, 7), 7u);
    EXPECT_STREQ(upper, "COM1:\xB0\x61");
}

TEST_F(User32Test, PortsComeFromTheRegistry) {
    auto ports = [] {
        DWORD needed = 0;
        DWORD count = 0;
        EXPECT_FALSE(EnumPortsA(nullptr, 1, nullptr, 0, &needed, &count));
        Bytes buffer(needed);
        EXPECT_TRUE(EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count));
        std::vector<std::string> names;
        for (DWORD i = 0; i < count; ++i) {
            names.push_back(reinterpret_cast<PORT_INFO_1A*>(buffer.data())[i].pName);
        }
        return names;
    };
    EXPECT_EQ(ports().size(), 8u); // a fresh machine's
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const char* name : {"com1:", "Ne00:", "COM3"}) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    }
    RegCloseKey(key);
    EXPECT_EQ(ports(), (std::vector<std::string>{"com1:", "Ne00:", "COM3"}));
    control::SetPorts({"COM7:", "LPT1:"});
    EXPECT_EQ(ports(), (std::vector<std::string>{"COM7:", "LPT1:"}));

    // printers at level 1, and the faults of both enumerations
    control::PrinterSetup setup;
    setup.name = "x KQT-50 Receipt";
    setup.port = "LPT1:";
    ASSERT_TRUE(control::AddTestPrinter(setup));
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    Bytes buffer(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    const auto* info = reinterpret_cast<const PRINTER_INFO_1A*>(buffer.data());
    EXPECT_STREQ(info->pName, "x KQT-50 Receipt");
    EXPECT_EQ(info->Flags, PRINTER_ENUM_ICON8);
    control::ResetCounters();
    control::InjectFault({control::Op::EnumPrinters, 1});
    control::InjectFault({control::Op::EnumPorts, 1});
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buffer.data(), needed, &needed, &count));
    EXPECT_FALSE(EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(User32Test, SerialConfigurationsRoundTripWithTheSizeProtocol) {
    BYTE buffer[2048];
    auto* cc = reinterpret_cast<COMMCONFIG*>(buffer);
    DWORD size = sizeof(COMMCONFIG);
    // the default is larger than a COMMCONFIG: its provider data follows
    EXPECT_FALSE(GetDefaultCommConfigA("COM1", cc, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_EQ(size, 56u);
    ASSERT_TRUE(GetDefaultCommConfigA("COM1", cc, &size));
    EXPECT_EQ(cc->dcb.BaudRate, 9600u);
    EXPECT_EQ(cc->dcb.ByteSize, 8);
    EXPECT_EQ(cc->dcb.fBinary, 1u);
    EXPECT_EQ(cc->dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(cc->dcb.fOutX | cc->dcb.fInX | cc->dcb.fOutxCtsFlow | cc->dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(cc->dwProviderSize, 8u);

    // every byte given is kept, the flag word included
    cc->dcb.BaudRate = 14400;
    cc->dcb.fOutxCtsFlow = 1;
    cc->dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    cc->dcb.Parity = MARKPARITY;
    buffer[size - 1] = 0x5A;
    const Bytes written(buffer, buffer + size);
    ASSERT_TRUE(SetDefaultCommConfigA("COM1", cc, size));
    EXPECT_EQ(control::CommConfigBytes("COM1").value_or(Bytes{}), written);
    control::ResetMachine(Root()); // another process on the same machine sees it
    std::memset(buffer, 0, sizeof(buffer));
    size = 1024;
    ASSERT_TRUE(GetDefaultCommConfigA("com1", cc, &size));
    EXPECT_EQ(Bytes(buffer, buffer + size), written);

    // a configuration larger than the caller's first guess
    const Bytes large(1500, 0x11);
    control::SetCommConfigBytes("COM2", large);
    size = 1024;
    EXPECT_FALSE(GetDefaultCommConfigA("COM2", cc, &size));
    EXPECT_EQ(size, 1500u);
    EXPECT_TRUE(GetDefaultCommConfigA("COM2", cc, &size));
    EXPECT_EQ(Bytes(buffer, buffer + size), large);

    struct Failure {
        const char* port;
        DWORD setSize;
        DWORD error;
    };
    for (const Failure& f : {Failure{"COM9", 56, ERROR_FILE_NOT_FOUND}, Failure{"LPT1", 56, ERROR_FILE_NOT_FOUND},
                             Failure{"COM1:", 56, ERROR_FILE_NOT_FOUND}, Failure{"COM1", 51, ERROR_INVALID_PARAMETER}}) {
        size = 1024;
        if (f.setSize >= sizeof(COMMCONFIG)) {
            EXPECT_FALSE(GetDefaultCommConfigA(f.port, cc, &size)) << f.port;
            EXPECT_EQ(GetLastError(), f.error) << f.port;
        }
        EXPECT_FALSE(SetDefaultCommConfigA(f.port, cc, f.setSize)) << f.port;
        EXPECT_EQ(GetLastError(), f.error) << f.port;
    }
    control::InjectFault({control::Op::GetCommConfig, 1});
    control::ResetCounters();
    size = 1024;
    EXPECT_FALSE(GetDefaultCommConfigA("COM1", cc, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

TEST_F(User32Test, FindFileMatchesWildcardsInTheLastPart) {
    for (const char* path : {"C:\\KQT50\\NT\\KQT50.INF", "C:\\KQT50\\NT\\kqprint.dll", "C:\\KQT50\\Chicago\\KQT50.INF"}) {
        const HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
        DWORD written = 0;
        WriteFile(h, "[Version]\r\n", 11, &written, nullptr);
        CloseHandle(h);
    }
    struct Case {
        const char* pattern;
        std::vector<std::string> names;
        DWORD error;
    };
    const Case cases[] = {
        {"C:\\KQT50\\NT\\*.INF", {"kqt50.inf"}, 0},
        {"C:\\KQT50\\NT\\KQT50.IN?", {"kqt50.inf"}, 0},
        {"c:\\kqt50\\nt\\*", {".", "..", "kqprint.dll", "kqt50.inf"}, 0},
        {"C:\\KQT50\\*.*", {".", "..", "chicago", "nt"}, 0},
        {"C:\\KQT50\\Chicago\\kqt50.inf", {"kqt50.inf"}, 0},
        {"C:\\KQT50\\NT\\*.EXE", {}, ERROR_FILE_NOT_FOUND},
        {"C:\\KQT50\\Win98\\*.INF", {}, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        WIN32_FIND_DATAA data;
        const HANDLE h = FindFirstFileA(c.pattern, &data);
        std::vector<std::string> names;
        if (h == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), c.error) << c.pattern;
        } else {
            do {
                names.push_back(data.cFileName);
                if (names.back() == "kqt50.inf") {
                    EXPECT_EQ(data.nFileSizeLow, 11u);
                    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
                } else if (names.back() == "nt") {
                    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
                }
            } while (FindNextFileA(h, &data));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
            EXPECT_TRUE(FindClose(h));
            EXPECT_FALSE(FindClose(h));
        }
        EXPECT_EQ(names, c.names) << c.pattern;
    }
}

} // namespace
} // namespace kqtest
