// Pause, resume and cancel from another thread at random moments while the pump prints a receipt three
// times, many times over (built under ThreadSanitizer by the preset linux-tsan). Whatever the timing, the
// print ends, the passes that ran to their end are whole, a cancelled pass sent a beginning of the job made
// of whole commands only, no pass follows it, and no byte is lost or sent twice.
//
// The moments vary by seeded random spins and yields on the controlling thread and by the pump's own
// progress (its count of reads); nothing sleeps. A run that does not end within a generous time fails with
// its seed. KQ_RACE_SEED and KQ_RACE_RUNS change the first seed and the number of runs.
#include "escpos.h"
#include "kqprint.h"
#include "machine.h"
#include "model.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace kqhard {
namespace {

using kqtest::Bytes;
using kqtest::Join;
namespace control = kqwin::control;
using control::Op;

constexpr char kPrinter[] = "Race Printer";
constexpr unsigned kCopies = 3;
constexpr auto kRunLimit = std::chrono::seconds(120);

unsigned long EnvNumber(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

// The writes of one run, each with the copy pass it belongs to.
struct PassWrite {
    Bytes bytes;
    uint64_t pass;
};

struct Stats {
    unsigned blocked = 0;   // runs in which the pump waited for a resume
    unsigned cancelled = 0; // runs whose cancel ended a pass early
};

class RaceTest : public kqtest::MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::AddDiscardingPrinter(kPrinter));
        job_ = kqtest::FileBytes(std::string(KQ_SOURCE_DIR) + "/samples/receipt.prn");
        ASSERT_FALSE(job_.empty());
    }

    HANDLE Open(DWORD jobId) {
        openData_ = std::make_unique<kqtest::ProcessorOpenData>(u"Race Printer", jobId,
                                                                kqtest::CopiesParameter(kCopies));
        return OpenPrintProcessor(openData_->printer.data(), &openData_->data);
    }

    // Runs one print with a controller that follows `seed`; false when the run did not end in time.
    bool RunOnce(uint32_t seed, std::vector<PassWrite>* writes, uint64_t* opens, bool* sentCancel, bool* blocked) {
        const DWORD jobId = control::SpoolJob(kPrinter, job_);
        control::DespoolScope despool(kPrinter, jobId);
        std::u16string readName = control::JobReadName(kPrinter, jobId);
        HANDLE h = Open(jobId);
        EXPECT_NE(h, nullptr);
        if (!h) {
            return true;
        }
        control::ResetCounters();
        control::ClearWrites();
        std::vector<uint64_t> passOfWrite;
        control::SetCallHook(Op::WritePrinter, [&passOfWrite](uint64_t) {
            passOfWrite.push_back(control::CallCount(Op::OpenPrinter)); // the job is opened once per pass
        });
        // The pump's side of the timing: a little busy work at each of its reads, and now and then a yield.
        std::mt19937 pumpRng(seed ^ 0x9E3779B9u);
        const bool slowPump = readsPerRun_ != 0;
        control::SetCallHook(Op::ReadPrinter, [&pumpRng, slowPump](uint64_t) {
            if (!slowPump) {
                return;
            }
            const unsigned n = pumpRng() % 256;
            std::atomic<unsigned> work{0};
            for (unsigned i = 0; i < n; ++i) {
                work.fetch_add(1, std::memory_order_relaxed);
            }
            if (pumpRng() % 128 == 0) {
                std::this_thread::yield();
            }
        });
        std::atomic<bool> pumpWaiting{false};
        control::SetWaitHook([&pumpWaiting](HANDLE) { pumpWaiting.store(true); });

        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::atomic<bool> finished{false};
        BOOL printed = FALSE;
        std::thread pump([&] {
            const BOOL result = PrintDocumentOnPrintProcessor(h, readName.data());
            std::lock_guard lock(mutex);
            printed = result;
            done = true;
            finished.store(true);
            cv.notify_all();
        });

        std::thread controller([&, seed] {
            std::mt19937 rng(seed);
            // mostly busy, now and then giving the processor away
            std::atomic<unsigned> work{0};
            auto spin = [&rng, &work](unsigned most) {
                const unsigned n = rng() % (most + 1);
                for (unsigned i = 0; i < n; ++i) {
                    if (rng() % 1024 == 0) {
                        std::this_thread::yield();
                    } else {
                        work.fetch_add(1, std::memory_order_relaxed);
                    }
                }
            };
            // the moments, as counts of the pump's reads, in the order they come
            const unsigned steps = readsPerRun_ ? 1 + rng() % 6 : 0;
            std::vector<uint64_t> moments;
            for (unsigned step = 0; step < steps; ++step) {
                moments.push_back(rng() % readsPerRun_);
            }
            std::sort(moments.begin(), moments.end());
            bool paused = false;
            for (unsigned step = 0; step < steps; ++step) {
                if (!paused) {
                    // let the pump get there first, unless it is done
                    while (!finished.load() && control::CallCount(Op::ReadPrinter) < moments[step]) {
                        spin(64);
                    }
                }
                spin(2000);
                const unsigned pick = rng() % 100;
                if (pick < 45) {
                    ControlPrintProcessor(h, JOB_CONTROL_PAUSE);
                    paused = true;
                    if (rng() % 2 == 0) {
                        // hold it until the pump is seen waiting (or has nothing left to read)
                        while (!pumpWaiting.load() && !finished.load()) {
                            spin(64);
                        }
                    }
                } else if (pick < 85) {
                    ControlPrintProcessor(h, JOB_CONTROL_RESUME);
                    paused = false;
                } else {
                    ControlPrintProcessor(h, JOB_CONTROL_CANCEL);
                    *sentCancel = true;
                    paused = false;
                }
            }
            if (paused) {
                spin(2000);
                ControlPrintProcessor(h, JOB_CONTROL_RESUME);
            }
        });

        bool inTime;
        {
            std::unique_lock lock(mutex);
            inTime = cv.wait_for(lock, kRunLimit, [&] { return done; });
        }
        controller.join();
        if (!inTime) {
            // Free a pump that waits for a resume that never came, so that the failure can be reported.
            ControlPrintProcessor(h, JOB_CONTROL_CANCEL);
            std::unique_lock lock(mutex);
            if (!cv.wait_for(lock, kRunLimit, [&] { return done; })) {
                std::fprintf(stderr, "race test: the pump of seed %u never ended\n", seed);
                std::abort();
            }
        }
        pump.join();
        control::ClearHooks();
        *opens = control::CallCount(Op::OpenPrinter);
        EXPECT_TRUE(printed) << "seed " << seed;
        EXPECT_TRUE(ClosePrintProcessor(h));
        *blocked = pumpWaiting.load();

        const std::vector<control::WriteRecord> records = control::Writes();
        EXPECT_EQ(records.size(), passOfWrite.size());
        for (size_t i = 0; i < records.size() && i < passOfWrite.size(); ++i) {
            EXPECT_EQ(records[i].accepted, records[i].bytes.size());
            writes->push_back({records[i].bytes, passOfWrite[i]});
        }
        return inTime;
    }

    Bytes job_;
    uint64_t readsPerRun_ = 0; // ReadPrinter calls of an uncontrolled print; 0: print without control

  private:
    std::unique_ptr<kqtest::ProcessorOpenData> openData_;
};

// Where two lists of writes first differ, briefly; empty when they are the same.
std::string Difference(const std::vector<Bytes>& actual, const std::vector<Bytes>& expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) {
        ++i;
    }
    if (i == actual.size() && i == expected.size()) {
        return "";
    }
    auto size = [](const std::vector<Bytes>& w, size_t at) {
        return at < w.size() ? std::to_string(w[at].size()) + " bytes" : std::string("none");
    };
    return "write " + std::to_string(i) + " of " + std::to_string(actual.size()) + " is " + size(actual, i) +
           ", expected " + size(expected, i) + " (of " + std::to_string(expected.size()) + ")";
}

TEST_F(RaceTest, PauseResumeAndCancelAtRandomMoments) {
    // One whole pass, as the end-to-end model works it out for the job.
    const e2e::Expected model = e2e::ExpectedOutput(job_, 203, 1);
    ASSERT_EQ(model.error, "");
    const std::vector<Bytes> pass = model.writes;
    ASSERT_FALSE(pass.empty());
    const Bytes whole = Join(pass);

    // An uncontrolled print first: it must be whole, and its reads spread the controller's moments.
    {
        std::vector<PassWrite> writes;
        uint64_t opens = 0;
        bool sentCancel = false, blocked = false;
        ASSERT_TRUE(RunOnce(0, &writes, &opens, &sentCancel, &blocked));
        ASSERT_EQ(opens, kCopies);
        ASSERT_EQ(writes.size(), pass.size() * kCopies);
        for (size_t i = 0; i < writes.size(); ++i) {
            ASSERT_TRUE(writes[i].bytes == pass[i % pass.size()]) << "write " << i << " of an uncontrolled print";
        }
        readsPerRun_ = control::CallCount(Op::ReadPrinter);
        ASSERT_GT(readsPerRun_, 0u);
    }

    const uint32_t firstSeed = static_cast<uint32_t>(EnvNumber("KQ_RACE_SEED", 20260101));
    const unsigned runs = static_cast<unsigned>(EnvNumber("KQ_RACE_RUNS", 500));
    Stats stats;
    for (unsigned i = 0; i < runs; ++i) {
        const uint32_t seed = firstSeed + i;
        SCOPED_TRACE("seed " + std::to_string(seed) + " (KQ_RACE_SEED=" + std::to_string(seed) +
                     " KQ_RACE_RUNS=1 repeats it)");
        std::vector<PassWrite> writes;
        uint64_t opens = 0;
        bool sentCancel = false, blocked = false;
        ASSERT_TRUE(RunOnce(seed, &writes, &opens, &sentCancel, &blocked)) << "the print did not end within the limit";
        stats.blocked += blocked;

        // the writes of each pass, one pass per opening of the job
        ASSERT_LE(opens, kCopies);
        std::vector<std::vector<Bytes>> passes(opens);
        for (const PassWrite& w : writes) {
            ASSERT_GE(w.pass, 1u);
            ASSERT_LE(w.pass, opens);
            passes[w.pass - 1].push_back(w.bytes);
        }
        if (!sentCancel) {
            ASSERT_EQ(opens, kCopies) << "a pass is missing";
            for (size_t p = 0; p < passes.size(); ++p) {
                ASSERT_EQ(Difference(passes[p], pass), "") << "pass " << p + 1 << " is not whole";
            }
            continue;
        }
        ASSERT_GE(opens, 1u);
        // Every pass but the last is whole; the last is whole or was ended by the cancel, and no pass
        // opened the job after it.
        for (size_t p = 0; p + 1 < passes.size(); ++p) {
            ASSERT_EQ(Difference(passes[p], pass), "") << "pass " << p + 1 << " before the cancel is not whole";
        }
        const std::vector<Bytes>& last = passes.back();
        if (last == pass && opens == kCopies) {
            continue; // the cancel came too late to change anything
        }
        ++stats.cancelled;
        ASSERT_LE(last.size(), pass.size());
        for (size_t j = 0; j + 1 < last.size(); ++j) {
            ASSERT_TRUE(last[j] == pass[j]) << "write " << j << " of the cancelled pass";
        }
        if (!last.empty()) {
            // the last write is the one the pass was making, or the text gathered for it so far
            const Bytes& tail = last.back();
            const Bytes& full = pass[last.size() - 1];
            ASSERT_LE(tail.size(), full.size());
            ASSERT_TRUE(std::equal(tail.begin(), tail.end(), full.begin())) << "the cancelled pass's last write";
            if (tail.size() < full.size()) {
                for (const escpos::Item& item : escpos::Decode(tail)) {
                    ASSERT_EQ(item.kind, escpos::Kind::Text) << "only gathered text goes out cut short";
                }
            }
        }
        const Bytes sent = Join(last);
        ASSERT_TRUE(std::equal(sent.begin(), sent.end(), whole.begin())) << "the cancelled pass sent other bytes";
        ASSERT_TRUE(escpos::AllWhole(escpos::Decode(sent))) << "the cancelled pass split a command";
    }
    std::printf("%u runs: the pump waited for a resume in %u, a cancel ended a pass early in %u\n", runs,
                stats.blocked, stats.cancelled);
}

} // namespace
} // namespace kqhard
