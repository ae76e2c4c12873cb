#include "stops.h"

#include "hex.h"

namespace kqspool {
namespace {

using escpos::Named;

std::string Bytes(uint64_t n) {
    return Thousands(n) + (n == 1 ? " byte" : " bytes");
}

// The bytes of a cut-short command that hold its data, with what they are called.
struct DataPart {
    const char* what;
    size_t header; // bytes before the data
};

DataPart PartOf(const std::string& name) {
    if (name == "GS v 0") {
        return {"image data", 8};
    }
    if (name == "GS *") {
        return {"image data", 4};
    }
    return {nullptr, 0};
}

std::string WhyNotTaken(escpos::View job, const escpos::Item& item) {
    using escpos::Kind;
    switch (item.kind) {
    case Kind::Unknown:
        if (item.size >= 2 && escpos::Meaning(item.name).empty()) {
            return item.name + " " + kqkit::HexByte(job[item.offset + 1]) + " is not a command";
        }
        return Named(item.name) + " is not a KQT-50 command";
    case Kind::Malformed:
        return Named(item.name) + " with " + kqkit::HexByte(job[item.offset + item.size - 1]) +
               " is not a form of it that the KQT-50 takes";
    case Kind::Refused:
        return Named(item.name) + " is refused: " + item.note;
    case Kind::Truncated: {
        const DataPart part = PartOf(item.name);
        if (part.what && item.expected > part.header && item.size >= part.header) {
            return "the job ends inside " + item.name + " (" + part.what + ": " +
                   Thousands(item.size - part.header) + " of " + Bytes(item.expected - part.header) + ")";
        }
        if (item.expected > 0) {
            return "the job ends inside " + Named(item.name) + ": " + Thousands(item.size) + " of " +
                   Bytes(item.expected);
        }
        return "the job ends inside " + Named(item.name) + ": " + Bytes(item.size) + ", its end missing";
    }
    default:
        return {};
    }
}

// The item of the job that holds byte `at` as the print processor reads the job.
escpos::Item ItemAt(escpos::View job, uint64_t at) {
    escpos::Item item = escpos::Kqt50Next(job, 0);
    while (item.end() <= at && item.end() < job.size()) {
        item = escpos::Kqt50Next(job, item.end());
    }
    return item;
}

} // namespace

PassStop ExplainPass(escpos::View job, const PassRead& pass) {
    PassStop stop;
    auto stopAt = [&](uint64_t offset, std::string reason) {
        stop.whole = false;
        stop.offset = offset;
        stop.notSent = job.size() - offset;
        stop.reason = std::move(reason);
        return stop;
    };
    // The first thing the processor does not take ends the pass, if the pass got that far.
    for (size_t at = 0; at < job.size() && at < pass.position;) {
        const escpos::Item item = escpos::Kqt50Next(job, at);
        if (item.kind != escpos::Kind::Text && item.kind != escpos::Kind::Command) {
            return stopAt(item.offset, WhyNotTaken(job, item));
        }
        at = item.end();
    }
    if (pass.reachedEnd && pass.position >= job.size() && !pass.portFailed) {
        return stop;
    }
    if (pass.cancelled) {
        // the byte read when the cancel was seen is not printed; what came before it is
        return stopAt(pass.position > 0 ? pass.position - 1 : 0, "cancelled");
    }
    const uint64_t last = pass.position > 0 ? pass.position - 1 : 0;
    const escpos::Item item = job.empty() ? escpos::Item{} : ItemAt(job, last);
    const std::string where = item.kind == escpos::Kind::Text ? "text" : Named(item.name);
    if (pass.portFailed) {
        return stopAt(item.offset, "the port did not take what the print processor wrote for " + where);
    }
    return stopAt(item.offset, "the print processor stopped inside " + where);
}

std::string StopSentence(const PassStop& stop, uint64_t jobBytes) {
    return "stopped at byte " + Thousands(stop.offset) + " of " + Thousands(jobBytes) + ": " + stop.reason +
           "; the printer never got " + Thousands(stop.notSent) + " byte(s)";
}

} // namespace kqspool
