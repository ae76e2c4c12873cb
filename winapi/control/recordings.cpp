// The recordings of test control: the observer of each DLL's hook, keeping what the DLL reported (debugger
// output, the global memory blocks alive, message boxes, icon draws, modal-loop failures, process starts, print processor writes) until a test
// reads it or the machine is reset.
#include "machine.h"
#include "observers.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace kqwin {
namespace {

bool DebugEchoRequested() { return std::getenv("KQT50_DEBUG") != nullptr; }

class Kernel32Recorder final : public Kernel32Observer {
  public:
    void DebugOutput(std::string_view utf8) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(utf8);
        if (lines_.size() > 100000) { // a long run keeps the newest lines only
            lines_.erase(lines_.begin(), lines_.begin() + 50000);
        }
        if (echo_) {
            std::fprintf(stderr, "[debug] %.*s%s", static_cast<int>(utf8.size()), utf8.data(),
                         (!utf8.empty() && utf8.back() == '\n') ? "" : "\n");
        }
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    void Echo(bool on) {
        std::lock_guard lock(mutex_);
        echo_ = on || DebugEchoRequested();
    }
    // Blocks live in the process whatever machine runs: a reset forgets none of them.
    void GlobalBlocks(int change) override { liveBlocks_.fetch_add(change, std::memory_order_relaxed); }
    long LiveBlocks() const { return liveBlocks_.load(std::memory_order_relaxed); }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    bool echo_ = DebugEchoRequested();
    std::atomic<long> liveBlocks_{0};
};

class User32Recorder final : public User32Observer {
  public:
    void MessageBoxOpened(HWND box, HWND owner, std::string_view text, std::string_view caption,
                          UINT type) override {
        std::lock_guard lock(mutex_);
        openBoxes_[box] = boxes_.size();
        boxes_.push_back(control::MessageBoxRecord{owner, std::string(text), std::string(caption), type, 0});
    }
    void MessageBoxAnswered(HWND box, int answer) override {
        std::lock_guard lock(mutex_);
        const auto it = openBoxes_.find(box);
        if (it == openBoxes_.end()) {
            return;
        }
        if (it->second < boxes_.size()) { // not cleared while the box was up
            boxes_[it->second].answer = answer;
        }
        openBoxes_.erase(it);
    }
    void IconDrawn(HWND window, int x, int y, HICON icon) override {
        std::lock_guard lock(mutex_);
        draws_.push_back(control::IconDraw{window, x, y, icon});
    }
    void ModalLoopFailed(std::string_view what) override {
        std::lock_guard lock(mutex_);
        modalErrors_.emplace_back(what);
    }

    std::vector<control::MessageBoxRecord> Boxes() {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    std::vector<control::IconDraw> Draws() {
        std::lock_guard lock(mutex_);
        return draws_;
    }
    std::vector<std::string> ModalErrors() {
        std::lock_guard lock(mutex_);
        return modalErrors_;
    }
    void ClearBoxes() {
        std::lock_guard lock(mutex_);
        boxes_.clear();
        openBoxes_.clear();
    }
    void ClearDraws() {
        std::lock_guard lock(mutex_);
        draws_.clear();
    }
    void ClearModalErrors() {
        std::lock_guard lock(mutex_);
        modalErrors_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<control::MessageBoxRecord> boxes_;
    std::map<HWND, size_t> openBoxes_; // the record of each box that is up
    std::vector<control::IconDraw> draws_;
    std::vector<std::string> modalErrors_;
};

class ProcessStartRecorder final : public Shell32Observer {
  public:
    void ProcessStarted(const control::ProcessStart& start) override {
        std::lock_guard lock(mutex_);
        starts_.push_back(start);
    }
    std::vector<control::ProcessStart> Starts() {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        starts_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<control::ProcessStart> starts_;
};

// Print processor writes: kept for tests that asked for them, streamed to a tool's observer. The spooler's
// hook is set only while either wants them.
class WriteRecorder final : public WinspoolObserver {
  public:
    void PrintProcessorWrite(const BYTE* bytes, DWORD offered, DWORD accepted, BOOL result) override {
        std::lock_guard lock(mutex_);
        if (observer_) {
            observer_(bytes, offered, accepted);
        }
        if (record_) {
            writes_.push_back(control::WriteRecord{std::vector<BYTE>(bytes, bytes + offered), accepted, result});
        }
    }
    void Record(bool on) {
        std::lock_guard lock(mutex_);
        record_ = on;
        UpdateHook();
    }
    void Observe(std::function<void(const BYTE*, DWORD, DWORD)> observer) {
        std::lock_guard lock(mutex_);
        observer_ = std::move(observer);
        UpdateHook();
    }
    std::vector<control::WriteRecord> Writes() {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        writes_.clear();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        record_ = false;
        writes_.clear();
        observer_ = nullptr;
        UpdateHook();
    }

  private:
    void UpdateHook() { WinspoolHook().Set(record_ || observer_ ? this : nullptr); }

    std::mutex mutex_;
    bool record_ = false;
    std::vector<control::WriteRecord> writes_;
    std::function<void(const BYTE*, DWORD, DWORD)> observer_;
};

// A tool's handler of stalled ports (kqspool: its messages and its time limit); the hook is set while there
// is one.
class PortStallWatch final : public LocalsplObserver {
  public:
    bool PortStalled(std::string_view port, DWORD stalled) override {
        std::function<bool(const std::string&, DWORD)> handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        return !handler || handler(std::string(port), stalled);
    }
    void Handle(std::function<bool(const std::string&, DWORD)> handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        LocalsplHook().Set(handler_ ? this : nullptr);
    }

  private:
    std::mutex mutex_;
    std::function<bool(const std::string&, DWORD)> handler_;
};

PortStallWatch& PortStalls() {
    static PortStallWatch watch;
    return watch;
}

Kernel32Recorder& Kernel32Log() {
    static Kernel32Recorder recorder;
    return recorder;
}

User32Recorder& User32Log() {
    static User32Recorder recorder;
    return recorder;
}

ProcessStartRecorder& ProcessStartLog() {
    static ProcessStartRecorder recorder;
    return recorder;
}

WriteRecorder& WriteLog() {
    static WriteRecorder recorder;
    return recorder;
}

// The recorders watch from the start, as the DLLs' recordings always did; the spooler's writes only on demand.
const bool kObserving = [] {
    Kernel32Hook().Set(&Kernel32Log());
    User32Hook().Set(&User32Log());
    Shell32Hook().Set(&ProcessStartLog());
    return true;
}();

void ForgetRecordings() {
    Kernel32Log().Clear();
    User32Log().ClearBoxes();
    User32Log().ClearDraws();
    User32Log().ClearModalErrors();
    ProcessStartLog().Clear();
    WriteLog().Reset();
    PortStalls().Handle(nullptr);
}
const ResetHook kRecordingsOnReset(&ForgetRecordings);

} // namespace
} // namespace kqwin

namespace kqwin::control {

std::vector<std::string> DebugOutput() { return Kernel32Log().Lines(); }
void ClearDebugOutput() { Kernel32Log().Clear(); }
void EchoDebugOutput(bool on) { Kernel32Log().Echo(on); }
long LiveGlobalBlocks() { return Kernel32Log().LiveBlocks(); }

std::vector<MessageBoxRecord> MessageBoxes() { return User32Log().Boxes(); }
void ClearMessageBoxes() { User32Log().ClearBoxes(); }
std::vector<IconDraw> IconDraws() { return User32Log().Draws(); }
void ClearIconDraws() { User32Log().ClearDraws(); }
std::vector<std::string> ModalLoopErrors() { return User32Log().ModalErrors(); }
void ClearModalLoopErrors() { User32Log().ClearModalErrors(); }

std::vector<ProcessStart> ProcessStarts() { return ProcessStartLog().Starts(); }
void ClearProcessStarts() { ProcessStartLog().Clear(); }

void RecordWrites(bool on) { WriteLog().Record(on); }
std::vector<WriteRecord> Writes() { return WriteLog().Writes(); }
void ClearWrites() { WriteLog().Clear(); }
void SetWriteObserver(std::function<void(const BYTE*, DWORD, DWORD)> observer) {
    WriteLog().Observe(std::move(observer));
}
void SetPortStallHandler(std::function<bool(const std::string& port, DWORD stalled)> handler) {
    PortStalls().Handle(std::move(handler));
}

} // namespace kqwin::control
