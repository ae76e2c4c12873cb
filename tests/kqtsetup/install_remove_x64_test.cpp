// The 64-bit installer on the stand-in's 64-bit Windows: the kit's whole life (install through the dialog,
// print with kqspool, remove, and the machine as it was), the driver it names to PrintUIEntry, and an install
// that PrintUIEntry cannot do, as the user sees it.
#include "kit_life.h"

#include "kqwin/test_control.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kqsetuptest {
namespace {

namespace control = kqwin::control;

class InstallRemoveX64Test : public KitLifeTest {
  protected:
    void SetUp() override {
        KitLifeTest::SetUp();
        control::SetWindowsVersion(kWindows7X64.platform, kWindows7X64.major, kWindows7X64.minor,
                                   kWindows7X64.architecture);
    }
};

TEST_F(InstallRemoveX64Test, WholeLifeOn64BitWindowsLeavesTheMachineAsItWas) {
    WholeLife(kWindows7X64, "spool/drivers/x64/3/");
}

// The system's own rundll32 with the 64-bit driver's options (architecture x64, a user-mode driver), and the
// kit lands in the "Windows x64" environment with the files of NT\amd64.
TEST_F(InstallRemoveX64Test, NtPathNamesThe64BitDriver) {
    EXPECT_EQ(InstallAndTakeRundll32Parameters(), "PRINTUI.DLL,PrintUIEntry /if /b \"KQT-50 Receipt\" /f "
                                                  "\"C:\\Setup\\NT\\KQT50.INF\" /r \"COM1:\" /w /h "
                                                  "\"x64\" /v \"Type 3 - User Mode\" /m \"KQT-50 Receipt\"");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print "
                            "Processors\\KQPRINT",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::ifstream installed(control::HostPath("C:\\WINDOWS\\System32\\spool\\PRTPROCS\\x64\\KQPRINT.DLL"),
                            std::ios::binary);
    std::ifstream kit(control::HostPath("C:\\Setup\\NT\\amd64\\KQPRINT.DLL"), std::ios::binary);
    std::ostringstream a;
    std::ostringstream b;
    a << installed.rdbuf();
    b << kit.rdbuf();
    EXPECT_FALSE(a.str().empty());
    EXPECT_EQ(a.str(), b.str());
}

// An INF without models for 64-bit Windows: PrintUIEntry installs nothing, rundll32 ends with 0, and the user
// sees it in the tail, as on Windows.
TEST_F(InstallRemoveX64Test, AnInfWithoutModelsFor64BitWindowsEndsInTheTail) {
    const std::string inf = control::HostPath("C:\\Setup\\NT\\KQT50.INF");
    std::ifstream in(inf, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    const size_t at = text.find(",NTx86,NTamd64");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 14, ",NTx86");
    std::ofstream(inf, std::ios::binary | std::ios::trunc) << text;

    std::string status;
    EXPECT_EQ(RunSetupDialog({[&](HWND d) {
                  SendMessageA(GetDlgItem(d, IDC_INSTALL), BM_CLICK, 0, 0);
                  status = Text(d, IDC_STATUS);
              }}),
              IDCANCEL);
    EXPECT_EQ(BoxTexts(), (Strings{String(IDS_CANNOT_OPEN_PRINTER), String(IDS_SYSTEM_ERROR)}));
    EXPECT_EQ(status, String(IDS_STEP_FAILED));
    CStringArray printers;
    EXPECT_FALSE(CSetupDlg().FindInstalledPrinters(printers));
}

} // namespace
} // namespace kqsetuptest
