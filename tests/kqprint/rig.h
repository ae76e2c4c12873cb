// A printer with a spooled job and the print processor's entry points called on it directly, as the
// spooler calls them while it runs the processor.
#pragma once

#include "kqprint.h"
#include "machine.h"

#include <memory>
#include <optional>

namespace kqtest {

class ProcessorTest : public MachineTest {
  protected:
    static constexpr char kPrinter[] = "Test Printer";

    void SetUp() override {
        MachineTest::SetUp();
        control::PrinterSetup setup;
        setup.name = kPrinter;
        ASSERT_TRUE(control::AddTestPrinter(setup));
    }
    void TearDown() override {
        reader_.reset();
        despool_.reset();
        MachineTest::TearDown();
    }

    // Spools `job` and makes it the job that the processor's handles work on.
    void Spool(const Bytes& job) {
        despool_.reset();
        jobId_ = control::SpoolJob(kPrinter, job);
        ASSERT_NE(jobId_, 0u);
        readName_ = control::JobReadName(kPrinter, jobId_);
        despool_.emplace(kPrinter, jobId_);
    }

    // OpenPrintProcessor on the spooled job.
    HANDLE Open(const std::u16string& parameters = u"COPIES=1;", const std::u16string& datatype = u"RAW") {
        openData_ = std::make_unique<ProcessorOpenData>(u"Test Printer", jobId_, parameters, datatype);
        return OpenPrintProcessor(openData_->printer.data(), &openData_->data);
    }

    BOOL Print(HANDLE h) { return PrintDocumentOnPrintProcessor(h, readName_.data()); }

    // Spools, opens, prints and closes a job; the writes are in WriteChunks().
    BOOL PrintJob(const Bytes& job, const std::u16string& parameters = u"COPIES=1;") {
        Spool(job);
        HANDLE h = Open(parameters);
        EXPECT_NE(h, nullptr);
        if (!h) {
            return FALSE;
        }
        const BOOL result = Print(h);
        EXPECT_TRUE(ClosePrintProcessor(h));
        return result;
    }

    // For calling one command handler: an open job with its document started on the printer and a
    // reader on the spooled bytes, as the pump has them when it reads a prefix byte.
    kqprint::ProcessorJob* StartHandlerJob(const Bytes& rest, int verticalDpi = 203) {
        control::SetPrinterResolution(kPrinter, verticalDpi);
        Spool(rest);
        handle_ = Open();
        kqprint::ProcessorJob* job = kqprint::ValidateJob(handle_);
        if (!job) {
            return nullptr;
        }
        DOC_INFO_1W info{openData_->document.data(), nullptr, openData_->datatype.data()};
        EXPECT_NE(StartDocPrinterW(job->PrinterHandle.get(), 1, reinterpret_cast<LPBYTE>(&info)), 0u);
        HANDLE reader = nullptr;
        EXPECT_TRUE(OpenPrinterW(readName_.data(), &reader, nullptr));
        reader_.reset(reader);
        control::ClearWrites();
        return job;
    }
    HANDLE Reader() const { return reader_.get(); }
    // Ends what StartHandlerJob began.
    void EndHandlerJob() {
        reader_.reset();
        if (kqprint::ProcessorJob* job = kqprint::ValidateJob(handle_)) {
            EndDocPrinter(job->PrinterHandle.get());
        }
        ClosePrintProcessor(handle_);
        handle_ = nullptr;
    }
    // The bytes still unread by the handler job's reader.
    Bytes Unread() {
        Bytes rest;
        BYTE b;
        DWORD got = 0;
        while (ReadPrinter(reader_.get(), &b, 1, &got) && got == 1) {
            rest.push_back(b);
        }
        return rest;
    }

    DWORD jobId_ = 0;
    std::u16string readName_;
    std::optional<control::DespoolScope> despool_;

  private:
    std::unique_ptr<ProcessorOpenData> openData_;
    HANDLE handle_ = nullptr;
    kqprint::UniquePrinter reader_;
};

} // namespace kqtest
