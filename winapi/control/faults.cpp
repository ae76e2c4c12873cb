// Call counters, injected faults and hooks of the test-control interface.
#include "machine.h"

#include <array>
#include <functional>

namespace kqwin {
namespace {

struct FaultState {
    std::array<std::atomic<uint64_t>, control::kOpCount> counts{};
    std::atomic<bool> armed{false}; // any fault or hook set: take the slow path
    std::mutex mutex;
    std::vector<control::Fault> faults;
    std::array<std::function<void(uint64_t)>, control::kOpCount> hooks;
    std::function<void(HANDLE)> waitHook;
    std::optional<size_t> allocationLimit;
};

FaultState& Faults() {
    static FaultState state;
    return state;
}

void UpdateArmed(FaultState& s) {
    bool any = !s.faults.empty() || static_cast<bool>(s.waitHook) || s.allocationLimit.has_value();
    for (const auto& hook : s.hooks) {
        any = any || static_cast<bool>(hook);
    }
    s.armed.store(any, std::memory_order_release);
}

DWORD DefaultError(control::Op op) {
    switch (op) {
    case control::Op::GlobalAlloc:
        return ERROR_NOT_ENOUGH_MEMORY;
    case control::Op::ReadPrinter:
    case control::Op::ReadPort:
        return ERROR_READ_FAULT;
    case control::Op::GetPrinter:
        return ERROR_INVALID_HANDLE;
    case control::Op::OpenPrinter:
        return ERROR_INVALID_PRINTER_NAME;
    case control::Op::EnumPorts:
    case control::Op::EnumPrinters:
        return ERROR_NOT_ENOUGH_MEMORY;
    case control::Op::GetCommConfig:
    case control::Op::SetCommConfig:
        return ERROR_GEN_FAILURE;
    case control::Op::LoadStringResource:
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    case control::Op::ShellExecuteEx:
    case control::Op::AddPrinterDriver:
    case control::Op::AddMonitor:
    case control::Op::AddPrintProcessor:
    case control::Op::AddPrinter:
    case control::Op::SetPrinter:
    case control::Op::DeletePrinter:
    case control::Op::DeletePrintProcessor:
    case control::Op::DeleteMonitor:
    case control::Op::DeletePrinterDriver:
    case control::Op::GetPrintProcessorDirectory:
    case control::Op::GetSystemDirectory:
        return 0; // the installer's calls fail with exactly the error a test names, 0 included
    case control::Op::RegCreateKeyEx:
    case control::Op::RegOpenKeyEx:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_WRITE_FAULT;
    }
}

void ResetFaultsAndHooks() {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.faults.clear();
    for (auto& hook : s.hooks) {
        hook = nullptr;
    }
    s.waitHook = nullptr;
    s.allocationLimit.reset();
    for (auto& c : s.counts) {
        c.store(0);
    }
    UpdateArmed(s);
}

const ResetHook kFaultsAndHooksOnReset(&ResetFaultsAndHooks);

} // namespace

FaultDecision CheckFault(control::Op op) {
    FaultState& s = Faults();
    const auto index = static_cast<size_t>(op);
    FaultDecision decision;
    if (!s.armed.load(std::memory_order_acquire)) {
        // Unarmed, a count is a plain increment: ReadPrinter is called for every byte a print processor
        // reads. (Counts of calls made on several threads at once may then fall short; armed, they are
        // exact, since tests that break or hook a call rely on its number.)
        auto& count = s.counts[index];
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return decision;
    }
    const uint64_t n = s.counts[index].fetch_add(1, std::memory_order_relaxed) + 1;
    std::function<void(uint64_t)> hook;
    {
        std::lock_guard lock(s.mutex);
        hook = s.hooks[index];
        for (const control::Fault& f : s.faults) {
            if (f.op != op || n < f.nth || (n != f.nth && !f.sticky)) {
                continue;
            }
            decision.fail = f.kind == control::FaultKind::Fail;
            decision.shorten = f.kind == control::FaultKind::Short;
            decision.keep = f.keep;
            decision.error = f.error ? f.error : DefaultError(op);
            break;
        }
    }
    if (hook) {
        hook(n);
    }
    return decision;
}

void NotifyWaitBlocking(HANDLE object) {
    FaultState& s = Faults();
    if (!s.armed.load(std::memory_order_acquire)) {
        return;
    }
    std::function<void(HANDLE)> hook;
    {
        std::lock_guard lock(s.mutex);
        hook = s.waitHook;
    }
    if (hook) {
        hook(object);
    }
}

bool AllocationAllowed(size_t bytes) {
    FaultState& s = Faults();
    if (!s.armed.load(std::memory_order_acquire)) {
        return true;
    }
    std::lock_guard lock(s.mutex);
    return !s.allocationLimit || bytes <= *s.allocationLimit;
}


} // namespace kqwin

namespace kqwin::control {

void InjectFault(const Fault& fault) {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.faults.push_back(fault);
    UpdateArmed(s);
}

void ClearFaults() {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.faults.clear();
    s.allocationLimit.reset();
    UpdateArmed(s);
}

void ResetCounters() {
    for (auto& c : Faults().counts) {
        c.store(0);
    }
}

uint64_t CallCount(Op op) { return Faults().counts[static_cast<size_t>(op)].load(); }

void SetCallHook(Op op, std::function<void(uint64_t)> hook) {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.hooks[static_cast<size_t>(op)] = std::move(hook);
    UpdateArmed(s);
}

void SetWaitHook(std::function<void(HANDLE)> hook) {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.waitHook = std::move(hook);
    UpdateArmed(s);
}

void ClearHooks() {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    for (auto& hook : s.hooks) {
        hook = nullptr;
    }
    s.waitHook = nullptr;
    UpdateArmed(s);
}

void SetAllocationLimit(std::optional<size_t> bytes) {
    FaultState& s = Faults();
    std::lock_guard lock(s.mutex);
    s.allocationLimit = bytes;
    UpdateArmed(s);
}

} // namespace kqwin::control
