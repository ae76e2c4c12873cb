// The KQT-50's connections: a file or character device (file:), a network port (socket://HOST:PORT) and a
// serial line with its settings (serial:DEVICE?baud=...). The application serves all three itself, so
// that it can hear the printer while a write waits for it: a printer out of paper stops taking data, and
// says so by its automatic status back.
#pragma once

#include "status.h"

#include <pappl/pappl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace kqapp {

// A serial line as a device URI gives it: serial:/dev/ttyS0?baud=9600+bits=8+parity=none+stop=1+flow=hard
// (the names of CUPS's serial URIs; '&' separates as well as '+').
struct SerialSettings {
    enum class Flow { None, XonXoff, RtsCts };
    std::string path;
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // N, E or O
    int stopBits = 1;
    Flow flow = Flow::RtsCts;
    bool operator==(const SerialSettings&) const = default;
};
// The settings of a serial: URI; nothing, with `why`, when it is not one the application can open.
std::optional<SerialSettings> ParseSerialUri(const std::string& uri, std::string* why);
std::string SerialUri(const SerialSettings& settings);

// What a job wants to know while its bytes go out: whether it was cancelled, when the printer stops and
// starts taking data again, and each change of the printer's status. Called on the job's thread.
class DeviceWatch {
  public:
    virtual bool Cancelled() = 0;
    virtual void Stalled(bool stalled) = 0;
    virtual void StatusChanged(const PrinterStatus& status) = 0;

  protected:
    ~DeviceWatch() = default;
};

// The application's side of one open device (papplDeviceGetData of the devices opened by these schemes).
class Connection {
  public:
    virtual ~Connection() = default;

    // The printer can answer (a network port or serial line; not a file).
    virtual bool TwoWay() const = 0;
    // Writes all of `count` bytes, hearing the printer meanwhile; -1 when the device failed or the watch
    // says the job was cancelled. The status requests among them, whoever's, have their answers due.
    ssize_t Write(const void* bytes, size_t count) {
        status_.Sent(static_cast<const uint8_t*>(bytes), count);
        return WriteOut(bytes, count);
    }
    // Reads what the printer sent within `wait`; 0 when it sent nothing, -1 on failure. The status is
    // taken in from it as well, so that the answers to come stay in step.
    ssize_t Receive(void* buffer, size_t size, std::chrono::milliseconds wait);

    // Asks the printer its status and waits up to `wait` for the answers; false when they did not all come.
    bool Query(std::chrono::milliseconds wait);
    // Reads and takes in whatever the printer has sent, waiting up to `wait` for the first of it; false
    // when the device failed or the printer hung up.
    bool Listen(std::chrono::milliseconds wait);
    // Sends bytes of the application's own (status requests, automatic status back on or off).
    bool Send(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()) == ssize_t(bytes.size()); }
    // Asks the printer its status on a line of its own, for when this line's data waits: a network printer
    // may answer a second sender's real-time requests at once (the virtual KQT-50 does). True when it
    // answered; its status is then this connection's. A serial line or a file has no second line.
    virtual bool AskAside(std::chrono::milliseconds) { return false; }

    StatusReader& status() { return status_; }
    void SetWatch(DeviceWatch* watch) { watch_ = watch; }

  protected:
    virtual ssize_t WriteOut(const void* bytes, size_t count) = 0;
    virtual ssize_t Read(void* buffer, size_t size, std::chrono::milliseconds wait) = 0;
    // Takes bytes the printer sent; tells the watch when the status changed.
    void Heard(const uint8_t* bytes, size_t count);
    // Takes a status the printer told on another line; tells the watch when it changed.
    void Told(const PrinterStatus& status);
    DeviceWatch* watch_ = nullptr;

  private:
    StatusReader status_;
};

// The application's connection behind a PAPPL device, shared with the caller: it stays open for the caller
// even when PAPPL closes the device. PAPPL 1.3 may do that under a running job: a job that ends lets the
// next job start on its device before it closes it (always for file: URIs), so a job holds its connection
// itself from its start and never goes back to the device. When the device is already gone, the printer's
// device URI is opened afresh. Null when neither works.
std::shared_ptr<Connection> AcquireConnection(pappl_device_t* device, pappl_printer_t* printer);

// Registers the file, socket and serial schemes. Must run before PAPPL lists or opens any device: PAPPL
// then leaves its own schemes out.
void AddDeviceSchemes();

} // namespace kqapp
