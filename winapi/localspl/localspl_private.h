// localspl's own.
#pragma once

#include "machine.h"

#include <winspool.h>

#include "winsplp_ansi.h"
