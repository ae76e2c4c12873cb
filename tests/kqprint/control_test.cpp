// ControlPrintProcessor: the run state that pause, resume and cancel make, and how a pump running on
// another thread follows it between bytes.
#include "rig.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kqtest {
namespace {

using control::Op;
using kqprint::ProcessorJob;

constexpr DWORD kPaused = kqprint::kPaused;
constexpr DWORD kCancelled = kqprint::kCancelled;

class ControlTest : public ProcessorTest {};

// Each state also refuses commands other than pause, resume and cancel, leaving it and the last error.
TEST_F(ControlTest, CommandsMoveTheRunState) {
    struct Case {
        const char* what;
        std::vector<DWORD> commands;
        DWORD flags;
        bool signalled;
    };
    constexpr DWORD P = JOB_CONTROL_PAUSE, R = JOB_CONTROL_RESUME, C = JOB_CONTROL_CANCEL;
    const Case cases[] = {
        {"after open", {}, 0, true},
        {"pause", {P}, kPaused, false},
        {"pause twice", {P, P}, kPaused, false},
        {"pause, resume", {P, R}, 0, true},
        {"resume without pause", {R}, 0, true},
        {"resume twice", {P, R, R}, 0, true},
        {"cancel", {C}, kCancelled, true},
        {"pause, cancel", {P, C}, kCancelled, true},
        {"cancel, resume", {C, R}, kCancelled, true},
        {"cancel, pause", {C, P}, kCancelled | kPaused, false},
        {"cancel, pause, resume", {C, P, R}, kCancelled, true},
        {"cancel, pause, cancel", {C, P, C}, kCancelled, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = Open();
        ProcessorJob* job = kqprint::ValidateJob(h);
        ASSERT_NE(job, nullptr);
        for (DWORD command : c.commands) {
            EXPECT_TRUE(ControlPrintProcessor(h, command));
        }
        for (DWORD other :
             {DWORD{0}, DWORD{JOB_CONTROL_RESTART}, DWORD{JOB_CONTROL_DELETE}, DWORD{0xFFFFFFFF}}) {
            SetLastError(0xBEEF);
            EXPECT_FALSE(ControlPrintProcessor(h, other)) << "command " << other;
            EXPECT_EQ(GetLastError(), 0xBEEFu) << "command " << other;
        }
        EXPECT_EQ(job->ControlFlags.load(), c.flags);
        EXPECT_EQ(WaitForSingleObject(job->ResumeEvent.get(), 0), c.signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        EXPECT_TRUE(ClosePrintProcessor(h));
    }
}

// One-shot signal between the test's thread and the pump's; waits are bounded so that a pump that never
// arrives fails the test instead of hanging it.
class Signal {
  public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        cv_.notify_all();
    }
    bool Wait() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// Runs PrintDocumentOnPrintProcessor on a thread of its own, as the spooler does, while the test sends
// commands. The pump stops at the start of read `stopAt` until the test lets it go on, and reports when
// it is about to block on its job's resume event.
class PumpControlTest : public ProcessorTest {
  protected:
    HANDLE Start(const Bytes& job, DWORD copies, uint64_t stopAt) {
        Spool(job);
        const std::string parameters = "COPIES=" + std::to_string(copies) + ";";
        handle_ = Open(std::u16string(parameters.begin(), parameters.end()));
        ProcessorJob* record = kqprint::ValidateJob(handle_);
        EXPECT_NE(record, nullptr);
        const HANDLE event = record ? record->ResumeEvent.get() : nullptr;
        control::ResetCounters();
        control::ClearWrites();
        control::SetCallHook(Op::ReadPrinter, [this, stopAt](uint64_t n) {
            if (n == stopAt) {
                atRead_.Set();
                goOn_.Wait();
            }
        });
        control::SetWaitHook([this, event](HANDLE object) {
            if (object == event) {
                blocked_.Set();
            }
        });
        event_ = event;
        pump_ = std::thread([this] {
            result_ = Print(handle_);
            done_.Set();
        });
        return handle_;
    }
    BOOL Finish() {
        if (!done_.Wait()) {
            ADD_FAILURE() << "the pump did not finish";
            return FALSE;
        }
        pump_.join();
        ended_ = control::CallCount(Op::EndDocPort);
        EXPECT_TRUE(ClosePrintProcessor(handle_));
        handle_ = nullptr;
        return result_;
    }
    void TearDown() override {
        if (pump_.joinable()) { // a failed check left the pump held or waiting: let it run out
            goOn_.Set();
            ControlPrintProcessor(handle_, JOB_CONTROL_CANCEL);
            SetEvent(event_);
            pump_.join();
            ClosePrintProcessor(handle_);
        }
        ProcessorTest::TearDown();
    }

    Signal atRead_;      // the pump is at the start of read `stopAt`
    Signal goOn_;        // the pump may carry on with that read
    Signal blocked_;     // the pump is about to block on the resume event
    uint64_t ended_ = 0; // documents ended on the port before the close

  private:
    Signal done_;
    HANDLE handle_ = nullptr;
    HANDLE event_ = nullptr;
    std::thread pump_;
    BOOL result_ = FALSE;
};

// Units of two plain bytes and a command: read n delivers byte n - 1, and every unit is written whole
// before the next one starts.
Bytes Units(int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        const Bytes unit = B({'a' + i, 'A' + i, 0x1B, '@'});
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

Bytes Prefix(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(n));
}

TEST_F(PumpControlTest, PauseHoldsThePumpAndResumeGoesOnWithTheByteRead) {
    const Bytes job = Units(6);
    constexpr uint64_t kAt = 9; // the first byte of the third unit
    HANDLE h = Start(job, 1, kAt);
    ASSERT_TRUE(atRead_.Wait());
    EXPECT_TRUE(ControlPrintProcessor(h, JOB_CONTROL_PAUSE));
    goOn_.Set();
    ASSERT_TRUE(blocked_.Wait());
    EXPECT_EQ(Output(), Prefix(job, kAt - 1)); // nothing of the byte read or after it
    EXPECT_TRUE(ControlPrintProcessor(h, JOB_CONTROL_RESUME));
    EXPECT_TRUE(Finish());
    EXPECT_EQ(Output(), job); // the whole job, once, in order
}

TEST_F(PumpControlTest, CancelEndsThePassAndRunsNoFurtherCopies) {
    const Bytes job = B("abcdefghijklmnopqrstuvwxyz");
    constexpr uint64_t kAt = 10;
    HANDLE h = Start(job, 3, kAt);
    ASSERT_TRUE(atRead_.Wait());
    EXPECT_TRUE(ControlPrintProcessor(h, JOB_CONTROL_CANCEL));
    goOn_.Set();
    EXPECT_TRUE(Finish());
    EXPECT_EQ(WriteChunks(), std::vector<Bytes>{Prefix(job, kAt - 1)}); // buffered bytes, not the byte read
    EXPECT_EQ(control::CallCount(Op::ReadPrinter), kAt);
    EXPECT_EQ(control::CallCount(Op::OpenPrinter), 1u); // the job is not read again
    EXPECT_EQ(ended_, 1u);
}

TEST_F(PumpControlTest, CancelWhilePausedWakesThePump) {
    const Bytes job = Units(4);
    constexpr uint64_t kAt = 6; // inside the second unit: "aA" ESC @ "b" are in
    HANDLE h = Start(job, 2, kAt);
    ASSERT_TRUE(atRead_.Wait());
    EXPECT_TRUE(ControlPrintProcessor(h, JOB_CONTROL_PAUSE));
    goOn_.Set();
    ASSERT_TRUE(blocked_.Wait());
    EXPECT_TRUE(ControlPrintProcessor(h, JOB_CONTROL_CANCEL));
    EXPECT_TRUE(Finish());
    EXPECT_EQ(Output(), Prefix(job, kAt - 1));
    EXPECT_EQ(control::CallCount(Op::OpenPrinter), 1u);
    EXPECT_EQ(ended_, 1u);
}

} // namespace
} // namespace kqtest
