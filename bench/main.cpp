// Speed, memory and write counts of KQPRINT against two floors: the bare pass-through processor through the
// same stand-in spooler, and memcpy of the same bytes. Run by bench/run.sh; see bench/README.md.
#include "heap_count.h"
#include "jobs.h"
#include "machine.h"
#include "report.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace kqbench {
namespace {

constexpr size_t kSizes[] = {size_t{1} << 10,  size_t{4} << 10,   size_t{16} << 10,
                             size_t{64} << 10, size_t{256} << 10, size_t{1} << 20,
                             size_t{4} << 20,  size_t{16} << 20,  size_t{64} << 20};
constexpr Shape kShapes[] = {Shape::Text, Shape::Receipt, Shape::Raster};

// One job at a time: every runner of a shape and size uses the same bytes.
const Job& CachedJob(Shape shape, size_t size) {
    static std::optional<std::pair<Shape, size_t>> key;
    static Job job;
    if (!key || key->first != shape || key->second != size) {
        job = Job{};
        job = MakeJob(shape, size);
        key.emplace(shape, size);
    }
    return job;
}

// Resident memory of the process, from /proc: now, and at its highest since the last ResetResidentPeak.
int64_t StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
            return std::atoll(line.c_str() + n + 1);
        }
    }
    return -1;
}
int64_t ResidentBytes() {
    return StatusKilobytes("VmRSS") * 1024;
}
int64_t ResidentPeakBytes() {
    return StatusKilobytes("VmHWM") * 1024;
}
void ResetResidentPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5"; // resets VmHWM to the current resident size
}

// Memory that one run takes beyond what the process held before it: heap bytes held at the peak (counted by
// the allocator), and resident memory at the peak (the kernel's high-water mark, reset at the start). Freed
// heap is handed back to the system first so that its reuse does not hide resident growth.
struct MemoryWindow {
    MemoryWindow() {
        malloc_trim(0);
        residentBase = ResidentBytes();
        ResetResidentPeak();
        HeapCountStart();
    }
    ~MemoryWindow() { HeapCountStop(); }
    int64_t HeapPeak() const { return HeapCountPeak(); }
    int64_t ResidentPeak() const { return ResidentPeakBytes() - residentBase; }
    int64_t residentBase;
};

void SetCounters(benchmark::State& state, const Expected& expected, uint64_t writes, uint64_t bytesOut,
                 int64_t heapPeak, int64_t residentPeak, size_t size) {
    state.counters["writes"] = static_cast<double>(writes);
    state.counters["writes_expected"] = static_cast<double>(expected.writes);
    state.counters["out_bytes"] = static_cast<double>(bytesOut);
    state.counters["out_expected"] = static_cast<double>(expected.bytesOut);
    state.counters["heap_peak"] = static_cast<double>(heapPeak);
    state.counters["rss_peak"] = static_cast<double>(residentPeak);
    state.counters["largest_image"] = static_cast<double>(expected.largestImage);
    state.counters["job_bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void ThroughSpooler(benchmark::State& state, Processor processor, Shape shape, size_t size) {
    const Job& job = CachedJob(shape, size);
    const Expected expected = processor == Processor::Kqprint ? job.kqprint : BareExpected(job.bytes.size());
    Printer printer(processor);

    // One run outside the timing: its memory and its writes.
    printer.Spool(job.bytes);
    int64_t heapPeak = 0;
    int64_t residentPeak = 0;
    {
        const MemoryWindow window;
        printer.Process();
        heapPeak = window.HeapPeak();
        residentPeak = window.ResidentPeak();
    }
    printer.Finish();
    const Outcome outcome = printer.LastOutcome();
    if (!outcome.printed) {
        state.SkipWithError(("the job did not print: " + outcome.error).c_str());
        return;
    }

    for (auto _ : state) {
        printer.Spool(job.bytes);
        state.SetIterationTime(static_cast<double>(printer.Process()) * 1e-9);
    }
    SetCounters(state, expected, outcome.writes, outcome.bytesOffered, heapPeak, residentPeak,
                job.bytes.size());
}

// An empty job printed the way an application prints it: EndDocPrinter, the spooler's own work for a job
// (finding the printer, its processor and datatype, deleting the job) around the processor's calls.
void WholeEmptyJob(benchmark::State& state, Processor processor) {
    Printer printer(processor);
    const std::vector<uint8_t> empty;
    for (auto _ : state) {
        state.SetIterationTime(static_cast<double>(printer.Despool(empty)) * 1e-9);
    }
    if (!printer.LastOutcome().printed) {
        state.SkipWithError("the job did not print");
    }
    state.counters["job_bytes"] = 0;
}

void Memcpy(benchmark::State& state, Shape shape, size_t size) {
    const Job& job = CachedJob(shape, size);
    const size_t n = job.bytes.size();
    int64_t heapPeak = 0;
    int64_t residentPeak = 0;
    std::unique_ptr<uint8_t[]> out;
    {
        const MemoryWindow window;
        out.reset(new uint8_t[n]);
        std::memcpy(out.get(), job.bytes.data(), n);
        heapPeak = window.HeapPeak();
        residentPeak = window.ResidentPeak();
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(out.get(), job.bytes.data(), n);
        benchmark::ClobberMemory();
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    Expected none;
    SetCounters(state, none, 0, n, heapPeak, residentPeak, n);
}

std::string SizeLabel(size_t size) {
    return size >= (size_t{1} << 20) ? std::to_string(size >> 20) + "M" : std::to_string(size >> 10) + "K";
}

void Register(size_t maxSize) {
    // An empty job: what a job costs whatever its size (the spooler's start and end of the job, the
    // processor's open, document and close).
    for (Processor p : {Processor::Kqprint, Processor::Bare}) {
        benchmark::RegisterBenchmark((std::string(ProcessorName(p)) + "/empty/0").c_str(), ThroughSpooler, p,
                                     Shape::Text, size_t{0})
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string(ProcessorName(p)) + "/enddoc/0").c_str(), WholeEmptyJob, p)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    for (Shape shape : kShapes) {
        for (size_t size : kSizes) {
            if (size > maxSize) {
                continue;
            }
            const std::string tail = std::string("/") + ShapeName(shape) + "/" + SizeLabel(size);
            for (Processor p : {Processor::Kqprint, Processor::Bare}) {
                benchmark::RegisterBenchmark((std::string(ProcessorName(p)) + tail).c_str(), ThroughSpooler,
                                             p, shape, size)
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
            }
            benchmark::RegisterBenchmark(("memcpy" + tail).c_str(), Memcpy, shape, size)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

// Takes this program's own options out of argv (Google Benchmark refuses options it does not know).
struct Options {
    size_t maxSize = size_t{64} << 20;
    std::string table; // where the summary goes as markdown, besides standard output
    std::string dump;  // shape:size:path writes one job to a file and ends
    std::string once;  // processor:shape:size[:count] prints one job (for profilers) and ends
};

Options TakeOptions(int* argc, char** argv) {
    Options o;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--kq_max_size=", 0) == 0) {
            o.maxSize = std::strtoull(a.c_str() + 14, nullptr, 10);
        } else if (a.rfind("--kq_table=", 0) == 0) {
            o.table = a.substr(11);
        } else if (a.rfind("--kq_dump=", 0) == 0) {
            o.dump = a.substr(10);
        } else if (a.rfind("--kq_once=", 0) == 0) {
            o.once = a.substr(10);
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    return o;
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = s.find(':', from)) != std::string::npos; from = at + 1) {
        parts.push_back(s.substr(from, at - from));
    }
    parts.push_back(s.substr(from));
    return parts;
}

// Prints one job `count` times through the spooler, for a profiler: under callgrind, collect only
// kqbench::Printer::Despool() to count what the spooler and the processor do.
int Once(const std::string& request) {
    const std::vector<std::string> parts = Split(request);
    if (parts.size() < 3) {
        std::fprintf(stderr, "kqbench: --kq_once=kqprint|bare:SHAPE:BYTES[:COUNT]\n");
        return 2;
    }
    const Processor processor = parts[0] == "bare" ? Processor::Bare : Processor::Kqprint;
    const size_t size = std::strtoull(parts[2].c_str(), nullptr, 10);
    const int count = parts.size() > 3 ? std::atoi(parts[3].c_str()) : 1;
    for (Shape shape : kShapes) {
        if (parts[1] == ShapeName(shape)) {
            const Job job = MakeJob(shape, size);
            SetUpMachine();
            int64_t total = 0;
            Outcome o;
            {
                Printer printer(processor);
                printer.Spool(job.bytes); // once: a job can be read again from its start as often as wanted
                for (int i = 0; i < count; ++i) {
                    total += printer.Process();
                }
                printer.Finish();
                o = printer.LastOutcome();
            }
            TearDownMachine();
            std::printf("%s %s %zu bytes: %.1f us a job, %llu writes, printed %d\n", ProcessorName(processor),
                        ShapeName(shape), job.bytes.size(), static_cast<double>(total) / count / 1e3,
                        static_cast<unsigned long long>(o.writes), o.printed ? 1 : 0);
            return o.printed ? 0 : 1;
        }
    }
    std::fprintf(stderr, "kqbench: no shape %s\n", parts[1].c_str());
    return 2;
}

int Dump(const std::string& request) {
    const size_t a = request.find(':');
    const size_t b = request.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) {
        std::fprintf(stderr, "kqbench: --kq_dump=SHAPE:BYTES:PATH\n");
        return 2;
    }
    const std::string name = request.substr(0, a);
    const size_t size = std::strtoull(request.substr(a + 1, b - a - 1).c_str(), nullptr, 10);
    for (Shape shape : kShapes) {
        if (name == ShapeName(shape)) {
            const Job job = MakeJob(shape, size);
            std::ofstream out(request.substr(b + 1), std::ios::binary);
            out.write(reinterpret_cast<const char*>(job.bytes.data()),
                      static_cast<std::streamsize>(job.bytes.size()));
            std::printf(
                "%zu bytes; kqprint must make %llu writes of %llu bytes, %llu page images (largest %llu "
                "bytes) of %llu bands\n",
                job.bytes.size(), static_cast<unsigned long long>(job.kqprint.writes),
                static_cast<unsigned long long>(job.kqprint.bytesOut),
                static_cast<unsigned long long>(job.kqprint.pageImages),
                static_cast<unsigned long long>(job.kqprint.largestImage),
                static_cast<unsigned long long>(job.kqprint.bands));
            return out ? 0 : 1;
        }
    }
    std::fprintf(stderr, "kqbench: no shape %s\n", name.c_str());
    return 2;
}

} // namespace
} // namespace kqbench

int main(int argc, char** argv) {
    using namespace kqbench;
    const Options options = TakeOptions(&argc, argv);
    if (!options.dump.empty()) {
        return Dump(options.dump);
    }
    if (!options.once.empty()) {
        return Once(options.once);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SetUpMachine();
    Register(options.maxSize);
    SummaryReporter reporter(options.table);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    TearDownMachine();
    return reporter.AllWritesAsExpected() ? 0 : 1;
}
