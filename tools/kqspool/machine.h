// The simulated machine as a run needs it: scopes that change it for the run and put it back when the
// run ends. This header is kqspool's one way to the stand-in's control interface; the other files reach
// it through the `control` name it gives.
#pragma once

#include <windows.h>

#include "kqwin/tool_control.h"

#include "options.h"

#include <functional>
#include <optional>
#include <string>

namespace kqspool {

namespace control = kqwin::control;

// The printer's attributes, changed for the run and put back when it ends.
class PrinterAttributes {
  public:
    // Clears `clear` (bidirectional mode routes output through the driver's language monitor).
    explicit PrinterAttributes(DWORD clear);
    ~PrinterAttributes();
    PrinterAttributes(const PrinterAttributes&) = delete;
    PrinterAttributes& operator=(const PrinterAttributes&) = delete;
    bool ok() const { return ok_; }

  private:
    DWORD saved_ = 0;
    bool ok_ = false;
};

// Makes the machine run `version` from now on (the machine keeps its Windows, as every program on it sees
// it). False, with nothing changed, for a machine whose printer is set up already and that runs the other
// family of Windows (98/ME against 2000/XP): each family keeps the kit's files in places of its own.
bool ChooseWindows(const WindowsVersion& version);

// The port's configured target, restored when the run ends.
class PortTargetOverride {
  public:
    explicit PortTargetOverride(const std::string& target);
    ~PortTargetOverride();
    PortTargetOverride(const PortTargetOverride&) = delete;
    PortTargetOverride& operator=(const PortTargetOverride&) = delete;

  private:
    std::optional<std::string> previous_;
};

// The spooler's write observer for as long as the scope lives: each write of the print processor, its
// byte count and how many of them the port accepted.
class WriteObserverScope {
  public:
    explicit WriteObserverScope(std::function<void(const BYTE*, DWORD, DWORD)> observer);
    ~WriteObserverScope();
    WriteObserverScope(const WriteObserverScope&) = delete;
    WriteObserverScope& operator=(const WriteObserverScope&) = delete;
};

// A machine of its own in a temporary folder, removed when the scope ends.
class ScratchMachine {
  public:
    ScratchMachine();
    ~ScratchMachine();
    ScratchMachine(const ScratchMachine&) = delete;
    ScratchMachine& operator=(const ScratchMachine&) = delete;
    bool ok() const { return !dir_.empty(); }

  private:
    std::string dir_;
};

// The machine as a run needs it, put back when the run ends: a scratch machine for `check`, the printer
// set up and at the resolution asked for, the language monitor bypassed, the port's target replaced. The
// Windows asked for is the machine's from then on.
class RunMachine {
  public:
    RunMachine() = default;
    RunMachine(const RunMachine&) = delete;
    RunMachine& operator=(const RunMachine&) = delete;

    // False, with a message on standard error, when the machine cannot be made ready.
    bool Prepare(const Options& opt);
    // The machine's folder, and where the port's bytes go ("-": standard output).
    const std::string& root() const { return root_; }
    const std::string& target() const { return target_; }

  private:
    std::optional<ScratchMachine> scratch_;
    std::optional<PrinterAttributes> bypass_;
    std::optional<PortTargetOverride> override_;
    std::string root_;
    std::string target_;
};

} // namespace kqspool
