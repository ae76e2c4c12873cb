// A fake port monitor and the language monitor loaded from its library, on Windows (under wine64) and
// on the Linux stand-in alike.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "kqmon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kqmontest {

// The 13-entry port function table that monitors exchange.
using PortTable = MONITORA;

// What the fake port monitor saw and how it answers.
struct FakePort {
    std::vector<std::string> calls; // "OpenPort COM1:", "StartDocPort 7", "WritePort 5", ...
    std::vector<BYTE> written;      // bytes it took
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150));
    BOOL openResult = TRUE;
    DWORD openError = 0;
    BOOL startResult = TRUE;
    int failWrite = 0;   // the n-th write fails (1-based; 0: none)
    DWORD writeLimit = 0; // take at most this many bytes per write (0: all)
    std::vector<BYTE> readData;
};
FakePort& Fake();
PortTable FakeTable();

using InitFn = BOOL(WINAPI*)(LPSTR, PortTable*);

// A fresh machine (Linux) or a clean capture path (Windows), a printer the monitor can open, and the
// monitor's library loaded and initialised.
class MonitorTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a port through the monitor with the fake port monitor below it.
    HANDLE OpenPort(const char* name = "COM1:");
    // A whole document: start, writes, end.
    void PrintDocument(HANDLE port, DWORD jobId, const std::vector<std::vector<BYTE>>& writes);
    BOOL StartDoc(HANDLE port, DWORD jobId);

    // The capture file's content; false when there is none.
    bool ReadCapture(std::vector<BYTE>* bytes);
    void WriteCapture(const std::vector<BYTE>& bytes);

    std::string printer_;
    HMODULE module_ = nullptr;
    InitFn init_ = nullptr;
    PortTable table_{};
    PortTable lower_{};

  private:
    void finish();
};

// Debugger output lines since the last call (Linux only; empty under Windows).
std::vector<std::string> TakeTrace();
bool TraceAvailable();

} // namespace kqmontest
