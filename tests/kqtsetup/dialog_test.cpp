// The dialog where only the stand-in can break things or show what happened (allocation failures, failing
// spooler queries, configurations larger than the first buffer, the icon painted while minimised), and where
// Wine's user32 does not behave as Windows does.
#include "dialog_harness.h"
#include "kit_life.h"

#include "kqwin/test_control.h"

#include <cstring>
#include <new>

namespace {

// The installer's query buffers are this program's only arrays from nothrow new: count them down to a
// failure on demand.
int g_nothrowArraysUntilFailure = 0; // 0: never fail

} // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_nothrowArraysUntilFailure > 0 && --g_nothrowArraysUntilFailure == 0) {
        return nullptr;
    }
    try {
        return ::operator new[](size); // the sanitizers see an ordinary new[]
    } catch (...) {
        return nullptr;
    }
}

namespace kqsetuptest {

void FailNthBuffer(int n) {
    g_nothrowArraysUntilFailure = n;
}

namespace {

namespace control = kqwin::control;
using Strings = std::vector<std::string>;

// A configuration of `size` bytes: the COMMCONFIG of `dcb`, then provider data of its own pattern.
std::vector<BYTE> BigConfig(const DCB& dcb, size_t size) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<BYTE>(i * 7 + 3);
    }
    COMMCONFIG config{};
    config.dwSize = static_cast<DWORD>(size);
    config.wVersion = 1;
    config.dcb = dcb;
    config.dwProviderOffset = sizeof(COMMCONFIG);
    config.dwProviderSize = static_cast<DWORD>(size - sizeof(COMMCONFIG));
    std::memcpy(bytes.data(), &config, sizeof(config));
    return bytes;
}

class FaultDialogTest : public DialogTest {
  protected:
    void TearDown() override {
        FailNthBuffer(0);
        DialogTest::TearDown();
    }
};

TEST_F(FaultDialogTest, NoMemoryForAConfigurationShowsMessage108AndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:", "COM2:", "COM3:"}));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, 0)));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM2", MakeDcb(115200, 7, EVENPARITY, TWOSTOPBITS, kOutX)));
    // COM3's configuration does not fit the first buffer: the second one is asked for.
    control::SetCommConfigBytes("COM3", BigConfig(MakeDcb(4800, 5, ODDPARITY, ONESTOPBIT, kCts), 1500));
    const Strings com1 = {"9600", "8", "없음", "1", "없음"};
    const auto expectBoxes = [](size_t count) {
        const auto boxes = control::MessageBoxes();
        ASSERT_EQ(boxes.size(), count);
        EXPECT_EQ(Utf8(boxes.back().text), String(IDS_OUT_OF_MEMORY));
        EXPECT_EQ(boxes.back().type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    };
    RunSetupDialog({
        [&](HWND dialog) {
            EXPECT_EQ(SerialSelections(dialog), com1);
            FailNthBuffer(1);
            PickText(dialog, IDC_PORT, "COM2:");
        },
        [&](HWND dialog) {
            expectBoxes(1);
            EXPECT_EQ(SerialSelections(dialog), com1);
            EXPECT_EQ(SerialState(dialog), "enabled");
            FailNthBuffer(2);
            PickText(dialog, IDC_PORT, "COM3:");
        },
        [&](HWND dialog) {
            expectBoxes(2);
            EXPECT_EQ(SerialSelections(dialog), com1);
            FailNthBuffer(1);
            EXPECT_FALSE(MainDialog().WriteSerialSettings("COM2:"));
            expectBoxes(3);
        },
    });
    EXPECT_EQ(StoredDcb("COM2").BaudRate, 115200u);
    EXPECT_EQ(StoredDcb("COM2").ByteSize, 7);
}

TEST_F(FaultDialogTest, ConfigurationLargerThanTheFirstBufferIsReadAndWrittenWhole) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    const std::vector<BYTE> stored = BigConfig(MakeDcb(4800, 5, ODDPARITY, ONE5STOPBITS, kCts), 1500);
    control::SetCommConfigBytes("COM1", stored);
    RunSetupDialog({[](HWND dialog) {
        EXPECT_EQ(Selection(dialog, IDC_BAUDRATE), "4800");
        EXPECT_EQ(Selection(dialog, IDC_STOPBITS), "1.5");
        PickText(dialog, IDC_FLOWCONTROL, "없음");
        EXPECT_TRUE(MainDialog().WriteSerialSettings("COM1:"));
    }});
    const std::optional<std::vector<BYTE>> written = control::CommConfigBytes("COM1");
    ASSERT_TRUE(written);
    ASSERT_EQ(written->size(), stored.size());
    std::vector<BYTE> expected = stored;
    auto* config = reinterpret_cast<COMMCONFIG*>(expected.data());
    SetDcbFlags(config->dcb, DcbFlags(config->dcb) & ~kFlowBits);
    EXPECT_EQ(*written, expected) << "the provider data or another field changed";
}

TEST_F(FaultDialogTest, FailingQueriesCountAsNoPortAndNoPrinter) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    ASSERT_NO_FATAL_FAILURE(AddPrinters({"KQT-50 Receipt"}));
    control::InjectFault({control::Op::EnumPrinters, 1, control::FaultKind::Fail, 0, 0, true});
    RunSetupDialog({[](HWND dialog) {
        EXPECT_EQ(Text(dialog, IDC_STATUS), String(IDS_CLICK_INSTALL));
        EXPECT_TRUE(Enabled(dialog, IDC_INSTALL));
    }});
    EXPECT_TRUE(control::MessageBoxes().empty());

    control::InjectFault({control::Op::EnumPorts, 1, control::FaultKind::Fail, 0, 0, true});
    bool cancelled = true;
    EXPECT_EQ(RunSetupDialog({}, &cancelled), IDCANCEL);
    EXPECT_FALSE(cancelled);
    const auto boxes = control::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Utf8(boxes[0].text), String(IDS_NO_SUPPORTED_PORT));
}

// Windows clears a combo box's selection for CB_SETCURSEL with an index past the list; Wine's list box
// refuses such an index with LB_ERR and keeps the selection it had, so there the earlier port's data bits,
// parity and stop bits would stay shown.
TEST_F(FaultDialogTest, StoredValueOutsideAListClearsTheEarlierSelection) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:", "COM2:"}));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM1", MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, 0)));
    ASSERT_NO_FATAL_FAILURE(StoreDcb("COM2", MakeDcb(9600, 9, 5, 3, 0)));
    RunSetupDialog({
        [](HWND dialog) {
            EXPECT_EQ(SerialSelections(dialog), (Strings{"9600", "8", "없음", "1", "없음"}));
            PickText(dialog, IDC_PORT, "COM2:");
        },
        [](HWND dialog) {
            EXPECT_EQ(SerialSelections(dialog), (Strings{"9600", "", "", "", "없음"}));
        },
    });
}

TEST_F(FaultDialogTest, MinimisedDialogPaintsItsIconCentred) {
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    const auto repaint = [](HWND dialog) {
        control::ClearIconDraws();
        InvalidateRect(dialog, nullptr, TRUE);
        UpdateWindow(dialog);
        return control::IconDraws();
    };
    RunSetupDialog({
        [&](HWND dialog) {
            EXPECT_TRUE(repaint(dialog).empty()) << "an icon painted on the open dialog";
            PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        },
        [&](HWND dialog) {
            ASSERT_TRUE(IsIconic(dialog));
            const auto draws = repaint(dialog);
            ASSERT_EQ(draws.size(), 1u);
            RECT client{};
            GetClientRect(dialog, &client);
            EXPECT_EQ(draws[0].window, dialog);
            EXPECT_EQ(draws[0].icon, icon);
            EXPECT_EQ(draws[0].x, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2);
            EXPECT_EQ(draws[0].y, (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2);
        },
    });
}

} // namespace
} // namespace kqsetuptest
