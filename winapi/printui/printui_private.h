// printui's own.
#pragma once

#include "machine.h"

#include <winspool.h>
