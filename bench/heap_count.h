// Heap bytes held, counted by the allocator of the benchmark program (which replaces malloc for every
// library in the process, the print processors included), within a window of the program's choosing.
#pragma once

#include <cstdint>

namespace kqbench {

// Starts counting: from now on, bytes allocated add and bytes freed subtract (whenever they were allocated).
void HeapCountStart();
// The highest net count since the start: the most the heap held at once beyond what it held at the start.
int64_t HeapCountPeak();
// Stops counting. Outside a window the allocator costs nothing beyond glibc's own.
void HeapCountStop();

} // namespace kqbench
