// kqspool: prints ESC/POS job files through the stand-in print spooler, as an application prints a RAW
// job to "KQT-50 Receipt" on Windows, with the kit's print processor and language monitor in the path; or
// checks them on a scratch machine and says what the printer would get.
//
// options.cpp reads the command line, run.cpp runs it: the machine made ready (machine.cpp), each job
// spooled (job.cpp) while Ctrl-C is watched for (signals.cpp), then what happened said (report.cpp) and
// written (outputs.cpp: the write trace, the preview).
#include "options.h"
#include "run.h"

#include <optional>

int main(int argc, char** argv) {
    kqspool::Options opt;
    if (const std::optional<int> status = kqspool::ParseCommandLine(argc, argv, &opt)) {
        return *status;
    }
    return kqspool::Run(opt);
}
