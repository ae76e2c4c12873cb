// The minidriver description of the NT media names the printer commands that applications' pages become:
// each of them must be a command that the print processor takes and acts on as meant. A page made of them
// as Unidrv sends it is printed through kqspool.
#include "harness.h"
#include "model.h"

#include <fstream>
#include <map>
#include <regex>

namespace e2e {
namespace {

// The bytes of a GPD command string: "<1B>J" is hex between angle brackets, other characters stand for
// themselves; each parameter (%c one byte, %l two bytes low first) is given `value`.
Bytes CommandBytes(const std::string& cmd, unsigned value) {
    Bytes out;
    for (size_t i = 0; i < cmd.size(); ++i) {
        if (cmd[i] == '"') {
            for (++i; i < cmd.size() && cmd[i] != '"'; ++i) {
                if (cmd[i] == '<') {
                    const size_t end = cmd.find('>', i);
                    for (size_t h = i + 1; h + 1 < end; h += 2) {
                        out.push_back(static_cast<uint8_t>(std::stoul(cmd.substr(h, 2), nullptr, 16)));
                    }
                    i = end;
                } else {
                    out.push_back(static_cast<uint8_t>(cmd[i]));
                }
            }
        } else if (cmd[i] == '%' && i + 1 < cmd.size()) {
            out.push_back(static_cast<uint8_t>(value & 0xFF));
            if (cmd[i + 1] == 'l') {
                out.push_back(static_cast<uint8_t>(value >> 8));
            }
            ++i;
        }
    }
    return out;
}

// "*Command: Name ... *Cmd: ..." of the file, by name.
std::map<std::string, std::string> Commands(const std::string& gpd) {
    std::map<std::string, std::string> out;
    static const std::regex kCommand(R"(\*Command:\s*(\w+)[^*]*(?:\*Order:[^\n]*\n\s*)?\*Cmd:\s*([^\n]*))");
    for (std::sregex_iterator it(gpd.begin(), gpd.end(), kCommand), end; it != end; ++it) {
        out[(*it)[1].str()] = (*it)[2].str();
    }
    return out;
}

class GpdTest : public KqspoolTest {};

TEST_F(GpdTest, EveryCommandItNamesIsOneThePrintProcessorActsOn) {
    const Bytes file = ReadFile(SourceDir() + "/media/NT/KQT50.GPD");
    const auto commands = Commands(std::string(file.begin(), file.end()));
    for (const char* name : {"CmdStartJob", "CmdEndPage", "CmdEndJob", "CmdSendBlockData", "CmdYMoveRelDown"}) {
        ASSERT_TRUE(commands.count(name)) << name;
    }
    // Two bands of 72 bytes (576 dots) by 24 rows with a gap of 30/180 inch between them, two pages.
    Bytes job = CommandBytes(commands.at("CmdStartJob"), 0);
    for (int page = 0; page < 2; ++page) {
        for (int band = 0; band < 2; ++band) {
            Bytes block = CommandBytes(commands.at("CmdSendBlockData"), 0);
            block[4] = 72; // RasterDataWidthInBytes
            block[6] = 24; // RasterDataHeightInPixels
            job.insert(job.end(), block.begin(), block.end());
            job.insert(job.end(), 72 * 24, static_cast<uint8_t>(0x80 >> band));
            const Bytes move = CommandBytes(commands.at("CmdYMoveRelDown"), 24 + 30);
            job.insert(job.end(), move.begin(), move.end());
        }
        const Bytes end = CommandBytes(commands.at("CmdEndPage"), 0);
        job.insert(job.end(), end.begin(), end.end());
    }
    const Bytes end = CommandBytes(commands.at("CmdEndJob"), 0);
    job.insert(job.end(), end.begin(), end.end());

    // Every command is one the processor takes whole.
    for (size_t at = 0; at < job.size();) {
        const escpos::Item item = escpos::Kqt50Next(job, at);
        ASSERT_TRUE(item.kind == escpos::Kind::Command) << escpos::Describe(job, item);
        at = item.end();
    }
    // And acts on as meant: one image per page of both bands and the gap, a feed past it, the cut at the end.
    const Expected out = ExpectedOutput(job, 203, 1);
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.images.size(), 2u);
    EXPECT_EQ(out.images[0].width, 72);
    EXPECT_EQ(out.images[0].rows, 24 + 203 * 30 / 180 + 24 + 203 * 30 / 180);
    const Bytes all = Join(out.writes);
    const Bytes tail(all.end() - 5, all.end());
    EXPECT_EQ(Hex(tail), Hex({0x1D, 'V', 0xFF, 0x1B, '2'})) << "cut, then the default line spacing";

    // The print processor itself agrees.
    {
        std::ofstream(Path("page.prn"), std::ios::binary)
            .write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    }
    const RunResult run = Kqspool({"print", "--out", Path("out.prn"), Path("page.prn")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(Path("out.prn")) == all, true);
}

} // namespace
} // namespace e2e
