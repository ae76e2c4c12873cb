#include "harness.h"

#include "hex.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <span>
#include <sstream>

namespace e2e {

std::string SourceDir() {
    return KQ_SOURCE_DIR;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<Summary> ParseSummary(const std::string& err) {
    static const std::regex kLine(R"(kqspool: (\d+) of (\d+) job\(s\) printed[^\n]*)");
    std::smatch line;
    if (!std::regex_search(err, line, kLine)) {
        return std::nullopt;
    }
    const std::string text = line.str();
    auto figure = [&](const char* pattern) -> std::optional<unsigned long long> {
        std::smatch m;
        if (!std::regex_search(text, m, std::regex(pattern))) {
            return std::nullopt;
        }
        return std::stoull(m[1].str());
    };
    Summary s;
    s.printed = std::stoull(line[1].str());
    s.given = std::stoull(line[2].str());
    const auto in = figure(R"((\d+) bytes in)");
    const auto writes = figure(R"((\d+) writes)");
    const auto out = figure(R"((\d+) bytes to )");
    const auto images = figure(R"((\d+) (?:page )?image(?:\(s\)|s)? out)");
    if (!in || !writes || !out || !images) {
        return std::nullopt;
    }
    s.bytesIn = *in;
    s.writes = *writes;
    s.bytesOut = *out;
    s.imagesOut = *images;
    s.bandsIn = figure(R"((\d+) (?:raster )?band(?:\(s\)|s)? in)");
    s.viaMonitor = text.find("through KQMON") != std::string::npos;
    std::smatch entry;
    if (std::regex_search(text, entry, std::regex(R"(through KQMON via (\w+))"))) {
        s.monitorEntry = entry[1].str();
    }
    return s;
}

Trace ReadTrace(const std::string& path) {
    Trace trace;
    std::ifstream in(path);
    std::string line;
    for (size_t n = 1; std::getline(in, line); ++n) {
        const size_t space = line.find(' ');
        const std::string count = line.substr(0, space);
        const std::string hex = space == std::string::npos ? "" : line.substr(space + 1);
        const bool countOk = !count.empty() && count.find_first_not_of("0123456789") == std::string::npos;
        if (!countOk || hex.find_first_not_of("0123456789abcdef") != std::string::npos ||
            hex.size() != 2 * std::stoull(count)) {
            trace.error = "line " + std::to_string(n) + " is not \"count hex\": " + line.substr(0, 80);
            return trace;
        }
        Bytes bytes(hex.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        }
        trace.writes.push_back(std::move(bytes));
    }
    return trace;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

std::string Hex(const Bytes& bytes, size_t max) {
    std::string out = kqkit::Hex(std::span(bytes).first(std::min(bytes.size(), max)));
    if (bytes.size() > max) {
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return out;
}

void KqspoolTest::SetUp() {
    const char* bin = std::getenv("KQ_TEST_BIN");
    ASSERT_TRUE(bin && *bin) << "KQ_TEST_BIN is not set: run the tests through ctest";
    program_ = std::string(bin) + "/kqspool";
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqspool-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    std::filesystem::create_directory(dir_ + "/root");
}

void KqspoolTest::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string KqspoolTest::Program(const std::string& name) const {
    return program_.substr(0, program_.rfind('/') + 1) + name;
}

pid_t KqspoolTest::Spawn(const std::vector<std::string>& argv, const std::string& input, int out,
                         int err) const {
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (std::string& a : args) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input.c_str(), O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(dir_.c_str()) != 0) {
            _exit(127);
        }
        setenv("KQT50_ROOT", (dir_ + "/root").c_str(), 1);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    return pid;
}

RunResult KqspoolTest::Kqspool(const std::vector<std::string>& args, const std::string& input) {
    RunResult result;
    const std::string outPath = Path("stdout.txt");
    const std::string errPath = Path("stderr.txt");
    std::vector<std::string> argv{program_};
    argv.insert(argv.end(), args.begin(), args.end());
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = out >= 0 && err >= 0 ? Spawn(argv, input, out, err) : -1;
    close(out);
    close(err);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot run " << program_;
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes outBytes = ReadFile(outPath);
    const Bytes errBytes = ReadFile(errPath);
    result.out.assign(outBytes.begin(), outBytes.end());
    result.err.assign(errBytes.begin(), errBytes.end());
    return result;
}

} // namespace e2e
