// What a clean Windows 2000/XP has for setup, given to a machine whose hive did not exist yet.
#include "machine.h"

#include <fstream>

namespace kqwin {
namespace {

void WriteHostFile(const std::string& windowsPath, const std::string& text) {
    const std::string host = MapPath(windowsPath);
    MakeDirs(host.substr(0, host.rfind('/')));
    std::ofstream(host, std::ios::binary | std::ios::trunc) << text;
}

constexpr char kNtPrintInf[] = R"(; NTPRINT.INF of this machine: the part of the printer class INF that printer INFs
; include, with Unidrv's files from the driver cache.
[Version]
Signature="$Windows NT$"
Class=Printer
ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}
Provider=%MS%

[UNIDRV.OEM]
CopyFiles=@UNIDRV.DLL,@UNIDRVUI.DLL,@UNIDRV.HLP,@UNIRES.DLL,@STDNAMES.GPD

[UNIDRV_DATA]
DriverFile=UNIDRV.DLL
ConfigFile=UNIDRVUI.DLL
HelpFile=UNIDRV.HLP

[DestinationDirs]
DefaultDestDir=66000

[SourceDisksNames]
1=%Cache%,,,"..\Driver Cache\i386"

[SourceDisksFiles]
UNIDRV.DLL=1
UNIDRVUI.DLL=1
UNIDRV.HLP=1
UNIRES.DLL=1
STDNAMES.GPD=1

[Strings]
MS="Microsoft"
Cache="Windows driver cache"
)";

} // namespace

void SeedFreshMachine() {
    WriteHostFile(kRundll32Path, "rundll32: the stand-in runs its own\n");
    WriteHostFile("C:\\WINDOWS\\INF\\NTPRINT.INF", kNtPrintInf);
    for (const char* file : {"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL", "STDNAMES.GPD"}) {
        WriteHostFile(std::string("C:\\WINDOWS\\Driver Cache\\i386\\") + file,
                      std::string("Unidrv placeholder: ") + file + "\n");
    }
    // Every Windows has the print processor "winprint"; nothing here prints through it.
    WriteHostFile("C:\\WINDOWS\\System32\\spool\\PRTPROCS\\W32X86\\winprint.dll", "winprint placeholder\n");
    const std::string key = std::string(kPrintKey) + "\\Environments\\Windows NT x86\\Print Processors\\winprint";
    Hive().CreateKey(key, nullptr);
    Hive().SetString(key, "Driver", "winprint.dll");
    // The spooler's other keys that every Windows 2000/XP has, empty until drivers come.
    for (const char* sub : {"\\Environments\\Windows NT x86\\Drivers\\Version-2",
                            "\\Environments\\Windows NT x86\\Drivers\\Version-3",
                            "\\Environments\\Windows 4.0\\Drivers\\Version-0",
                            "\\Environments\\Windows 4.0\\Print Processors", "\\Monitors", "\\Printers"}) {
        Hive().CreateKey(std::string(kPrintKey) + sub, nullptr);
    }
}

} // namespace kqwin
