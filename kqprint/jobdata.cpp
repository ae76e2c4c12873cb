// Job data in and out: the reads from the spooled job and the writes to the printer that the pump and the
// command handlers share.
#include "kqprint.h"

namespace kqprint {

bool ReadExact(HANDLE reader, void* dest, DWORD count) {
    DWORD got = 0;
    return ReadPrinter(reader, dest, count, &got) && got == count;
}

bool WriteExact(HANDLE printer, const void* src, DWORD count) {
    DWORD written = 0;
    return WritePrinter(printer, const_cast<void*>(src), count, &written) && written == count;
}

bool ReadJobData(HANDLE reader, BYTE* dest, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        const uint64_t left = count - done;
        const DWORD ask = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadPrinter(reader, dest + done, ask, &got) || got == 0) {
            return false; // failed, or the job ended inside the data
        }
        done += got > ask ? ask : got;
    }
    return true;
}

bool CopyJobDataAfter(HANDLE printer, HANDLE reader, uint64_t count, const BYTE* lead, DWORD leadCount) {
    if (count > MAXDWORD || count > SIZE_MAX) {
        return false; // more than one read can move
    }
    if (count == 0) {
        return leadCount == 0 || WriteExact(printer, lead, leadCount);
    }
    const GlobalPtr<BYTE> block = AllocZeroed(static_cast<SIZE_T>(count));
    if (!block) {
        return false;
    }
    const auto n = static_cast<DWORD>(count);
    // A job that ends inside the data sends nothing: half an image would make the printer take the
    // bytes after it for image data.
    if (!ReadExact(reader, block.get(), n)) {
        return false;
    }
    if (leadCount > 0 && !WriteExact(printer, lead, leadCount)) {
        return false;
    }
    return WriteExact(printer, block.get(), n);
}

bool CopyJobData(HANDLE printer, HANDLE reader, DWORD count) {
    return CopyJobDataAfter(printer, reader, count, nullptr, 0);
}

} // namespace kqprint
