// localspl's own.
#pragma once

#include "machine.h"

#include <winspool.h>
#include <winsplp.h>

#include "winsplp_ansi.h"

namespace kqwin {

// Makes the COM port `port`'s stored line settings (GetDefaultCommConfigA) those of the terminal `fd`, raw;
// false when `port` has none (it is no serial port) or the terminal does not take them.
bool ApplyLineSettings(int fd, const std::string& port);

} // namespace kqwin

namespace kqwin {

// Empties what the terminal `fd` has received and nobody has read (replies to an earlier document).
void FlushInput(int fd);

} // namespace kqwin
