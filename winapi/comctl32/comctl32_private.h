// comctl32's own.
#pragma once

#include "machine.h"
