// gdi32's own.
#pragma once

#include "machine.h"

#include <winspool.h>
