// A fake port monitor and the language monitor loaded from its library, on Windows (under wine64) and on
// the Linux stand-in alike, driven the way either spooler drives it: the Windows 98/ME spooler through
// InitializeMonitorEx (8-bit names, 13-entry tables), the spoolers of Windows 2000 and later through
// InitializePrintMonitor2 (UTF-16 names, MONITOR2 tables and instance handles).
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include "kqmon.h"
#include "winsplp_ansi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kqmontest {

using Bytes = std::vector<BYTE>;

// The spooler whose entry a test drives.
enum class Entry { Spooler9x, SpoolerNt };
std::string EntryName(const ::testing::TestParamInfo<Entry>& info);

// What the fake port monitor saw and how it answers. Names are recorded 8-bit, whichever form arrived.
struct FakePort {
    std::vector<std::string> calls; // "OpenPort COM1:", "StartDocPort 7 1 <printer>", "WritePort 5", ...
    std::vector<BYTE> written;      // bytes it took
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150));
    // the instance handle of its MONITOR2 form; an OpenPort with another one is recorded as "wrong-instance"
    HANDLE instance = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1157));
    BOOL openResult = TRUE;
    DWORD openError = 0;
    BOOL startResult = TRUE;
    int failWrite = 0;    // the n-th write fails (1-based; 0: none)
    DWORD writeLimit = 0; // take at most this many bytes per write (0: all)
    std::vector<BYTE> readData;
};
FakePort& Fake();

// The entries of the port monitor's table that a test can take away.
enum class LowerEntry { OpenPort, StartDocPort, WritePort, ReadPort, EndDocPort, ClosePort };

// The monitor's library loaded and initialised through both entries, on a fresh machine (Linux) or with
// a clean capture path (Windows), with a printer the monitor can open. Port operations go through the
// entry of `entry()`.
class MonitorHarness : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    virtual Entry entry() const = 0;

    // Opens a port through the monitor with the fake port monitor below it.
    HANDLE OpenPort(const char* name = "COM1:");
    // The port open as the spooler calls it: with the fake port monitor's table, or none at all.
    BOOL OpenPortEx(const char* name, HANDLE* port, bool withTable = true);
    // Takes an entry out of the fake port monitor's table for the opens that follow; puts them all back.
    void RemoveLowerEntry(LowerEntry which);
    void RestoreLowerEntries();
    // The size that the fake port monitor's MONITOR2 declares.
    void SetLowerTableSize(DWORD cbSize);
    // Document start for the test's printer; and with any printer name (null: none) and document
    // information or none.
    BOOL StartDoc(HANDLE port, DWORD jobId);
    BOOL StartDocAs(HANDLE port, const char* printer, DWORD jobId, bool withInfo = true);
    BOOL Write(HANDLE port, Bytes bytes, DWORD* written);
    BOOL Read(HANDLE port, BYTE* buffer, DWORD size, DWORD* read);
    BOOL EndDoc(HANDLE port);
    BOOL ClosePort(HANDLE port);
    // A whole document: start, writes, end.
    void PrintDocument(HANDLE port, DWORD jobId, const std::vector<Bytes>& writes);

    // The capture file's content; false when there is none.
    bool ReadCapture(Bytes* bytes);
    void WriteCapture(const Bytes& bytes);

    using Init9xFn = BOOL(WINAPI*)(LPSTR, MONITORA*);
    using InitNtFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    // The spooler's initialisation arguments: a registry root key as the NT spoolers open it.
    MONITORINIT MonitorInit();

    std::string printer_;
    HMODULE module_ = nullptr;
    Init9xFn init9x_ = nullptr;
    InitNtFn initNt_ = nullptr;
    MONITORA table9x_{};              // filled by InitializeMonitorEx
    MONITOR2* tableNt_ = nullptr;     // from InitializePrintMonitor2
    HANDLE instance_ = nullptr;       // its instance

  private:
    void finish();
    MONITORA lower9x_{};
    MONITOR2 lowerNt_{};
};

// The tests that both spoolers' entries pass alike; every TEST_P of it runs through each entry.
class MonitorTest : public MonitorHarness, public ::testing::WithParamInterface<Entry> {
  protected:
    Entry entry() const override { return GetParam(); }
};

// Tests of one entry alone.
class Monitor9xTest : public MonitorHarness {
  protected:
    Entry entry() const override { return Entry::Spooler9x; }
};
class MonitorNtTest : public MonitorHarness {
  protected:
    Entry entry() const override { return Entry::SpoolerNt; }
};

Bytes Text(const std::string& s);

// Debugger output lines since the last call (Linux only; empty under Windows).
std::vector<std::string> TakeTrace();
bool TraceAvailable();

} // namespace kqmontest
