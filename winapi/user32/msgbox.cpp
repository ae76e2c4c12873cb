// Message boxes. MessageBoxA shows nothing: the box is a dialog of its own while it is up, each timer armed
// when it opens fires once (so a timer can find it and press a button), and otherwise the answer comes from
// test control's callback, or is the box's first button. The observer hears of each box and its answer.
#include "user32_private.h"

#include "observers.h"

#include <set>

namespace kqwin {
namespace {

constexpr LONG_PTR kTextId = 0xFFFF; // the box's text, a static of the dialog

// What test control answers a box with, when no timer ended it.
struct AnswerCallback {
    std::mutex mutex;
    std::function<int(const control::MessageBoxRecord&)> answer;
};

AnswerCallback& AnswerState() {
    static AnswerCallback state;
    return state;
}

std::function<int(const control::MessageBoxRecord&)> Answer() {
    AnswerCallback& a = AnswerState();
    std::lock_guard lock(a.mutex);
    return a.answer;
}

void ForgetAnswer() {
    AnswerCallback& a = AnswerState();
    std::lock_guard lock(a.mutex);
    a.answer = nullptr;
}
const ResetHook kAnswerOnReset(&ForgetAnswer);

std::vector<int> BoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {IDOK};
    }
}

INT_PTR CALLBACK MessageBoxProc(HWND box, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_COMMAND) {
        const int id = LOWORD(wp);
        const HWND button = GetDlgItem(box, id);
        if (button || (id == IDCANCEL && GetDlgItem(box, IDOK) && !GetDlgItem(box, IDNO))) {
            EndDialog(box, button ? id : IDOK); // Escape on a box with only OK answers OK
        }
        return TRUE;
    }
    return msg == WM_INITDIALOG;
}

} // namespace

} // namespace kqwin

namespace kqwin::control {

void SetMessageBoxAnswer(std::function<int(const MessageBoxRecord&)> answer) {
    AnswerCallback& a = AnswerState();
    std::lock_guard lock(a.mutex);
    a.answer = std::move(answer);
}

} // namespace kqwin::control

using namespace kqwin;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner && !GetWnd(owner)) {
        return 0;
    }
    control::MessageBoxRecord record;
    record.owner = owner;
    record.text = text ? text : "";
    record.caption = caption ? std::string(caption) : Utf16ToAnsi(u"\uC624\uB958"); // the system's "Error"
    record.type = type;
    // The box is a dialog of its own while it is up, so that a timer can find it and press a button.
    const HWND ownerTop = owner ? TopLevelOf(owner) : nullptr;
    const std::vector<int> buttons = BoxButtons(type);
    const RECT rect{200, 200, 200 + 60 + 80 * static_cast<LONG>(buttons.size()), 320};
    const HWND box = CreateWnd(u"#32770", 0, AnsiToUtf16(record.caption),
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE,
                               WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE, rect, nullptr, ownerTop, 0);
    auto b = GetWnd(box);
    DialogInfo& info = *b->dialog;
    info.proc = MessageBoxProc;
    info.modal = true;
    User32Observer* observer = User32Hook().Get();
    if (observer) {
        observer->MessageBoxOpened(box, owner, record.text, record.caption, type);
    }
    CreateWnd(u"Static", 0, AnsiToUtf16(record.text), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0,
              RECT{rect.left + 60, rect.top + 40, rect.right - 10, rect.top + 70}, box, nullptr, kTextId);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const LONG left = rect.left + 30 + 80 * static_cast<LONG>(i);
        const bool isDefault = i == ((type & MB_DEFMASK) >> 8);
        CreateWnd(u"Button", 0, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                  0, RECT{left, rect.bottom - 35, left + 75, rect.bottom - 12}, box, nullptr, buttons[i]);
    }
    const HWND previousActive = GetActiveWindow();
    const bool disabledOwner = ownerTop && IsWindowEnabled(ownerTop);
    if (disabledOwner) {
        EnableWindow(ownerTop, FALSE);
    }
    Activate(box);
    // Each timer armed now gets its turn once, in the order of its due time, while the box is up: the timers
    // fire as the message loop fires them, each taken once.
    std::set<std::pair<HWND, UINT_PTR>> waiting;
    {
        DesktopState& s = Desktop();
        std::lock_guard lock(s.mutex);
        for (const Timer& timer : CurrentThreadQueue().timers) {
            waiting.emplace(timer.hwnd, timer.id);
        }
    }
    MSG msg{};
    while (!info.ended &&
           NextTimerMessage(
               &msg, [&waiting](const Timer& t) { return waiting.count({t.hwnd, t.id}) != 0; }, true, true)) {
        waiting.erase({msg.hwnd, msg.wParam});
        DispatchMessageA(&msg);
    }
    int answer = 0;
    if (info.ended) {
        answer = static_cast<int>(info.result);
    } else {
        const std::function<int(const control::MessageBoxRecord&)> callback = Answer();
        answer = callback ? callback(record) : buttons.front();
    }
    if (disabledOwner && IsWindow(ownerTop)) {
        EnableWindow(ownerTop, TRUE);
    }
    DestroyWindow(box);
    if (previousActive && IsWindow(previousActive)) {
        Activate(previousActive);
    }
    if (observer) {
        observer->MessageBoxAnswered(box, answer);
    }
    return answer;
}

} // extern "C"
