// The entry points that need no printer: the datatype list, the capabilities, and the handle check that
// guards every entry point taking a print-processor handle.
#include "kqprint.h"
#include "no_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>


namespace {

using kqprint::ProcessorJob;

constexpr BYTE kFill = 0xCC;
constexpr DWORD kEntry = sizeof(DATATYPES_INFO_1W); // 4 on 32-bit builds, 8 on 64-bit ones
constexpr DWORD kNeeded = kEntry + 8;               // one entry and L"RAW"

// ---- EnumPrintProcessorDatatypesW -----------------------------------------------------------------

TEST(EnumDatatypesTest, SmallBufferAsksForOneEntryAndTheName) {
    for (DWORD cbBuf : {DWORD{0}, DWORD{1}, kNeeded - 1}) {
        SCOPED_TRACE(cbBuf);
        std::vector<BYTE> buffer(kNeeded, kFill);
        DWORD needed = 0;
        DWORD returned = 7;
        SetLastError(0);
        EXPECT_FALSE(EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, cbBuf ? buffer.data() : nullptr, cbBuf,
                                                  &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(needed, kNeeded);
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(buffer, std::vector<BYTE>(kNeeded, kFill));
    }
}

TEST(EnumDatatypesTest, EitherCountMissingFailsLikeBothAndWritesNothing) {
    DWORD needed = 7;
    DWORD returned = 7;
    struct Case {
        const char* what;
        LPDWORD needed;
        LPDWORD returned;
    };
    const Case cases[] = {
        {"both missing", nullptr, nullptr},
        {"bytes needed missing", nullptr, &returned},
        {"entry count missing", &needed, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> buffer(kNeeded, kFill);
        SetLastError(0);
        EXPECT_FALSE(
            EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer.data(), kNeeded, c.needed, c.returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(buffer, std::vector<BYTE>(kNeeded, kFill));
    }
}

TEST(EnumDatatypesTest, EntryFirstAndTheNameAtTheEvenEndOfTheBuffer) {
    struct Case {
        DWORD cbBuf;
        DWORD nameAt;
    };
    const Case cases[] = {
        {kNeeded, kEntry},     // exactly enough: the name right after the entry
        {kNeeded + 1, kEntry}, // an odd size: the name ends on the even offset below it
        {100, 92},             // the name in the last 8 bytes
        {101, 92},
        {4096, 4088},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cbBuf);
        std::vector<BYTE> buffer(c.cbBuf + 16, kFill);
        DWORD needed = 0;
        DWORD returned = 0;
        ASSERT_TRUE(
            EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer.data(), c.cbBuf, &needed, &returned));
        EXPECT_EQ(needed, kNeeded);
        EXPECT_EQ(returned, 1u);

        DATATYPES_INFO_1W entry;
        std::memcpy(&entry, buffer.data(), sizeof(entry));
        EXPECT_EQ(reinterpret_cast<BYTE*>(entry.pName), buffer.data() + c.nameAt);
        const BYTE raw[] = {'R', 0, 'A', 0, 'W', 0, 0, 0}; // UTF-16LE with its terminator
        EXPECT_EQ(0, std::memcmp(buffer.data() + c.nameAt, raw, sizeof(raw)));
        // nothing written past the end of the name, nor past cbBuf
        for (size_t i = c.nameAt + sizeof(raw); i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], kFill) << "byte " << i;
        }
    }
}

// ---- GetPrintProcessorCapabilities ------------------------------------------------------------------

TEST(CapabilitiesTest, RawOnlyWithOneUpAnyCopiesNormalOrder) {
    WCHAR raw[] = TEXT("RAW");
    WCHAR rawLower[] = TEXT("raw");
    WCHAR emf[] = TEXT("NT EMF 1.008");
    WCHAR text[] = TEXT("TEXT");
    WCHAR empty[] = TEXT("");
    struct Case {
        const char* what;
        LPWSTR name;
        bool withBuffer;
        DWORD size;
        DWORD result;
    };
    const Case cases[] = {
        {"RAW", raw, true, 16, ERROR_SUCCESS},
        {"raw", rawLower, true, 16, ERROR_SUCCESS},
        {"RAW, big buffer", raw, true, 64, ERROR_SUCCESS},
        {"EMF", emf, true, 16, ERROR_INVALID_DATATYPE},
        {"TEXT", text, true, 16, ERROR_INVALID_DATATYPE},
        {"empty name", empty, true, 16, ERROR_INVALID_DATATYPE},
        {"no name", nullptr, true, 16, ERROR_INVALID_PARAMETER},
        {"no buffer", raw, false, 16, ERROR_INVALID_PARAMETER},
        {"15 bytes", raw, true, 15, ERROR_MORE_DATA},
        {"0 bytes", raw, true, 0, ERROR_MORE_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PRINTPROCESSOR_CAPS_1 caps[4];
        std::memset(caps, kFill, sizeof(caps));
        DWORD needed = 0;
        EXPECT_EQ(GetPrintProcessorCapabilities(
                      c.name, 0, c.withBuffer ? reinterpret_cast<LPBYTE>(caps) : nullptr, c.size, &needed),
                  c.result);
        EXPECT_EQ(needed, 16u);
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(caps[0].dwLevel, 1u);
            EXPECT_EQ(caps[0].dwNupOptions, 1u);
            EXPECT_EQ(caps[0].dwPageOrderFlags, static_cast<DWORD>(NORMAL_PRINT));
            EXPECT_EQ(caps[0].dwNumberOfCopies, 0xFFFFFFFFu);
        } else if (c.result == ERROR_INVALID_DATATYPE) {
            EXPECT_EQ(caps[0].dwLevel, 1u);
        } else {
            EXPECT_EQ(caps[0].dwLevel, 0xCCCCCCCCu); // refused before anything was written
        }
    }
}

// ---- handles that are not open records -------------------------------------------------------------

// A record as OpenPrintProcessor leaves one, without printer, event or strings.
HANDLE MakeRecord() {
    void* block = kqprint::AllocZeroed(sizeof(ProcessorJob)).release();
    if (!block) {
        return nullptr;
    }
    auto* job = new (block) ProcessorJob();
    std::memcpy(job->Signature, kqprint::kSignature, sizeof(job->Signature));
    job->RecordSize = sizeof(ProcessorJob);
    return job;
}

// Each entry point that takes a handle refuses `handle` with ERROR_INVALID_HANDLE and touches nothing.
void ExpectRefused(HANDLE handle) {
    WCHAR document[] = TEXT("Test Printer, Job 1");
    SetLastError(0);
    EXPECT_EQ(kqprint::ValidateJob(handle), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, document));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    for (DWORD command :
         {DWORD{JOB_CONTROL_PAUSE}, DWORD{JOB_CONTROL_RESUME}, DWORD{JOB_CONTROL_CANCEL}, DWORD{4}}) {
        SetLastError(0);
        EXPECT_FALSE(ControlPrintProcessor(handle, command)) << "command " << command;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "command " << command;
    }
    SetLastError(0);
    EXPECT_FALSE(ClosePrintProcessor(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(HandleCheckTest, AcceptsAnOpenRecordAndRefusesItOnceClosed) {
    HANDLE record = MakeRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(kqprint::ValidateJob(record), record);
    EXPECT_TRUE(ClosePrintProcessor(record));
    ExpectRefused(record); // freed: a second close, or a late control, must not touch it
}

TEST(HandleCheckTest, RefusesWhatIsNotARecord) {
    ExpectRefused(nullptr);
    ExpectRefused(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(8)));
    ExpectRefused(INVALID_HANDLE_VALUE);

    for (const char* signature : {"vlme", "EMLV", "VLMF", "\0LME", "VLM\0"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(signature, 4)));
        HANDLE record = MakeRecord();
        ASSERT_NE(record, nullptr);
        std::memcpy(record, signature, 4);
        ExpectRefused(record);
        std::memcpy(record, kqprint::kSignature, 4);
        EXPECT_TRUE(ClosePrintProcessor(record));
    }

    uint32_t seed = 12345;
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        std::vector<BYTE> bytes(sizeof(ProcessorJob) + 64);
        for (BYTE& b : bytes) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<BYTE>(seed >> 16);
        }
        ASSERT_NE(0, std::memcmp(bytes.data(), kqprint::kSignature, 4));
        ExpectRefused(bytes.data());
    }
}

TEST(HandleCheckTest, RefusesMemoryThatCannotBeRead) {
    const kqtest::NoAccessPages pages;
    BYTE* const boundary = pages.Boundary();
    ASSERT_NE(boundary, nullptr);
    ExpectRefused(boundary);
    ExpectRefused(boundary + pages.PageSize() / 2);
    // The signature is readable but the rest of the record is not; a signature that runs over the edge.
    std::memcpy(boundary - 8, kqprint::kSignature, 4);
    ExpectRefused(boundary - 8);
    std::memcpy(boundary - 2, kqprint::kSignature, 2);
    ExpectRefused(boundary - 2);
}

} // namespace
