// The installer's whole life on the stand-in, for the 32-bit and the 64-bit installer alike: a machine with
// the kit folder as the build lays it out, the dialog's buttons pressed, the bundled receipt printed with
// kqspool through the installed printer, and the machine compared with what it was.
#pragma once

#include "dialog_harness.h"

#include <map>
#include <string>
#include <vector>

namespace kqsetuptest {

using Strings = std::vector<std::string>;
// Every file of a machine with its content, by its path below the machine's folder.
using Snapshot = std::map<std::string, std::string>;

inline constexpr char kKitFolder[] = "C:\\Setup";
inline constexpr char kProgram[] = "C:\\Setup\\KqtSetup.exe";

// The Windows a machine runs.
struct Windows {
    const char* name;
    DWORD platform;
    DWORD major;
    DWORD minor;
    WORD architecture;
};
inline constexpr Windows kWindowsXp{"32-bit Windows XP", VER_PLATFORM_WIN32_NT, 5, 1,
                                    PROCESSOR_ARCHITECTURE_INTEL};
inline constexpr Windows kWindows98{"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10,
                                    PROCESSOR_ARCHITECTURE_INTEL};
inline constexpr Windows kWindows7X64{"64-bit Windows 7", VER_PLATFORM_WIN32_NT, 6, 1,
                                      PROCESSOR_ARCHITECTURE_AMD64};

// Renames the model in one models section of an NT INF ("Velmora.NTx86"), so that PrintUIEntry finds no such
// model there. Call under ASSERT_NO_FATAL_FAILURE.
void RenameModelIn(const std::string& infPath, const std::string& section);

class KitLifeTest : public DialogTest {
  protected:
    void SetUp() override;

    // The kit folder as the build lays it out (the media and the libraries of each architecture; the program
    // is a name only), the program in it, a COM and an LPT port, the COM port's settings stored.
    void Arrange();
    // A fresh machine of its own, named `name` below the test's folder, arranged, running `windows`.
    void FreshMachine(const std::string& name, const Windows& windows);

    // Runs the dialog and presses `button` once it is up; what the dialog ended with.
    INT_PTR Press(int button);
    // Installs through the dialog, which must succeed, and gives the parameters of the one process it
    // started: the system's own rundll32, by its full path, opened as the install starts it.
    std::string InstallAndTakeRundll32Parameters();
    // The texts of the message boxes shown since the last ClearMessageBoxes, UTF-8.
    Strings BoxTexts() const;
    // kqspool prints the bundled receipt through the installed printer, as its own process would; its exit
    // status, and what it said on standard error in `err`.
    int PrintSample(std::string* err);
    // The current machine's files.
    static Snapshot TakeSnapshot();
    // Whether the machine is as it was: every file, and each registry line, as before; what printing made and
    // the driver's files in `driverFolder` (below the machine's folder; none when empty), which removal
    // leaves, aside.
    void ExpectMachineAsBefore(const Snapshot& before, const std::string& driverFolder);
    // Install through the dialog on COM1:, print with kqspool, remove through the dialog, on a fresh machine
    // of `windows`; the machine is then as it was.
    void WholeLife(const Windows& windows, const std::string& driverFolder);
};

} // namespace kqsetuptest
