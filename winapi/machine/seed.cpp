// What a clean Windows 2000/XP has for setup, given to a machine whose hive did not exist yet: the parts that
// depend on the processor are there for x86 and x64 alike, since the machine's Windows is chosen later.
#include "machine.h"

#include <fstream>

namespace kqwin {
namespace {

void WriteHostFile(const std::string& windowsPath, const std::string& text) {
    const std::string host = MapPath(windowsPath);
    MakeDirs(host.substr(0, host.rfind('/')));
    std::ofstream(host, std::ios::binary | std::ios::trunc) << text;
}

constexpr char kNtPrintInf[] =
    R"(; NTPRINT.INF of this machine: the part of the printer class INF that printer INFs
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

[SourceDisksNames.x86]
1=%Cache%,,,"..\Driver Cache\i386"

[SourceDisksNames.amd64]
1=%Cache%,,,"..\Driver Cache\amd64"

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
    struct Platform {
        const char* cache;       // below C:\WINDOWS\Driver Cache
        const char* environment; // the spooler's
        const char* folder;      // of the environment below the spooler's folders
    };
    for (const Platform& p :
         {Platform{"i386", "Windows NT x86", "W32X86"}, Platform{"amd64", "Windows x64", "x64"}}) {
        for (const char* file : {"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL", "STDNAMES.GPD"}) {
            WriteHostFile(std::string("C:\\WINDOWS\\Driver Cache\\") + p.cache + "\\" + file,
                          std::string("Unidrv placeholder: ") + file + "\n");
        }
        // Every Windows has the print processor "winprint"; nothing here prints through it.
        WriteHostFile(std::string("C:\\WINDOWS\\System32\\spool\\PRTPROCS\\") + p.folder + "\\winprint.dll",
                      "winprint placeholder\n");
        const std::string environment = std::string(kPrintKey) + "\\Environments\\" + p.environment;
        Hive().CreateKey(environment + "\\Print Processors\\winprint", nullptr);
        Hive().SetString(environment + "\\Print Processors\\winprint", "Driver", "winprint.dll");
        // the driver keys, empty until drivers come
        Hive().CreateKey(environment + "\\Drivers\\Version-2", nullptr);
        Hive().CreateKey(environment + "\\Drivers\\Version-3", nullptr);
    }
    // The spooler's other keys that every Windows 2000/XP has.
    for (const char* sub : {"\\Environments\\Windows 4.0\\Drivers\\Version-0",
                            "\\Environments\\Windows 4.0\\Print Processors", "\\Monitors", "\\Printers"}) {
        Hive().CreateKey(std::string(kPrintKey) + sub, nullptr);
    }
}

} // namespace kqwin
