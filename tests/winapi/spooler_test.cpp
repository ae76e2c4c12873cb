// The stand-in spooler: registrations through the management calls, spooled jobs replayed to their
// readers, and the two-call size protocol of its queries.
#include "machine.h"

#include <cstring>

namespace kqtest {
namespace {

class SpoolerTest : public MachineTest {
  protected:
    // Registers a driver and a print processor the way the installer does (the processor's file only
    // has to exist for the registration).
    void RegisterDriverAndProcessor() {
        char dir[MAX_PATH];
        DWORD needed = 0;
        char env[] = "Windows 4.0";
        ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, env, 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir), &needed));
        EXPECT_EQ(needed, std::strlen(dir) + 1);
        HANDLE f = CreateFileA((std::string(dir) + "\\PP.DLL").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                               nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        CloseHandle(f);
        char file[] = "PP.DLL";
        char name[] = "PP";
        ASSERT_TRUE(AddPrintProcessorA(nullptr, env, file, name));
        char driver[] = "Driver";
        char path[] = "drv";
        char raw[] = "RAW";
        DRIVER_INFO_3A di{0x570, driver, env, path, path, path, nullptr, nullptr, nullptr, raw};
        ASSERT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&di)));
    }

    // Prints a job to "Receipt" as an application does, with a device mode and an output file when given, and
    // tells what the spooler did with it.
    static control::JobOutcome PrintToReceipt(const Bytes& job, DEVMODEW* devmode = nullptr,
                                              const char16_t* outputFile = nullptr) {
        std::u16string name = u"Receipt";
        PRINTER_DEFAULTSW defaults{nullptr, devmode, PRINTER_ACCESS_USE};
        HANDLE h = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &h, &defaults));
        std::u16string doc = u"job";
        std::u16string out = outputFile ? outputFile : u"";
        DOC_INFO_1W info{doc.data(), outputFile ? out.data() : nullptr, nullptr};
        DWORD written = 0;
        EXPECT_NE(StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info)), 0u);
        EXPECT_TRUE(WritePrinter(h, const_cast<BYTE*>(job.data()), static_cast<DWORD>(job.size()), &written));
        EXPECT_TRUE(EndDocPrinter(h));
        ClosePrinter(h);
        return control::LastJobOutcome().value_or(control::JobOutcome{});
    }

    HANDLE AddPrinter(const char* name, const char* port, DWORD* error = nullptr) {
        std::string n = name;
        std::string p = port;
        char driver[] = "Driver";
        char pp[] = "PP";
        char raw[] = "RAW";
        PRINTER_INFO_2A info{};
        info.pPrinterName = n.data();
        info.pPortName = p.data();
        info.pDriverName = driver;
        info.pPrintProcessor = pp;
        info.pDatatype = raw;
        info.Attributes = 0x800;
        HANDLE h = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        if (error) {
            *error = h ? 0 : GetLastError();
        }
        return h;
    }
};

TEST_F(SpoolerTest, PrinterRecordsNeedTheirPortDriverAndProcessor) {
    DWORD error = 0;
    EXPECT_EQ(AddPrinter("P", "COM1:", &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
    RegisterDriverAndProcessor();
    EXPECT_EQ(AddPrinter("P", "COM9:", &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNKNOWN_PORT));
    HANDLE h = AddPrinter("P", "COM1:", &error);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(AddPrinter("P", "COM2:", &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));

    // the two-call protocol: the size first, then the record with its strings inside the buffer
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetPrinterA(h, 2, buffer.data(), needed - 1, &needed));
    ASSERT_TRUE(GetPrinterA(h, 2, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    EXPECT_STREQ(info->pPrinterName, "P");
    EXPECT_STREQ(info->pPortName, "COM1:");
    EXPECT_STREQ(info->pPrintProcessor, "PP");
    EXPECT_EQ(info->Attributes, 0x800u);
    const auto* end = buffer.data() + buffer.size();
    EXPECT_TRUE(reinterpret_cast<BYTE*>(info->pPortName) > buffer.data() &&
                reinterpret_cast<BYTE*>(info->pPortName) < end);

    // what SetPrinterA writes back is what the next query reads
    info->Attributes |= 0x1000;
    ASSERT_TRUE(SetPrinterA(h, 2, buffer.data(), 0));
    std::vector<BYTE> wide(4096);
    ASSERT_TRUE(GetPrinterW(h, 2, wide.data(), static_cast<DWORD>(wide.size()), &needed));
    const auto* w = reinterpret_cast<PRINTER_INFO_2W*>(wide.data());
    EXPECT_EQ(w->Attributes, 0x1800u);
    EXPECT_EQ(std::u16string(w->pPrinterName), u"P");
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FALSE(ClosePrinter(h));
    EXPECT_EQ(control::OpenPrinterHandles(), 0u);
}

TEST_F(SpoolerTest, EnumerationsAnswerSizeFirst) {
    RegisterDriverAndProcessor();
    ClosePrinter(AddPrinter("First", "COM1:"));
    ClosePrinter(AddPrinter("Second", "LPT1:"));
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    auto* printers = reinterpret_cast<PRINTER_INFO_4A*>(buffer.data());
    EXPECT_STREQ(printers[0].pPrinterName, "First");
    EXPECT_STREQ(printers[1].pPrinterName, "Second");

    EXPECT_FALSE(EnumPortsA(nullptr, 1, nullptr, 0, &needed, &count));
    buffer.assign(needed, 0);
    ASSERT_TRUE(EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count));
    std::vector<std::string> names;
    for (DWORD i = 0; i < count; ++i) {
        names.push_back(reinterpret_cast<PORT_INFO_1A*>(buffer.data())[i].pName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"COM1:", "COM2:", "COM3:", "COM4:", "LPT1:", "LPT2:", "LPT3:",
                                               "FILE:"}));
}

TEST_F(SpoolerTest, EveryOpeningOfAJobReadsItFromItsFirstByte) {
    control::PrinterSetup setup;
    setup.name = "Held";
    ASSERT_TRUE(control::AddTestPrinter(setup));
    const Bytes job = B("0123456789");
    const DWORD id = control::SpoolJob("Held", job);
    std::u16string name = control::JobReadName("Held", id);
    for (int opening = 0; opening < 2; ++opening) {
        HANDLE reader = nullptr;
        ASSERT_TRUE(OpenPrinterW(name.data(), &reader, nullptr));
        BYTE buf[4];
        DWORD got = 0;
        Bytes read;
        while (ReadPrinter(reader, buf, sizeof(buf), &got) && got > 0) {
            read.insert(read.end(), buf, buf + got);
        }
        EXPECT_EQ(read, job);
        EXPECT_TRUE(ReadPrinter(reader, buf, 1, &got)) << "the end of a job reads as nothing";
        EXPECT_EQ(got, 0u);
        ClosePrinter(reader);
    }
    for (const char16_t* bad : {u"Held, Job 999", u"Held, Job x", u"Other, Job 1", u"Held, Job "}) {
        std::u16string n = bad;
        HANDLE h = nullptr;
        EXPECT_FALSE(OpenPrinterW(n.data(), &h, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    }
}

TEST_F(SpoolerTest, ApplicationDocumentsNeedAStartAndAPrintProcessor) {
    control::PrinterSetup setup;
    setup.name = "Plain";
    ASSERT_TRUE(control::AddTestPrinter(setup));
    std::u16string name = u"Plain";
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
    BYTE b = 'x';
    DWORD written = 0;
    EXPECT_FALSE(WritePrinter(h, &b, 1, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
    EXPECT_FALSE(EndDocPrinter(h));
    std::u16string doc = u"d";
    DOC_INFO_1W info{doc.data(), nullptr, nullptr};
    EXPECT_EQ(StartDocPrinterW(h, 2, reinterpret_cast<LPBYTE>(&info)), 0u);
    const DWORD id = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info));
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(WritePrinter(h, &b, 1, &written));
    EXPECT_TRUE(EndDocPrinter(h)); // held: no print processor to run it
    std::u16string readName = control::JobReadName("Plain", id);
    HANDLE reader = nullptr;
    EXPECT_TRUE(OpenPrinterW(readName.data(), &reader, nullptr));
    ClosePrinter(reader);
    ClosePrinter(h);
}

// Each copy pass of the kit's processor is seen from its reader: how far it read and whether it read to
// the end; a cancel sent through the spooler while the job prints ends the pass and the copies after it.
TEST_F(SpoolerTest, CopyPassesReportHowFarTheyReadAndCancelsReachTheProcessor) {
    ASSERT_NO_FATAL_FAILURE(InstallKitPrinter("COM1:"));
    control::SetPortTarget("COM1:", "/dev/null");
    auto print = [](const Bytes& job, short copies) {
        DEVMODEW devmode{};
        devmode.dmSize = sizeof(devmode);
        devmode.dmFields = DM_COPIES;
        devmode.dmCopies = copies;
        return PrintToReceipt(job, &devmode);
    };
    using Read = control::JobOutcome::PassRead;
    auto reads = [](const control::JobOutcome& o) {
        std::vector<std::pair<uint64_t, bool>> out;
        for (const Read& r : o.passReads) {
            out.emplace_back(r.position, r.reachedEnd);
        }
        return out;
    };
    const Bytes whole = Concat({B("hello"), B({0x1B, '@'}), B("world")});
    control::JobOutcome o = print(whole, 2);
    EXPECT_EQ(reads(o), (std::vector<std::pair<uint64_t, bool>>{{12, true}, {12, true}}));
    EXPECT_FALSE(o.cancelled);
    // FS . is not a command of the processor: each pass ends after reading it
    o = print(Concat({B("ab"), B({0x1C, '.'}), B("cd")}), 2);
    EXPECT_EQ(reads(o), (std::vector<std::pair<uint64_t, bool>>{{4, false}, {4, false}}));

    // text goes out in writes of 256 bytes: a cancel at the second write is seen at the next byte read
    control::SetCallHook(control::Op::WritePrinter, [](uint64_t n) {
        if (n == 2) {
            EXPECT_TRUE(control::CancelRunningJob());
        }
    });
    control::ResetCounters();
    o = print(Bytes(2000, 'x'), 3);
    control::ClearHooks();
    EXPECT_TRUE(o.cancelled);
    EXPECT_EQ(reads(o), (std::vector<std::pair<uint64_t, bool>>{{513, false}}));
    EXPECT_FALSE(control::CancelRunningJob()) << "nothing prints now";
}

// PRINTER_INFO_2's job count: jobs held in the spooler and a document still being written count; a job that
// ends without being started and a document that is abandoned do not.
TEST_F(SpoolerTest, PrinterInfoCountsThePrintersJobs) {
    for (const char* printer : {"Held", "Other"}) {
        control::PrinterSetup setup;
        setup.name = printer;
        ASSERT_TRUE(control::AddTestPrinter(setup));
    }
    std::u16string name = u"Held";
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
    auto jobs = [h] {
        DWORD needed = 0;
        GetPrinterA(h, 2, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(GetPrinterA(h, 2, buffer.data(), needed, &needed));
        return reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())->cJobs;
    };
    EXPECT_EQ(jobs(), 0u);
    control::SpoolJob("Held", B("one"));
    control::SpoolJob("held", B("two")); // printer names are case-insensitive
    control::SpoolJob("Other", B("elsewhere"));
    EXPECT_EQ(jobs(), 2u);

    std::u16string doc = u"d";
    DOC_INFO_1W info{doc.data(), nullptr, nullptr};
    ASSERT_NE(StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info)), 0u);
    EXPECT_EQ(jobs(), 3u) << "a job from its start";
    EXPECT_TRUE(EndDocPrinter(h));
    EXPECT_EQ(jobs(), 3u) << "held: no print processor runs it";

    HANDLE abandoned = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &abandoned, nullptr));
    ASSERT_NE(StartDocPrinterW(abandoned, 1, reinterpret_cast<LPBYTE>(&info)), 0u);
    EXPECT_EQ(jobs(), 4u);
    ClosePrinter(abandoned);
    EXPECT_EQ(jobs(), 3u) << "a document that never ended is no job";
    ClosePrinter(h);
}

// A document with an output file prints to that file, replaced at each document, past the printer's port and
// its language monitor; a file name must be a full path.
TEST_F(SpoolerTest, DocumentsWithAnOutputFileGoToThatFile) {
    ASSERT_NO_FATAL_FAILURE(InstallKitPrinter("COM1:"));
    const std::string port = Root() + "/com1.out";
    control::SetPortTarget("COM1:", port);
    auto print = [](const Bytes& job, const char16_t* outputFile) {
        return PrintToReceipt(job, nullptr, outputFile);
    };
    control::JobOutcome o = print(B("first job"), u"C:\\Output\\Receipt.prn");
    EXPECT_TRUE(o.printed);
    EXPECT_FALSE(o.viaMonitor);
    o = print(B("second"), u"c:\\output\\receipt.prn");
    EXPECT_TRUE(o.printed);
    EXPECT_EQ(FileBytes(control::HostPath("C:\\Output\\Receipt.prn")), B("second"));
    EXPECT_TRUE(FileBytes(port).empty()) << "the port got nothing";
    EXPECT_TRUE(FileBytes(control::HostPath("c:\\kqt50mon.dat")).empty()) << "the monitor saw nothing";

    o = print(B("lost"), u"Receipt.prn");
    EXPECT_FALSE(o.printed);
    EXPECT_TRUE(o.portFailed);
}

TEST_F(SpoolerTest, APortTheProgramServesTakesItsDocumentsThroughTheSink) {
    ASSERT_NO_FATAL_FAILURE(InstallKitPrinter("COM1:"));
    const std::string file = Root() + "/com1.out";
    control::SetPortTarget("COM1:", file);
    struct Served {
        Bytes bytes;
        int calls = 0;
        int ends = 0;
        DWORD limit = 3;   // the sink takes at most this many bytes a call: the spooler offers the rest again
        int failAfter = -1; // the call after which the device fails
    } served;
    control::SetPortSink("COM1:", control::PortSink{
                                      [&](const BYTE* bytes, DWORD count, DWORD* sent) -> BOOL {
                                          if (served.failAfter >= 0 && served.calls >= served.failAfter) {
                                              *sent = 0;
                                              return FALSE;
                                          }
                                          ++served.calls;
                                          *sent = std::min(count, served.limit);
                                          served.bytes.insert(served.bytes.end(), bytes, bytes + *sent);
                                          return TRUE;
                                      },
                                      nullptr, [&] { ++served.ends; }});
    control::JobOutcome o = PrintToReceipt(B("hello, sink\n"));
    EXPECT_TRUE(o.printed);
    EXPECT_TRUE(o.viaMonitor) << "the language monitor sits above the sink as above a file";
    EXPECT_FALSE(o.portFailed);
    EXPECT_EQ(Hex(served.bytes), Hex(B("hello, sink\n")));
    EXPECT_EQ(served.calls, 4) << "12 bytes, 3 at a time";
    EXPECT_EQ(served.ends, 1);
    EXPECT_TRUE(FileBytes(file).empty()) << "the port's file is not used while the program serves the port";

    served = {};
    served.limit = 100;
    o = PrintToReceipt(B("whole"));
    EXPECT_TRUE(o.printed);
    EXPECT_EQ(Hex(FileBytes(control::HostPath("c:\\kqt50mon.dat"))), Hex(B("whole")))
        << "the monitor keeps its copy of what went to the sink";

    served = {};
    served.limit = 100;
    served.failAfter = 0;
    o = PrintToReceipt(B("lost"));
    EXPECT_TRUE(o.portFailed);
    EXPECT_EQ(o.bytesToPort, 0u);
    EXPECT_EQ(served.ends, 1) << "a failed document still ends";

    control::SetPortSink("COM1:", control::PortSink{}); // the port goes back to its file
    o = PrintToReceipt(B("to the file"));
    EXPECT_TRUE(o.printed);
    EXPECT_EQ(Hex(FileBytes(file)), Hex(B("to the file")));
}

// The spooler runs in a process of the machine's own architecture, whatever program prints: it loads no print
// processor or monitor built for another (on 64-bit Windows, a 32-bit one), as on Windows, where the DLL does
// not load. The built libraries count as built for the machine.
TEST_F(SpoolerTest, TheSpoolerLoadsOnlyModulesOfItsMachinesArchitecture) {
    struct Case {
        const char* what;
        WORD architecture;  // the machine's
        WORD program;       // the machine of the printing program's image; 0: no image
        WORD processor;     // likewise of the print processor's file; 0: the built library
        bool printed;
    };
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL;
    const WORD x64 = PROCESSOR_ARCHITECTURE_AMD64;
    const Case cases[] = {
        {"the built processor on 32-bit Windows", x86, 0, 0, true},
        {"the built processor on 64-bit Windows", x64, 0, 0, true},
        {"a 32-bit program prints through the 64-bit spooler", x64, IMAGE_FILE_MACHINE_I386, 0, true},
        {"a 32-bit processor on 64-bit Windows", x64, 0, IMAGE_FILE_MACHINE_I386, false},
        {"a 64-bit processor on 32-bit Windows", x86, 0, IMAGE_FILE_MACHINE_AMD64, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        control::ResetMachine(Root() + "/case" + std::to_string(i));
        control::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 6, 1, c.architecture);
        ASSERT_NO_FATAL_FAILURE(InstallKitPrinter("COM1:"));
        control::SetPortTarget("COM1:", Root() + "/case" + std::to_string(i) + ".out");
        if (c.program) {
            WriteImageHeaders("C:\\Setup\\image.exe", c.program);
            control::SetProgramPath("C:\\Setup\\image.exe");
        }
        if (c.processor) {
            WriteImageHeaders("C:\\WINDOWS\\System32\\spool\\PRTPROCS\\WIN40\\KQPRINT.DLL", c.processor);
        }
        const control::JobOutcome o = PrintToReceipt(B("receipt"));
        EXPECT_EQ(o.printed != FALSE, c.printed) << o.error;
        EXPECT_EQ(o.processorLoaded, c.printed);
        if (!c.printed) {
            EXPECT_NE(o.error.find("built for another architecture"), std::string::npos) << o.error;
        }
    }

    // A monitor is loaded when it is added: a 32-bit one is refused by the 64-bit spooler.
    control::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 6, 1, x64);
    WriteImageHeaders("C:\\WINDOWS\\SYSTEM32\\MON32.DLL", IMAGE_FILE_MACHINE_I386);
    char name[] = "Monitor32";
    char env[] = "Windows x64";
    char dll[] = "MON32.DLL";
    MONITOR_INFO_2A monitor{name, env, dll};
    EXPECT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Monitor32", 0,
                            KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace kqtest
