// Running a job: the printer's print processor, loaded by its registered file name, opens, prints and closes
// the job; its writes go to the port through the driver's language monitor (when there is one) and the local
// port monitor. Also what test control learns of the last job, and cancelling the running one.
#include "winspool_private.h"

#include <winsplp.h>

#include <algorithm>
#include <cstring>

namespace kqwin {
namespace {

// The language monitor of a printer's driver; null when there is none.
const MonitorTables* LanguageMonitor(const PrinterRecord& rec, std::string* error) {
    const std::optional<DriverRecord> driver = LoadDriver(rec.driver);
    if (!driver || driver->monitor.empty()) {
        return nullptr;
    }
    return InitializedMonitor(driver->monitor, error);
}

struct ProcessorExports {
    BOOL(WINAPI* enumDatatypes)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) = nullptr;
    HANDLE(WINAPI* open)(LPWSTR, PPRINTPROCESSOROPENDATA) = nullptr;
    BOOL(WINAPI* print)(HANDLE, LPWSTR) = nullptr;
    BOOL(WINAPI* close)(HANDLE) = nullptr;
    BOOL(WINAPI* control)(HANDLE, DWORD) = nullptr;
    DWORD(WINAPI* caps)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD) = nullptr;
};

template <class T> void Resolve(HMODULE m, const char* name, T* fn) { *fn = ProcAddress<T>(m, name); }

bool LoadProcessor(const PrinterRecord& rec, ProcessorExports* pp, std::string* error) {
    std::string file;
    std::string env;
    if (!FindPrintProcessor(rec.printProcessor, &file, &env)) {
        *error = "print processor \"" + rec.printProcessor + "\" is not installed";
        return false;
    }
    const std::string path = PrintProcessorDirectory(env) + "\\" + file;
    HMODULE m = CachedModule(path);
    const std::string host = MapPath(path);
    if (!m) {
        *error = "print processor file " + host + " cannot be loaded" +
                 (GetLastError() == ERROR_BAD_EXE_FORMAT ? " (built for another architecture)" : "");
        return false;
    }
    Resolve(m, "EnumPrintProcessorDatatypesW", &pp->enumDatatypes);
    Resolve(m, "OpenPrintProcessor", &pp->open);
    Resolve(m, "PrintDocumentOnPrintProcessor", &pp->print);
    Resolve(m, "ClosePrintProcessor", &pp->close);
    Resolve(m, "ControlPrintProcessor", &pp->control);
    Resolve(m, "GetPrintProcessorCapabilities", &pp->caps);
    if (!pp->enumDatatypes || !pp->open || !pp->print || !pp->close || !pp->control || !pp->caps) {
        *error = "print processor " + host + " lacks one of the six entry points";
        return false;
    }
    return true;
}

// Asks the processor for its datatypes the way the spooler does: the size first, then the list.
bool AcceptsDatatype(const ProcessorExports& pp, const std::string& ppName, const std::u16string& datatype,
                     std::string* error) {
    std::u16string name = AnsiToUtf16(ppName);
    DWORD needed = 0;
    DWORD count = 0;
    SetLastError(0);
    if (pp.enumDatatypes(nullptr, name.data(), 1, nullptr, 0, &needed, &count) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0 || needed > 65536) {
        *error = "print processor gave no datatype list size";
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!pp.enumDatatypes(nullptr, name.data(), 1, buffer.data(), needed, &needed, &count)) {
        *error = "print processor gave no datatype list";
        return false;
    }
    const BYTE* end = buffer.data() + buffer.size();
    for (DWORD i = 0; i < count && (i + 1) * sizeof(DATATYPES_INFO_1W) <= buffer.size(); ++i) {
        DATATYPES_INFO_1W entry;
        std::memcpy(&entry, buffer.data() + i * sizeof(entry), sizeof(entry));
        const auto* p = reinterpret_cast<const BYTE*>(entry.pName);
        if (p < buffer.data() || p >= end) {
            *error = "print processor's datatype list points outside its buffer";
            return false;
        }
        std::u16string dt;
        for (; p + 1 < end; p += 2) {
            char16_t c;
            std::memcpy(&c, p, 2);
            if (!c) {
                break;
            }
            dt += c;
        }
        if (lstrcmpiW(dt.c_str(), datatype.c_str()) == 0) {
            return true;
        }
    }
    *error = "print processor does not take datatype " + Utf16ToUtf8(datatype);
    return false;
}

} // namespace

void PortDoc::End() {
    if (started && ops.endDoc) {
        ops.endDoc(port);
    }
    started = false;
    if (port && ops.close) {
        ops.close(port);
    }
    port = nullptr;
    if (!monitor.empty()) {
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        if (--s.monitorPorts[monitor] <= 0) {
            s.monitorPorts.erase(monitor);
        }
        monitor.clear();
    }
}

PrinterObj::PrinterObj() : Object(ObjType::Printer) {}
PrinterObj::~PrinterObj() = default;

void RunJob(const std::shared_ptr<Job>& job) {
    SpoolerState& s = Spooler();
    auto outcome = std::make_shared<control::JobOutcome>();
    outcome->jobId = job->id;
    outcome->bytesIn = job->bytes->size();
    const std::optional<PrinterRecord> rec = LoadPrinter(job->printer);
    ProcessorExports pp;
    std::string error;
    if (!rec) {
        outcome->error = "printer \"" + job->printer + "\" is gone";
    } else if (LoadProcessor(*rec, &pp, &error) && AcceptsDatatype(pp, rec->printProcessor, job->datatype, &error)) {
        outcome->processorLoaded = true;
        {
            std::lock_guard lock(s.mutex);
            s.despooling[LowerAscii(rec->name)] = outcome;
        }
        std::u16string printer = AnsiToUtf16(rec->name);
        std::u16string datatype = job->datatype;
        std::u16string parameters = job->parameters;
        std::u16string document = job->document;
        std::u16string output = job->outputFile;
        // As Windows does, the processor is opened under the port's name; the printer's own name is in the
        // open data.
        std::u16string printerForOpen = AnsiToUtf16(rec->port + kPortSuffix);
        DEVMODEW devmode = job->devmode.value_or(DEVMODEW{});
        PRINTPROCESSOROPENDATA od{};
        od.pDevMode = job->devmode ? &devmode : nullptr;
        od.pDatatype = datatype.data();
        od.pParameters = parameters.data();
        od.pDocumentName = document.data();
        od.JobId = job->id;
        od.pOutputFile = output.empty() ? nullptr : output.data();
        od.pPrinterName = printer.data();
        HANDLE h = pp.open(printerForOpen.data(), &od);
        if (h) {
            outcome->opened = true;
            {
                std::lock_guard lock(s.mutex);
                s.processors[LowerAscii(rec->name)] = {h, pp.control};
            }
            std::u16string readName = AnsiToUtf16(job->printer) + u", Job " + Utf8ToUtf16(std::to_string(job->id));
            outcome->printed = pp.print(h, readName.data());
            if (!outcome->printed) {
                outcome->printError = GetLastError();
                outcome->error = "the print processor reported failure, error " + std::to_string(outcome->printError);
            }
            {
                // no cancel may reach the handle once it is being closed
                std::lock_guard lock(s.mutex);
                s.processors.erase(LowerAscii(rec->name));
            }
            outcome->closed = pp.close(h);
        } else {
            outcome->error = "the print processor did not open the job, error " + std::to_string(GetLastError());
        }
        std::lock_guard lock(s.mutex);
        s.despooling.erase(LowerAscii(rec->name));
    } else {
        outcome->error = error;
    }
    std::lock_guard lock(s.mutex);
    s.jobs.erase(job->id);
    s.last = *outcome;
}

namespace {

using Form = MonitorTables::Form;

// Opens a port of the local port monitor itself.
BOOL OpenLocalPort(const MonitorTables& local, const std::string& port, PHANDLE handle) {
    if (local.form == Form::Ansi) {
        std::string name = port;
        return local.ansi.pfnOpenPort(name.data(), handle);
    }
    std::u16string name = AnsiToUtf16(port);
    return local.monitor2.pfnOpenPort(local.instance, name.data(), handle);
}

// Opens a port through a language monitor, with the local port monitor below it in the monitor's form.
BOOL OpenThroughMonitor(const MonitorTables& lm, const std::string& port, const std::string& printer,
                        PHANDLE handle) {
    const MonitorTables& below = LocalMonitor(lm.form);
    if (lm.form == Form::Ansi) {
        std::string portName = port;
        std::string printerName = printer;
        return lm.ansi.pfnOpenPortEx && lm.ansi.pfnOpenPortEx(portName.data(), printerName.data(), handle,
                                                               const_cast<MONITORA*>(&below.ansi));
    }
    std::u16string portName = AnsiToUtf16(port);
    std::u16string printerName = AnsiToUtf16(printer);
    if (lm.form == Form::Wide) {
        return lm.wide.pfnOpenPortEx && lm.wide.pfnOpenPortEx(portName.data(), printerName.data(), handle,
                                                               const_cast<MONITOR*>(&below.wide));
    }
    return lm.monitor2.pfnOpenPortEx &&
           lm.monitor2.pfnOpenPortEx(lm.instance, below.instance, portName.data(), printerName.data(), handle,
                                     const_cast<MONITOR2*>(&below.monitor2));
}

// Starts the document on the port, with the printer's name and the document's information in the form of
// the table: 8-bit for the 98/ME spooler, UTF-16 for the others.
BOOL StartPortDocument(const MonitorTables& t, HANDLE port, const std::string& printer, DWORD jobId,
                       const DOC_INFO_1W& info) {
    if (t.form == Form::Ansi) {
        std::string printerName = printer;
        std::string docName = Utf16ToAnsi(WideOrEmpty(info.pDocName));
        std::string output = Utf16ToAnsi(WideOrEmpty(info.pOutputFile));
        std::string datatype = Utf16ToAnsi(WideOrEmpty(info.pDatatype));
        DOC_INFO_1A docInfo{docName.data(), output.empty() ? nullptr : output.data(),
                            datatype.empty() ? nullptr : datatype.data()};
        return t.ansi.pfnStartDocPort &&
               t.ansi.pfnStartDocPort(port, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&docInfo));
    }
    std::u16string printerName = AnsiToUtf16(printer);
    DOC_INFO_1W docInfo = info;
    const auto start = t.form == Form::Wide ? t.wide.pfnStartDocPort : t.monitor2.pfnStartDocPort;
    return start && start(port, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&docInfo));
}

} // namespace

std::unique_ptr<PortDoc> OpenPortDoc(const PrinterObj& obj, const DOC_INFO_1W& info, DWORD jobId) {
    const std::optional<PrinterRecord> rec = LoadPrinter(obj.printer);
    if (!rec) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto doc = std::make_unique<PortDoc>();
    const MonitorTables& local = LocalMonitor(Windows9x() ? Form::Ansi : Form::Monitor2);
    const MonitorTables* through = &local;
    BOOL opened = FALSE;
    const std::u16string outputFile = WideOrEmpty(info.pOutputFile);
    std::string monitorError;
    if (!outputFile.empty()) {
        // printing to a file named by the document goes straight to that file, a port of the local monitor
        opened = OpenLocalPort(local, Utf16ToAnsi(outputFile), &doc->port);
    } else if (const MonitorTables* lm = (rec->attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI)
                                             ? LanguageMonitor(*rec, &monitorError)
                                             : nullptr) {
        through = lm;
        doc->viaMonitor = true;
        opened = OpenThroughMonitor(*lm, rec->port, rec->name, &doc->port);
    } else {
        opened = OpenLocalPort(local, rec->port, &doc->port);
    }
    doc->ops = OperationsOf(*through);
    if (!monitorError.empty() && obj.outcome) {
        obj.outcome->error = monitorError;
    }
    if (!opened) {
        doc->port = nullptr;
        return nullptr;
    }
    if (doc->viaMonitor) {
        // the monitor is in use while the port is open through it
        const std::optional<DriverRecord> driver = LoadDriver(rec->driver);
        doc->monitor = LowerAscii(driver ? driver->monitor : rec->driver);
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        ++s.monitorPorts[doc->monitor];
    }
    if (obj.outcome && doc->viaMonitor) {
        obj.outcome->monitorEntry = through->entry;
    }
    if (!StartPortDocument(*through, doc->port, rec->name, jobId, info)) {
        return nullptr; // the port is closed by the PortDoc
    }
    doc->started = true;
    if (obj.outcome) {
        obj.outcome->viaMonitor = doc->viaMonitor;
    }
    return doc;
}

} // namespace kqwin

namespace kqwin::control {

DespoolScope::DespoolScope(const std::string& printer, DWORD jobId) : printer_(LowerAscii(printer)) {
    auto outcome = std::make_shared<JobOutcome>();
    outcome->jobId = jobId;
    outcome->processorLoaded = true;
    if (std::shared_ptr<Job> job = FindJob(jobId)) {
        outcome->bytesIn = job->bytes ? job->bytes->size() : 0;
    }
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    s.despooling[printer_] = std::move(outcome);
}

DespoolScope::~DespoolScope() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    auto it = s.despooling.find(printer_);
    if (it != s.despooling.end()) {
        s.last = *it->second;
        s.jobs.erase(it->second->jobId); // printed, as the spooler deletes a job it has run
        s.despooling.erase(it);
    }
}

bool CancelRunningJob() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    for (const auto& [printer, processor] : s.processors) {
        auto it = s.despooling.find(printer);
        if (it != s.despooling.end()) {
            it->second->cancelled = true;
        }
        processor.control(processor.handle, JOB_CONTROL_CANCEL);
    }
    return !s.processors.empty();
}

std::optional<JobOutcome> LastJobOutcome() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    return s.last;
}

} // namespace kqwin::control
