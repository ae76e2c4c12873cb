#include "unidrv.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <stdexcept>

namespace e2e::unidrv {
namespace {

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    const size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Comments ("*%" to the end of the line) out.
std::string Uncommented(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t comment = text.find("*%", at);
        if (comment == std::string::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, comment - at);
        at = text.find('\n', comment);
        if (at == std::string::npos) {
            break;
        }
    }
    return out;
}

// A standard-variable expression: numbers, variables, + - * / MOD, max, min, max_repeat, parentheses.
class Expression {
  public:
    Expression(const std::string& text, const std::map<std::string, long>& values) : s_(text), values_(values) {}

    long Evaluate() {
        const long v = Sum();
        Skip();
        if (at_ != s_.size()) {
            throw std::runtime_error("unexpected '" + s_.substr(at_) + "' in {" + s_ + "}");
        }
        return v;
    }
    bool repeat = false; // max_repeat was used

  private:
    void Skip() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) {
            ++at_;
        }
    }
    bool Take(const std::string& token) {
        Skip();
        if (s_.compare(at_, token.size(), token) == 0) {
            at_ += token.size();
            return true;
        }
        return false;
    }
    long Sum() {
        long v = Product();
        for (;;) {
            if (Take("+")) {
                v += Product();
            } else if (Take("-")) {
                v -= Product();
            } else {
                return v;
            }
        }
    }
    long Product() {
        long v = Factor();
        for (;;) {
            if (Take("*")) {
                v *= Factor();
            } else if (Take("/") || Take("MOD")) {
                const bool mod = s_[at_ - 1] == 'D';
                const long d = Factor();
                if (d == 0) {
                    throw std::runtime_error("division by 0 in {" + s_ + "}");
                }
                v = mod ? v % d : v / d;
            } else {
                return v;
            }
        }
    }
    long Factor() {
        Skip();
        if (Take("(")) {
            const long v = Sum();
            Expect(")");
            return v;
        }
        std::string word;
        while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_')) {
            word += s_[at_++];
        }
        if (word.empty()) {
            throw std::runtime_error("no value at '" + s_.substr(at_) + "' in {" + s_ + "}");
        }
        if (std::isdigit(static_cast<unsigned char>(word[0]))) {
            return std::stol(word);
        }
        if (word == "max_repeat") {
            repeat = true;
            Expect("(");
            const long v = Sum();
            Expect(")");
            return v;
        }
        if (word == "max" || word == "min") {
            Expect("(");
            const long a = Sum();
            Expect(",");
            const long b = Sum();
            Expect(")");
            return word == "max" ? std::max(a, b) : std::min(a, b);
        }
        const auto v = values_.find(word);
        if (v == values_.end()) {
            throw std::runtime_error("no value for " + word);
        }
        return v->second;
    }
    void Expect(const std::string& token) {
        if (!Take(token)) {
            throw std::runtime_error("'" + token + "' expected in {" + s_ + "}");
        }
    }

    std::string s_;
    const std::map<std::string, long>& values_;
    size_t at_ = 0;
};

// A command string as literal runs and arguments.
struct Piece {
    Bytes literal;
    char type = 0; // 'c', 'l', 'm' or 0 for a literal
    long low = 0, high = 0;
    bool ranged = false;
    std::string expression;
};

std::vector<Piece> Pieces(const std::string& cmd) {
    std::vector<Piece> out;
    for (size_t i = 0; i < cmd.size();) {
        const char c = cmd[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '"') {
            Piece p;
            for (++i; i < cmd.size() && cmd[i] != '"'; ++i) {
                if (cmd[i] == '<') {
                    const size_t end = cmd.find('>', i);
                    if (end == std::string::npos) {
                        throw std::runtime_error("unended <hex> in " + cmd);
                    }
                    for (size_t h = i + 1; h + 1 < end; h += 2) {
                        p.literal.push_back(static_cast<uint8_t>(std::stoul(cmd.substr(h, 2), nullptr, 16)));
                    }
                    i = end;
                } else {
                    p.literal.push_back(static_cast<uint8_t>(cmd[i]));
                }
            }
            ++i;
            out.push_back(p);
        } else if (c == '%' && i + 1 < cmd.size()) {
            Piece p;
            p.type = cmd[i + 1];
            if (p.type != 'c' && p.type != 'l' && p.type != 'm') {
                throw std::runtime_error(std::string("argument type %") + p.type + " not modelled");
            }
            i += 2;
            if (i < cmd.size() && cmd[i] == '[') {
                const size_t end = cmd.find(']', i);
                const std::string range = cmd.substr(i + 1, end - i - 1);
                p.ranged = true;
                p.low = std::stol(range.substr(0, range.find(',')));
                p.high = std::stol(range.substr(range.find(',') + 1));
                i = end + 1;
            }
            const size_t open = cmd.find('{', i), close = cmd.find('}', i);
            if (open != i || close == std::string::npos) {
                throw std::runtime_error("argument without {expression} in " + cmd);
            }
            p.expression = cmd.substr(open + 1, close - open - 1);
            i = close + 1;
            out.push_back(p);
        } else {
            throw std::runtime_error("unexpected '" + cmd.substr(i) + "' in a command string");
        }
    }
    return out;
}

void Put(Bytes& out, char type, long value) {
    if (type == 'c') {
        out.push_back(static_cast<uint8_t>(value));
    } else if (type == 'l') {
        out.push_back(static_cast<uint8_t>(value & 0xFF));
        out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    } else {
        out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
        out.push_back(static_cast<uint8_t>(value & 0xFF));
    }
}

const std::vector<std::string> kSections = {"JOB_SETUP", "DOC_SETUP", "PAGE_SETUP",
                                            "PAGE_FINISH", "DOC_FINISH", "JOB_FINISH"};

} // namespace

Gpd Gpd::Parse(const std::string& original) {
    Gpd gpd;
    const std::string text = Uncommented(original);
    // "*Command: Name" and its braces, which may nest
    std::string rest;
    static const std::regex kCommand(R"(\*Command:\s*(\w+)\s*\{)");
    size_t at = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), kCommand), end; it != end; ++it) {
        const size_t open = static_cast<size_t>(it->position(0) + it->length(0)) - 1;
        if (open < at) {
            continue;
        }
        int depth = 0;
        size_t close = open;
        for (; close < text.size(); ++close) {
            depth += text[close] == '{' ? 1 : text[close] == '}' ? -1 : 0;
            if (depth == 0) {
                break;
            }
        }
        const std::string body = text.substr(open + 1, close - open - 1);
        rest += text.substr(at, static_cast<size_t>(it->position(0)) - at);
        at = close + 1;
        Command command;
        static const std::regex kCmd(R"(\*Cmd:\s*([^\n]*))");
        static const std::regex kOrder(R"(\*Order:\s*(\w+)\.(\d+))");
        std::smatch m;
        if (std::regex_search(body, m, kCmd)) {
            command.cmd = Trim(m[1].str());
            // a one-line command ends with the brace of its block
            while (std::count(command.cmd.begin(), command.cmd.end(), '}') >
                   std::count(command.cmd.begin(), command.cmd.end(), '{')) {
                command.cmd = Trim(command.cmd.substr(0, command.cmd.rfind('}')));
            }
        }
        if (std::regex_search(body, m, kOrder)) {
            command.section = m[1].str();
            command.order = std::stoi(m[2].str());
        }
        gpd.commands.emplace((*it)[1].str(), command);
    }
    rest += text.substr(std::min(at, text.size()));
    static const std::regex kAttribute(R"(\*([A-Za-z]+\??):\s*([^\n{}]*))");
    for (std::sregex_iterator it(rest.begin(), rest.end(), kAttribute), end; it != end; ++it) {
        gpd.attributes.emplace((*it)[1].str(), Trim((*it)[2].str()));
    }
    return gpd;
}

long Gpd::Number(const std::string& name, int index, long otherwise) const {
    const auto a = attributes.find(name);
    if (a == attributes.end()) {
        return otherwise;
    }
    static const std::regex kNumber(R"(-?\d+)");
    std::sregex_iterator it(a->second.begin(), a->second.end(), kNumber), end;
    for (int i = 0; i < index && it != end; ++i) {
        ++it;
    }
    return it == end ? otherwise : std::stol(it->str());
}

Bytes Expand(const Command& command, const std::map<std::string, long>& values, long* sent, std::string* error) {
    Bytes out;
    long total = 0;
    try {
        const std::vector<Piece> pieces = Pieces(command.cmd);
        std::vector<long> arguments;
        bool repeat = false, ranged = false;
        for (const Piece& p : pieces) {
            if (p.type) {
                Expression e(p.expression, values);
                arguments.push_back(e.Evaluate());
                repeat = repeat || e.repeat;
                ranged = p.ranged;
            }
        }
        if (repeat && (arguments.size() != 1 || !ranged)) {
            throw std::runtime_error("max_repeat needs a single argument with a range: " + command.cmd);
        }
        // max_repeat: the command again with the range's top until what is left fits
        long left = arguments.empty() ? 0 : arguments[0];
        do {
            size_t n = 0;
            for (const Piece& p : pieces) {
                if (!p.type) {
                    out.insert(out.end(), p.literal.begin(), p.literal.end());
                    continue;
                }
                long v = repeat ? left : arguments[n];
                if (p.ranged) {
                    v = std::clamp(v, p.low, p.high);
                }
                Put(out, p.type, v);
                total += v;
                if (repeat) {
                    left -= v;
                }
                ++n;
            }
        } while (repeat && left > 0);
    } catch (const std::exception& e) {
        if (error) {
            *error = e.what();
        }
        return {};
    }
    if (sent) {
        *sent = total;
    }
    return out;
}

Job Print(const Gpd& gpd, const std::vector<Page>& pages) {
    Job job;
    auto fail = [&](const std::string& what) {
        job.error = what;
        job.bytes.clear();
        return job;
    };
    auto send = [&](const std::string& name, const std::map<std::string, long>& values, long* sent = nullptr) {
        const auto c = gpd.commands.find(name);
        if (c == gpd.commands.end()) {
            return true; // a command the GPD does not give is not sent
        }
        std::string error;
        const Bytes bytes = Expand(c->second, values, sent, &error);
        if (!error.empty()) {
            job.error = name + ": " + error;
            return false;
        }
        job.bytes.insert(job.bytes.end(), bytes.begin(), bytes.end());
        return true;
    };
    auto section = [&](const std::string& which) {
        std::vector<std::pair<int, const Command*>> ordered;
        for (const auto& [name, command] : gpd.commands) {
            if (command.section == which) {
                ordered.emplace_back(command.order, &command);
            }
        }
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [order, command] : ordered) {
            std::string error;
            const Bytes bytes = Expand(*command, {}, nullptr, &error);
            if (!error.empty()) {
                job.error = which + ": " + error;
                return false;
            }
            job.bytes.insert(job.bytes.end(), bytes.begin(), bytes.end());
        }
        return true;
    };

    const long masterY = gpd.Number("MasterUnits", 1);
    const long dpi = gpd.Number("DPI", 1);
    const long moveUnit = gpd.Number("YMoveUnit");
    if (masterY <= 0 || dpi <= 0 || moveUnit <= 0 || masterY % dpi || masterY % moveUnit) {
        return fail("the master units are not a multiple of the resolution and the move unit");
    }
    const long perRow = masterY / dpi, perMove = masterY / moveUnit;
    const long blockBytes = gpd.Flag("SendMultipleRows?") ? gpd.Number("MaxMultipleRowBytes", 0, 32 * 1024) : 0;
    const bool autoIncrement = gpd.attributes.count("CursorYAfterSendBlockData") &&
                               gpd.attributes.at("CursorYAfterSendBlockData") == "AUTO_INCREMENT";

    if (!section("JOB_SETUP") || !section("DOC_SETUP")) {
        return job;
    }
    for (const Page& page : pages) {
        if (!section("PAGE_SETUP")) {
            return job;
        }
        long cursor = 0; // master units below the cursor origin
        for (size_t row = 0; row < page.size();) {
            const Bytes& first = page[row];
            if (std::all_of(first.begin(), first.end(), [](uint8_t b) { return b == 0; })) {
                ++row; // blank rows are moved over, not sent
                continue;
            }
            const long destination = static_cast<long>(row) * perRow;
            if (destination > cursor) {
                long moved = 0;
                if (!send("CmdYMoveRelDown", {{"DestYRel", destination - cursor}}, &moved)) {
                    return job;
                }
                cursor += moved * perMove;
            }
            // the block: the rows up to the next blank one, as many as it may hold
            const long width = static_cast<long>(first.size());
            const long most = blockBytes ? std::max(1L, blockBytes / width) : 1;
            size_t rows = 0;
            while (row + rows < page.size() && static_cast<long>(rows) < most &&
                   std::any_of(page[row + rows].begin(), page[row + rows].end(), [](uint8_t b) { return b != 0; })) {
                ++rows;
            }
            const long height = static_cast<long>(rows);
            if (!send("CmdSendBlockData", {{"RasterDataWidthInBytes", width},
                                           {"RasterDataHeightInPixels", height},
                                           {"NumOfDataBytes", width * height}})) {
                return job;
            }
            for (size_t r = 0; r < rows; ++r) {
                job.bytes.insert(job.bytes.end(), page[row + r].begin(), page[row + r].end());
            }
            if (!send("CmdEndBlockData", {})) {
                return job;
            }
            if (autoIncrement) {
                cursor += height * perRow;
            }
            row += rows;
        }
        if (!section("PAGE_FINISH")) {
            return job;
        }
    }
    if (!section("DOC_FINISH") || !section("JOB_FINISH")) {
        return job;
    }
    return job;
}

} // namespace e2e::unidrv
