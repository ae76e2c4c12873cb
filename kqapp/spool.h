// The way every job goes: the stand-in Windows of the kit, with "KQT-50 Receipt" on its port COM1: set up
// as the installer sets it up, the job spooled as an application spools a RAW document, and the kit's print
// processor and language monitor printing it to the port, which the application serves itself (a port sink)
// so that the port's bytes reach the job's device.
#pragma once

#include "stops.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kqapp {

// Points the stand-in at the machine folder `root` and sets the printer up there from the libraries in
// `libDir` (libkqprint.so, libkqmon.so), unless it is set up already. False, with `error`, when it cannot.
bool PrepareMachine(const std::string& root, const std::string& libDir, std::string* error);

// Where the port's bytes go while a document prints.
struct PortDevice {
    // Sends all of `count` bytes; false when the device failed or the job was cancelled.
    std::function<bool(const uint8_t* bytes, size_t count)> write;
    // What the printer sent back (ReadPort); 0 for nothing.
    std::function<size_t(uint8_t* buffer, size_t size)> read;
    // The document's end: what is held back goes out.
    std::function<void()> flush;
    // The job was cancelled: the print processor is told to stop.
    std::function<bool()> cancelled;
};

// What printing a document did.
struct Despooled {
    bool printed = false;     // the print processor printed it and the port took every byte
    bool cancelled = false;   // cancelled while it printed
    uint64_t bytesIn = 0;
    uint64_t bytesToPort = 0;
    std::vector<kqspool::PassRead> passes; // one per copy pass, as the spooler saw it
    std::string error;        // why it was not printed
};

// One RAW document of "KQT-50 Receipt", spooled as an application spools it; the print processor prints it
// when it ends. The stand-in's spooler prints one document at a time: a document holds the spooler from
// its start to its end, and documents of other jobs wait.
class SpoolDocument {
  public:
    SpoolDocument(const std::string& name, unsigned copies, PortDevice device);
    ~SpoolDocument();
    SpoolDocument(const SpoolDocument&) = delete;
    SpoolDocument& operator=(const SpoolDocument&) = delete;

    // The document was started; otherwise `error()` says why.
    bool ok() const { return printer_ != nullptr && jobId_ != 0; }
    const std::string& error() const { return error_; }
    // Spools bytes of the document.
    bool Write(const uint8_t* bytes, size_t count);
    // Ends the document: the print processor prints it to the port now.
    Despooled End();

  private:
    std::unique_lock<std::mutex> lock_;
    HANDLE printer_ = nullptr;
    DWORD jobId_ = 0;
    uint64_t spooled_ = 0;
    std::string error_;
};

} // namespace kqapp
