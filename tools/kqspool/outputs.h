// The files a run writes besides the port's: the trace of the print processor's writes and the preview of
// what the port received.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kqspool {

// --trace-writes: one line per write of the print processor, its byte count, a space and its bytes in
// lowercase hex.
class WriteTrace {
  public:
    WriteTrace() = default;
    ~WriteTrace() { Close(); }
    WriteTrace(const WriteTrace&) = delete;
    WriteTrace& operator=(const WriteTrace&) = delete;

    // Opens `path` ("-": standard output); false, with a message on standard error, when it cannot.
    bool Open(const std::string& path);
    // One line for a write, when a trace is open.
    void Write(const BYTE* bytes, DWORD count);
    void Close();

  private:
    std::FILE* file_ = nullptr;
};

// --preview: the picture's file, opened before printing (so that a path it cannot write costs no paper)
// and removed again unless a picture was written into it.
class PreviewFile {
  public:
    explicit PreviewFile(std::string path);
    ~PreviewFile();
    PreviewFile(const PreviewFile&) = delete;
    PreviewFile& operator=(const PreviewFile&) = delete;

    // False, with a message on standard error, when the file could not be opened.
    bool Opened() const;
    // Draws `received`, the port's bytes, as the KQT-50 prints them on paper `paperWidth` dots wide at
    // `dpi`; the preview's warnings and where it went on standard error. False, with a message, when the
    // picture could not be written.
    bool Write(const std::vector<BYTE>& received, int paperWidth, int dpi);

  private:
    std::string path_;
    std::FILE* file_;
    int openError_ = 0;
    bool kept_ = false;
};

} // namespace kqspool
