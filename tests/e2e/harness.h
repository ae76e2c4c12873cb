// Runs the built kqspool as a user would: a child process with a machine root of its own per test.
#pragma once

#include "escpos.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {

using escpos::Bytes;

struct RunResult {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// The one-line summary that kqspool writes to standard error, split into its figures.
struct Summary {
    unsigned long long printed = 0, given = 0;
    unsigned long long bytesIn = 0, writes = 0, bytesOut = 0, imagesOut = 0;
    std::optional<unsigned long long> bandsIn; // when the line reports it
    bool viaMonitor = false;
    std::string monitorEntry; // the monitor's initialisation that the spooler called, when via the monitor
};

// Lines of --trace-writes: "count hex" each.
struct Trace {
    std::vector<Bytes> writes;
    std::string error; // first malformed line, if any
};

std::string SourceDir();
Bytes ReadFile(const std::string& path);
std::optional<Summary> ParseSummary(const std::string& err);
Trace ReadTrace(const std::string& path);
Bytes Join(const std::vector<Bytes>& parts);
std::string Hex(const Bytes& bytes, size_t max = 64);

// A fresh folder per test: the machine root (KQT50_ROOT) lives in it, and so do the outputs.
class KqspoolTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs kqspool with `args`, standard input from `input` (nothing by default).
    RunResult Kqspool(const std::vector<std::string>& args, const std::string& input = "/dev/null");
    // Starts the program `argv[0]` of the build in the test's folder with its machine root, standard input
    // from `input`, output and errors to the descriptors `out` and `err`; its process id (-1: not started).
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& input, int out, int err) const;
    // A built program's path.
    std::string Program(const std::string& name) const;
    const std::string& Dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // The language monitor's capture file in the machine.
    std::string CapturePath() const { return dir_ + "/root/c/kqt50mon.dat"; }

  private:
    std::string dir_;
    std::string program_;
};

} // namespace e2e
