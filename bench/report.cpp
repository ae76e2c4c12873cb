#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kqbench {
namespace {

double Median(std::vector<double> v) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Fixed(double v, int decimals) {
    if (std::isnan(v)) {
        return "-";
    }
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.*f", decimals, v);
    return buf;
}

std::string Bytes(double v) {
    if (std::isnan(v)) {
        return "-";
    }
    char buf[64];
    if (std::fabs(v) >= 1024.0 * 1024.0) {
        std::snprintf(buf, sizeof(buf), "%.2f MiB", v / (1024.0 * 1024.0));
    } else if (std::fabs(v) >= 1024.0) {
        std::snprintf(buf, sizeof(buf), "%.1f KiB", v / 1024.0);
    } else {
        std::snprintf(buf, sizeof(buf), "%.0f B", v);
    }
    return buf;
}

void AddOnce(std::vector<std::string>& list, const std::string& s) {
    if (std::find(list.begin(), list.end(), s) == list.end()) {
        list.push_back(s);
    }
}

} // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type != Run::RT_Iteration && !median) {
            continue;
        }
        // names are runner/shape/size
        const std::string name = run.run_name.function_name;
        const size_t a = name.find('/');
        const size_t b = name.find('/', a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            continue;
        }
        const Key key{name.substr(0, a), name.substr(a + 1, b - a - 1), name.substr(b + 1)};
        AddOnce(shapes_, std::get<1>(key));
        AddOnce(sizes_, std::get<2>(key));
        Case& c = cases_[key];
        if (run.error_occurred) {
            c.failed = true;
            continue;
        }
        const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        (median ? c.medianAggregate : c.nanoseconds).push_back(seconds * 1e9);
        for (const auto& [counter, value] : run.counters) {
            c.counters[counter] = value.value;
        }
    }
}

void SummaryReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::ostringstream out;
    for (auto& [key, c] : cases_) {
        if (!c.medianAggregate.empty()) {
            c.nanoseconds = c.medianAggregate; // Google Benchmark's median of the repetitions
        }
    }
    auto find = [&](const std::string& runner, const std::string& shape,
                    const std::string& size) -> const Case* {
        auto it = cases_.find(Key{runner, shape, size});
        return it == cases_.end() || it->second.failed || it->second.nanoseconds.empty() ? nullptr
                                                                                         : &it->second;
    };
    auto counter = [](const Case* c, const char* name) -> double {
        if (!c) {
            return NAN;
        }
        auto it = c->counters.find(name);
        return it == c->counters.end() ? NAN : it->second;
    };
    // MB/s (10^6 bytes a second) and nanoseconds per byte, from the median time of a job
    auto rate = [&](const Case* c) -> double {
        return c ? counter(c, "job_bytes") / Median(c->nanoseconds) * 1e3 : NAN;
    };
    auto perByte = [&](const Case* c) -> double {
        return c ? Median(c->nanoseconds) / counter(c, "job_bytes") : NAN;
    };

    // What every job costs whatever its size: the empty job.
    const Case* kqEmpty = find("kqprint", "empty", "0");
    const Case* bareEmpty = find("bare", "empty", "0");
    const double kqFixed = kqEmpty ? Median(kqEmpty->nanoseconds) : 0;
    const double bareFixed = bareEmpty ? Median(bareEmpty->nanoseconds) : 0;
    if (kqEmpty || bareEmpty) {
        out << "\nAn empty job (the cost of any job), the processor's calls: kqprint "
            << Fixed(kqFixed / 1e3, 1) << " us, bare " << Fixed(bareFixed / 1e3, 1) << " us.";
        const Case* kqWhole = find("kqprint", "enddoc", "0");
        const Case* bareWhole = find("bare", "enddoc", "0");
        if (kqWhole && bareWhole) {
            out << " With the spooler's own work for the job (EndDocPrinter): kqprint "
                << Fixed(Median(kqWhole->nanoseconds) / 1e3, 1) << " us, bare "
                << Fixed(Median(bareWhole->nanoseconds) / 1e3, 1) << " us.";
        }
        out << "\n";
    }
    // nanoseconds per byte beyond that fixed cost
    auto marginal = [&](const Case* c, double fixed) -> double {
        return c ? (Median(c->nanoseconds) - fixed) / counter(c, "job_bytes") : NAN;
    };

    for (const std::string& shape : shapes_) {
        if (shape == "empty" || shape == "enddoc") {
            continue;
        }
        out << "\n### " << shape << "\n\n"
            << "| job | kqprint MB/s | bare MB/s | memcpy MB/s | kqprint/bare | kqprint/memcpy "
            << "| kqprint ns/B | beyond empty job | bare ns/B | kqprint writes | bare writes "
            << "| kqprint heap peak | kqprint RSS peak | memory limit |\n"
            << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
        double minVsBare = INFINITY;
        double minVsMemcpy = INFINITY;
        double largestVsMemcpy = NAN;
        std::string largestSize;
        double kqMin = INFINITY;
        double kqMax = 0;
        std::vector<std::pair<std::string, double>> kqPerByte; // by size, ascending
        double worstMemory = 0;                                // highest peak as a share of its limit
        std::string worstMemoryAt;
        for (const std::string& size : sizes_) {
            const Case* kq = find("kqprint", shape, size);
            const Case* bare = find("bare", shape, size);
            const Case* mem = find("memcpy", shape, size);
            if (!kq && !bare && !mem) {
                continue;
            }
            const double vsBare = rate(kq) / rate(bare);
            const double vsMemcpy = rate(kq) / rate(mem);
            if (!std::isnan(vsBare)) {
                minVsBare = std::min(minVsBare, vsBare);
            }
            if (!std::isnan(vsMemcpy)) {
                minVsMemcpy = std::min(minVsMemcpy, vsMemcpy);
                largestVsMemcpy = vsMemcpy;
                largestSize = size;
            }
            if (kq) {
                kqMin = std::min(kqMin, perByte(kq));
                kqMax = std::max(kqMax, perByte(kq));
                kqPerByte.emplace_back(size, perByte(kq));
            }
            auto writes = [&](const Case* c) {
                if (!c) {
                    return std::string("-");
                }
                const double w = counter(c, "writes");
                const double e = counter(c, "writes_expected");
                const bool ok = w == e && counter(c, "out_bytes") == counter(c, "out_expected");
                writesOk_ = writesOk_ && ok;
                return Fixed(w, 0) + (ok ? " =" : " (expected " + Fixed(e, 0) + ") MISMATCH");
            };
            const double limit = 2 * counter(kq, "largest_image") + 1024.0 * 1024.0;
            const double peak = std::max(counter(kq, "heap_peak"), counter(kq, "rss_peak"));
            if (peak / limit > worstMemory) {
                worstMemory = peak / limit;
                worstMemoryAt = size;
            }
            out << "| " << size << " | " << Fixed(rate(kq), 1) << " | " << Fixed(rate(bare), 1) << " | "
                << Fixed(rate(mem), 0) << " | " << Fixed(vsBare, 2) << " | " << Fixed(vsMemcpy, 4) << " | "
                << Fixed(perByte(kq), 2) << " | " << Fixed(marginal(kq, kqFixed), 2) << " | "
                << Fixed(perByte(bare), 2) << " | " << writes(kq) << " | " << writes(bare) << " | "
                << Bytes(counter(kq, "heap_peak")) << " | " << Bytes(counter(kq, "rss_peak")) << " | "
                << Bytes(limit) << " |\n";
        }
        // the smallest size from which on every larger job's time per byte is within 1.5x of the best
        std::string flatFrom = "-";
        for (auto it = kqPerByte.rbegin(); it != kqPerByte.rend() && it->second <= 1.5 * kqMin; ++it) {
            flatFrom = it->first;
        }
        char line[640];
        std::snprintf(line, sizeof(line),
                      "\n%s: kqprint/bare at least %.2f; kqprint/memcpy at least %.4f, %.3f at %s; kqprint "
                      "ns/B from %.2f to %.2f (%.2fx), within 1.5x of its best from %s up; highest memory "
                      "peak %.0f%% of its limit (%s)\n",
                      shape.c_str(), minVsBare, minVsMemcpy, largestVsMemcpy, largestSize.c_str(), kqMin,
                      kqMax, kqMax / kqMin, flatFrom.c_str(), worstMemory * 100, worstMemoryAt.c_str());
        out << line;
    }
    out << "\nWrites " << (writesOk_ ? "all as the commands imply." : "NOT all as the commands imply.")
        << "\n";
    const std::string table = out.str();
    std::fputs(table.c_str(), stdout);
    std::fflush(stdout);
    if (!tableFile_.empty()) {
        std::ofstream(tableFile_) << table;
    }
}

} // namespace kqbench
