// Test support: a fresh simulated machine per test, and byte helpers.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include "kqwin/test_control.h"

#include "hex.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kqtest {

namespace control = kqwin::control;
using Bytes = std::vector<BYTE>;

// Bytes from numbers, or from the characters of a string.
Bytes B(std::initializer_list<int> values);
Bytes B(std::string_view text);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Join(const std::vector<Bytes>& parts);
// A host file's bytes; empty when it cannot be read.
Bytes FileBytes(const std::string& path);
// Lowercase hex, for readable failure messages.
using kqkit::Hex;
// An image of `n` bytes whose values cycle through every byte, prefixes included.
Bytes Pattern(size_t n, unsigned seed = 0);

// Whether a key of HKLM exists on the current machine.
bool KeyExists(const std::string& key);
// A value of HKLM as the registry calls read it: strings as text, a multi-string joined with '|', a DWORD
// in decimal, binary data in hex; "-" when there is no such value.
std::string RegValue(const std::string& key, const char* name);

// Every test gets a machine of its own in a new temporary folder, removed afterwards.
class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& Root() const { return root_; }

  private:
    std::string root_;
};

// The open data the spooler hands OpenPrintProcessor, owning its strings: a RAW job `jobId` of `printer`
// with the given parameters ("COPIES=n;").
struct ProcessorOpenData {
    ProcessorOpenData(std::u16string printerName, DWORD jobId, std::u16string parameterText,
                      std::u16string datatypeName = u"RAW");
    ProcessorOpenData(const ProcessorOpenData&) = delete;
    ProcessorOpenData& operator=(const ProcessorOpenData&) = delete;

    std::u16string printer;
    std::u16string parameters;
    std::u16string datatype;
    std::u16string document = u"test document";
    PRINTPROCESSOROPENDATA data{};
};
std::u16string CopiesParameter(unsigned copies);

// Adds a printer `name` on FILE: whose output goes nowhere (the writes are still recorded).
// Call under ASSERT_NO_FATAL_FAILURE.
void AddDiscardingPrinter(const char* name);

// Installs the built print processor and language monitor (from KQ_TEST_BIN; the monitor's file is
// `monitorLibrary` there) on the machine, with a driver that names the monitor and a printer "Receipt" on
// `port` that uses both, bidirectional mode on. Call under ASSERT_NO_FATAL_FAILURE.
void InstallKitPrinter(const char* port, const char* monitorLibrary = "libkqmon.so");

// Lays out the kit folder at `windowsFolder` as the build lays it out: the media (NT\KQT50.INF and its GPD,
// Chicago\KQT50.INF), the built print processor and monitor (from KQ_TEST_BIN) for each architecture below
// the NT media (i386\, amd64\) and beside the Chicago INF. Call under ASSERT_NO_FATAL_FAILURE.
void StageKit(const std::string& windowsFolder);

// Writes the headers of a PE image built for `machine` (IMAGE_FILE_MACHINE_I386, _AMD64, ...) at a Windows
// path: all a loader reads to tell the image's architecture, and no code.
void WriteImageHeaders(const std::string& windowsPath, WORD machine);

// The bytes of each write that a print processor made, in order.
std::vector<Bytes> WriteChunks();
// All of them, joined.
Bytes Output();
// The same writes, and any list of chunks, as hex strings: failure messages show which write differs.
using HexList = std::vector<std::string>;
HexList HexWrites();
HexList HexOf(const std::vector<Bytes>& chunks);

} // namespace kqtest
