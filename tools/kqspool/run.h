// One run of kqspool: the jobs of the command line printed (or checked) and reported.
#pragma once

#include "options.h"

namespace kqspool {

// The exit status of the run.
int Run(const Options& opt);

} // namespace kqspool
