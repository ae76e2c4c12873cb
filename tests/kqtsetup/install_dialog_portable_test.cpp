// The NT path of the install when PrintUIEntry installs nothing, as it looks on Windows: rundll32 ends with 0
// whatever the entry did, so the install reaches its tail, finds no printer and says so (message 107, then
// 105, status 122, the dialog ending with IDCANCEL). Under wine64 this is the 64-bit installer against Wine's
// own rundll32 and PRINTUI.DLL, which parses "/if" and carries nothing out; on the stand-in, the 32-bit
// installer with an INF whose models section for the machine lacks the model.
#include "dialog_harness.h"

#ifndef _WIN32
#include "kit_life.h"
#endif

#include <winspool.h>

namespace kqsetuptest {
namespace {

TEST_F(DialogTest, NtPathWhosePrintUIEntryInstallsNothingEndsInTheTail) {
#ifdef _WIN32
    // the media lie beside this program as they lie beside KqtSetup in the kit
    char program[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string inf = program;
    inf = inf.substr(0, inf.rfind('\\')) + "\\NT\\KQT50.INF";
    ASSERT_NE(GetFileAttributesA(inf.c_str()), INVALID_FILE_ATTRIBUTES) << inf;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT))
        << "Wine reports Windows 98 here";
#else
    ASSERT_NO_FATAL_FAILURE(kqtest::StageKit("C:\\KQT50"));
    ASSERT_NO_FATAL_FAILURE(RenameModelIn("C:\\KQT50\\NT\\KQT50.INF", "Velmora.NTx86"));
#endif
    ASSERT_NO_FATAL_FAILURE(SetPorts({"COM1:"}));
    std::string status;
    bool cancelled = true;
    EXPECT_EQ(RunSetupDialog({[&](HWND dialog) {
                                 SendMessageA(GetDlgItem(dialog, IDC_INSTALL), BM_CLICK, 0, 0);
                                 status = Text(dialog, IDC_STATUS);
                             }},
                             &cancelled),
              IDCANCEL);
    EXPECT_FALSE(cancelled) << "the install did not close the dialog itself";
    std::vector<std::string> texts;
    for (const Box& box : Boxes()) {
        texts.push_back(box.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{String(IDS_CANNOT_OPEN_PRINTER), String(IDS_SYSTEM_ERROR)}));
    EXPECT_EQ(status, String(IDS_STEP_FAILED));
    CStringArray printers;
    EXPECT_FALSE(CSetupDlg().FindInstalledPrinters(printers)) << "a printer of the model is there";
    HANDLE printer = nullptr;
    char name[] = "KQT-50 Receipt";
    EXPECT_FALSE(OpenPrinterA(name, &printer, nullptr));
}

} // namespace
} // namespace kqsetuptest
