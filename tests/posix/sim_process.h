#pragma once
// The simulator process lives with the other test support, shared with the benchmarks.
#include "../support/sim_process.h"
