// msvcrt's own.
#pragma once

#include "machine.h"
