// The simulated machine the benchmarks print on: KQPRINT and the bare pass-through processor installed,
// a printer for each, both ports going to /dev/null.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kqbench {

enum class Processor { Kqprint, Bare };

const char* ProcessorName(Processor processor);

// Makes a fresh machine in a temporary folder and installs both processors; exits on failure.
void SetUpMachine();
void TearDownMachine();

// What a printed job did, as the spooler saw it.
struct Outcome {
    bool printed = false;
    uint64_t writes = 0;       // WritePrinter calls of the processor
    uint64_t bytesOffered = 0; // bytes it wrote
    std::string error;
};

// Prints jobs on the printer that runs `processor`, two ways:
// - Spool() then Process(): the spooler's part of the job (keeping the job, opening the processor's
//   library) is done outside the timing; the timing covers the processor's three calls, made as the spooler
//   makes them (OpenPrintProcessor under the port's name, PrintDocumentOnPrintProcessor on the job,
//   ClosePrintProcessor), with every call they make going to the stand-in spooler.
// - Despool(): an application's whole job (StartDocPrinterW, WritePrinter, then EndDocPrinter, which runs
//   the processor); the timing covers EndDocPrinter, so it also holds the spooler's own work for the job.
class Printer {
  public:
    explicit Printer(Processor processor);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    void Spool(const std::vector<uint8_t>& job);
    // Runs the processor on the spooled job; returns the nanoseconds its calls took. The outcome is in
    // LastOutcome() once the next job is spooled or Finish() is called.
    int64_t Process();
    // Ends the job as the spooler does once its processor has run (deletes it).
    void Finish();

    // The whole job through EndDocPrinter; returns the nanoseconds EndDocPrinter took.
    int64_t Despool(const std::vector<uint8_t>& job);

    Outcome LastOutcome() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace kqbench
