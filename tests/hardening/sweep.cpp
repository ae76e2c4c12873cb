#include "sweep.h"

#include "escpos.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#define KQ_HAVE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KQ_HAVE_LSAN 1
#endif
#endif
#ifdef KQ_HAVE_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace kqhard {

std::string SourceDir() { return KQ_SOURCE_DIR; }

std::vector<SampleJob> RealisticJobs() {
    std::vector<SampleJob> jobs;
    for (const char* name : {"receipt", "text"}) {
        jobs.push_back({name, FileBytes(SourceDir() + "/samples/" + name + ".prn")});
    }
    std::vector<std::filesystem::path> clients;
    for (const auto& e : std::filesystem::directory_iterator(SourceDir() + "/tests/clients/jobs")) {
        if (e.path().extension() == ".prn") {
            clients.push_back(e.path());
        }
    }
    std::sort(clients.begin(), clients.end());
    for (const auto& p : clients) {
        jobs.push_back({p.stem().string(), FileBytes(p.string())});
    }
    return jobs;
}

std::vector<uint64_t> CallsToBreak(uint64_t count, size_t budget) {
    std::vector<uint64_t> calls;
    if (count <= budget) {
        for (uint64_t n = 1; n <= count; ++n) {
            calls.push_back(n);
        }
        return calls;
    }
    const uint64_t edge = budget / 4;
    for (uint64_t n = 1; n <= edge; ++n) {
        calls.push_back(n);
        calls.push_back(count + 1 - n);
    }
    const uint64_t between = budget - 2 * edge;
    for (uint64_t i = 1; i <= between; ++i) {
        calls.push_back(edge + i * (count - 2 * edge) / (between + 1));
    }
    std::sort(calls.begin(), calls.end());
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
    return calls;
}

bool OutcomeIgnored(const std::vector<WriteSeen>& pass, size_t index) {
    const Bytes& b = pass[index].bytes;
    if (b.size() >= 8 && b[0] == 0x1D && b[1] == 0x76 && b[2] == 0x30 && b[3] == 0x00) {
        return true; // the page image
    }
    // the cut of ESC P e 1: GS V 255 and ESC 2 in a row, with nothing read between them
    return b == Bytes{0x1D, 0x56, 0xFF} && index + 1 < pass.size() && pass[index + 1].bytes == Bytes{0x1B, 0x32} &&
           pass[index + 1].readsBefore == pass[index].readsBefore;
}

bool HoldsCopiedImageData(const Bytes& job) {
    for (const escpos::Item& item : escpos::Decode(job)) {
        if (item.name == "ESC &" || item.name == "FS q" || item.name == "GS *") {
            return true;
        }
    }
    return false;
}

namespace {

void AppendWhole(std::vector<ExpectedWrite>& out, const std::vector<WriteSeen>& pass, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        out.push_back({pass[i].bytes, static_cast<DWORD>(pass[i].bytes.size())});
    }
}

} // namespace

std::vector<ExpectedWrite> WholePasses(const std::vector<WriteSeen>& pass, unsigned passes) {
    std::vector<ExpectedWrite> out;
    for (unsigned p = 0; p < passes; ++p) {
        AppendWhole(out, pass, 0, pass.size());
    }
    return out;
}

std::vector<ExpectedWrite> AfterFailedWrite(const std::vector<WriteSeen>& pass, unsigned passes, size_t k,
                                            DWORD keep) {
    const size_t m = pass.size();
    const size_t p = k / m;
    const size_t j = k % m;
    std::vector<ExpectedWrite> out;
    for (size_t i = 0; i < p; ++i) {
        AppendWhole(out, pass, 0, m);
    }
    AppendWhole(out, pass, 0, j);
    out.push_back({pass[j].bytes, keep});
    if (OutcomeIgnored(pass, j)) {
        AppendWhole(out, pass, j + 1, m);
    }
    for (size_t i = p + 1; i < passes; ++i) {
        AppendWhole(out, pass, 0, m);
    }
    return out;
}

std::string Describe(const std::vector<ExpectedWrite>& writes) {
    std::ostringstream out;
    out << writes.size() << " writes:";
    for (const ExpectedWrite& w : writes) {
        out << " " << w.bytes.size();
        if (w.accepted != w.bytes.size()) {
            out << "(took " << w.accepted << ")";
        }
    }
    return out.str();
}

void ExpectNoLeaks(const std::string& where) {
#ifdef KQ_HAVE_LSAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks after " << where;
#else
    static bool said = false;
    if (!said) {
        said = true;
        std::fprintf(stderr, "(no LeakSanitizer in this build: leaks are checked in the AddressSanitizer build)\n");
    }
    (void)where;
#endif
}

} // namespace kqhard
