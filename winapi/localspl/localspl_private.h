// localspl's own.
#pragma once

#include "machine.h"

#include <winspool.h>
#include <winsplp.h>

#include "winsplp_ansi.h"
