// The spooler's print-time calls: opening printers and spooled jobs, an application spooling a RAW document,
// the print processor reading the job back (from its first byte at every opening) and writing to the port.
#include "winspool_private.h"

#include "observers.h"

#include <algorithm>
#include <cstring>

namespace kqwin {
namespace {

// A read of kReadAheadAfter bytes or more brings as many bytes, kReadAhead further on, towards the processor.
constexpr size_t kReadAheadAfter = 256;
constexpr size_t kReadAhead = 4096;

// Splits "<printer>, Job <n>".
bool ParseJobName(const std::string& name, std::string* printer, DWORD* id) {
    const size_t at = name.rfind(kJobSuffix);
    if (at == std::string::npos) {
        return false;
    }
    const std::string digits = name.substr(at + sizeof(kJobSuffix) - 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    *printer = name.substr(0, at);
    *id = static_cast<DWORD>(std::stoul(digits));
    return true;
}

// Each write of a print processor goes to the spooler's observer, when there is one.
void ReportWrite(const BYTE* bytes, DWORD offered, DWORD accepted, BOOL result) {
    if (WinspoolObserver* observer = WinspoolHook().Get()) {
        observer->PrintProcessorWrite(bytes, offered, accepted, result);
    }
}

BOOL OpenPrinterCommon(const std::string& name, LPHANDLE handle, const DEVMODEW* devmode, ACCESS_MASK access) {
    const FaultDecision fault = CheckFault(control::Op::OpenPrinter);
    if (!handle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *handle = nullptr;
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    auto obj = std::make_shared<PrinterObj>();
    std::string printer;
    DWORD jobId = 0;
    if (ParseJobName(name, &printer, &jobId)) {
        std::shared_ptr<Job> job = FindJob(jobId);
        if (!job || !job->bytes || !EqualsNoCase(job->printer, printer)) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        obj->kind = PrinterObj::Kind::JobReader;
        obj->printer = job->printer;
        obj->jobBytes = job->bytes;
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        auto it = s.despooling.find(LowerAscii(job->printer));
        if (it != s.despooling.end() && it->second->jobId == jobId) {
            obj->outcome = it->second; // the pass's read position is kept when the reader is closed
        }
    } else if (name.size() > sizeof(kPortSuffix) - 1 &&
               EqualsNoCase(name.substr(name.size() - (sizeof(kPortSuffix) - 1)), kPortSuffix)) {
        // "<port>, Port": the name under which the spooler opens a print processor for a printer's port
        const std::string port = name.substr(0, name.size() - (sizeof(kPortSuffix) - 1));
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        for (const auto& [printerKey, outcome] : s.despooling) {
            const std::optional<PrinterRecord> rec = LoadPrinter(printerKey);
            if (rec && EqualsNoCase(rec->port, port)) {
                obj->printer = rec->name;
                obj->portBound = true;
                obj->outcome = outcome;
                break;
            }
        }
        // No job prints there now: the port of the first printer on it, to talk with the device directly (a
        // status query); its documents have no job behind them.
        const std::string printersKey = std::string(kPrintKey) + "\\Printers";
        const std::vector<std::string> printers =
            obj->portBound ? std::vector<std::string>{} : Hive().SubKeys(printersKey);
        for (const std::string& key : printers) {
            const std::optional<PrinterRecord> rec = LoadPrinter(key);
            if (rec && EqualsNoCase(rec->port, port)) {
                obj->printer = rec->name;
                obj->portBound = true;
                break;
            }
        }
        if (!obj->portBound) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
    } else {
        const std::optional<PrinterRecord> rec = LoadPrinter(name);
        if (!rec) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        obj->printer = rec->name;
        // Administrators get what they ask for; no request is a request to print.
        obj->access = access ? access : PRINTER_ACCESS_USE;
        if (devmode) {
            DEVMODEW copy{};
            std::memcpy(&copy, devmode, std::min<size_t>(sizeof(DEVMODEW), devmode->dmSize ? devmode->dmSize
                                                                                             : sizeof(DEVMODEW)));
            obj->devmode = copy;
        }
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        auto it = s.despooling.find(LowerAscii(rec->name));
        if (it != s.despooling.end()) {
            obj->portBound = true;
            obj->outcome = it->second;
        }
    }
    *handle = Handles().Add(std::move(obj));
    if (!*handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

} // namespace

} // namespace kqwin

using namespace kqwin;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    return OpenPrinterCommon(name ? Utf16ToAnsi(name) : std::string(), handle,
                             defaults ? defaults->pDevMode : nullptr, defaults ? defaults->DesiredAccess : 0);
}

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults) {
    // an 8-bit device mode is not used by the kit
    return OpenPrinterCommon(name ? name : std::string(), handle, nullptr, defaults ? defaults->DesiredAccess : 0);
}

BOOL WINAPI ClosePrinter(HANDLE h) {
    const auto obj = std::static_pointer_cast<PrinterObj>(Handles().Remove(h, ObjType::Printer));
    if (!obj) {
        return FALSE;
    }
    if (obj->kind == PrinterObj::Kind::JobReader && obj->outcome) {
        obj->outcome->passReads.push_back({obj->position, obj->reachedEnd});
    }
    if (obj->spooling) { // a document that never ended is no job
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        s.jobs.erase(obj->spooling->id);
    }
    return TRUE;
}

DWORD WINAPI StartDocPrinterW(HANDLE h, DWORD level, LPBYTE docInfo) {
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return 0;
    }
    if (obj->portBound) {
        const FaultDecision fault = CheckFault(control::Op::StartDocPrinter);
        if (fault.fail) {
            SetLastError(fault.error);
            return 0;
        }
    }
    if (obj->kind != PrinterObj::Kind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (!docInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DOC_INFO_1W info;
    std::memcpy(&info, docInfo, sizeof(info));
    SpoolerState& s = Spooler();
    if (obj->portBound) {
        if (obj->portDoc) {
            SetLastError(ERROR_INVALID_PARAMETER); // a document is already open on this handle
            return 0;
        }
        const DWORD jobId = obj->outcome ? obj->outcome->jobId : 0;
        obj->portDoc = OpenPortDoc(*obj, info, jobId);
        if (!obj->portDoc) {
            if (obj->outcome) {
                obj->outcome->portFailed = true;
            }
            if (GetLastError() == 0) {
                SetLastError(ERROR_WRITE_FAULT);
            }
            return 0;
        }
        return jobId ? jobId : 1;
    }
    if (obj->spooling) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto job = std::make_shared<Job>();
    job->printer = obj->printer;
    job->document = WideOrEmpty(info.pDocName);
    job->outputFile = WideOrEmpty(info.pOutputFile);
    job->datatype = info.pDatatype && info.pDatatype[0] ? std::u16string(info.pDatatype) : std::u16string(u"RAW");
    job->devmode = obj->devmode;
    DWORD copies = 1;
    if (obj->devmode && (obj->devmode->dmFields & DM_COPIES) && obj->devmode->dmCopies >= 0) {
        copies = static_cast<DWORD>(obj->devmode->dmCopies);
    }
    job->parameters = Utf8ToUtf16("COPIES=" + std::to_string(copies) + ";");
    {
        std::lock_guard lock(s.mutex);
        job->id = s.nextJobId++;
        s.jobs[job->id] = job; // a job from its start, as the spooler counts it
    }
    obj->spooling = job;
    return job->id;
}

DWORD WINAPI StartDocPrinterA(HANDLE h, DWORD level, LPBYTE docInfo) {
    if (level != 1 || !docInfo) {
        SetLastError(level != 1 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return 0;
    }
    DOC_INFO_1A a;
    std::memcpy(&a, docInfo, sizeof(a));
    std::u16string doc = AnsiToUtf16(AnsiOrEmpty(a.pDocName));
    std::u16string out = AnsiToUtf16(AnsiOrEmpty(a.pOutputFile));
    std::u16string dt = AnsiToUtf16(AnsiOrEmpty(a.pDatatype));
    DOC_INFO_1W w{doc.data(), a.pOutputFile ? out.data() : nullptr, a.pDatatype ? dt.data() : nullptr};
    return StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&w));
}

BOOL WINAPI WritePrinter(HANDLE h, LPVOID buffer, DWORD count, LPDWORD written) {
    if (written) {
        *written = 0;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (!written || (count && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const BYTE*>(buffer);
    if (obj->portBound) {
        const FaultDecision fault = CheckFault(control::Op::WritePrinter);
        control::JobOutcome* outcome = obj->outcome.get();
        if (outcome) {
            outcome->writes++;
            outcome->bytesOffered += count;
        }
        if (!obj->portDoc) {
            SetLastError(ERROR_SPL_NO_STARTDOC);
            ReportWrite(bytes, count, 0, FALSE);
            return FALSE;
        }
        if (fault.fail) {
            SetLastError(fault.error);
            ReportWrite(bytes, count, 0, FALSE);
            return FALSE;
        }
        const DWORD toPort = fault.shorten ? std::min(fault.keep, count) : count;
        // The port may take a write in parts: the rest is offered again until it is all taken or refused.
        DWORD done = 0;
        BOOL ok = TRUE;
        const PortDoc& doc = *obj->portDoc;
        while (done < toPort) {
            DWORD n = 0;
            SetLastError(0);
            const BOOL r = doc.ops.write && doc.ops.write(doc.port, const_cast<BYTE*>(bytes) + done, toPort - done, &n);
            n = std::min(n, toPort - done);
            done += n;
            if (!r || n == 0) { // refused, or stuck taking nothing
                ok = FALSE;
                if (GetLastError() == 0) {
                    SetLastError(ERROR_WRITE_FAULT);
                }
                break;
            }
        }
        if (outcome) {
            outcome->bytesToPort += done;
            outcome->portFailed = outcome->portFailed || !ok || done != count;
        }
        *written = done;
        ReportWrite(bytes, count, done, ok);
        return ok;
    }
    if (!obj->spooling) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    obj->spooling->data.insert(obj->spooling->data.end(), bytes, bytes + count);
    *written = count;
    return TRUE;
}

BOOL WINAPI ReadPrinter(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read) {
    if (read) {
        *read = 0;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->portBound) {
        // on the port: what the device sends back, through the port's monitor (the language monitor's
        // ReadPort passes it on from the port monitor's)
        if (!obj->portDoc) {
            SetLastError(ERROR_SPL_NO_STARTDOC);
            return FALSE;
        }
        if (!read || (count && !buffer)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const PortDoc& doc = *obj->portDoc;
        return doc.ops.read && doc.ops.read(doc.port, static_cast<LPBYTE>(buffer), count, read);
    }
    if (obj->kind != PrinterObj::Kind::JobReader) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const FaultDecision fault = CheckFault(control::Op::ReadPrinter);
    if (!read || (count && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const std::vector<BYTE>& data = *obj->jobBytes;
    size_t n = std::min<size_t>(count, data.size() - obj->position);
    if (fault.shorten) {
        n = std::min<size_t>(n, fault.keep);
    }
    if (n == 1) {
        *static_cast<BYTE*>(buffer) = data[obj->position];
    } else if (n) {
        std::memcpy(buffer, data.data() + obj->position, n);
        // Read-ahead, as a spooler reading its spool file gets it from the file cache: a processor that
        // reads a block of the job usually reads on. Each block read asks for as many bytes a little further
        // on, so that the job streams in ahead of the reads.
        if (n >= kReadAheadAfter) {
            const size_t end = std::min(data.size(), obj->position + n + kReadAhead);
            for (size_t at = (obj->position + kReadAhead) & ~size_t{63}; at < end; at += 64) {
                __builtin_prefetch(data.data() + at);
            }
        }
    }
    obj->position += n;
    obj->reachedEnd = obj->reachedEnd || (n < count && obj->position == data.size());
    *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI EndDocPrinter(HANDLE h) {
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->portBound) {
        if (!obj->portDoc) {
            SetLastError(ERROR_SPL_NO_STARTDOC);
            return FALSE;
        }
        obj->portDoc.reset();
        return TRUE;
    }
    if (!obj->spooling) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    std::shared_ptr<Job> job = std::move(obj->spooling);
    job->bytes = std::make_shared<const std::vector<BYTE>>(std::move(job->data));
    job->data = {};
    {
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        s.jobs[job->id] = job;
    }
    // The job is despooled at once, on the caller's thread, as a local spooler with an idle port would.
    const std::optional<PrinterRecord> rec = LoadPrinter(job->printer);
    if (rec && !rec->printProcessor.empty()) {
        RunJob(job);
    }
    return TRUE;
}

} // extern "C"
