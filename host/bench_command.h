// zolv bench: the benchmarks of the driver against RDKit (write throughput,
// pruned perception, screen quality, search time); the measuring itself
// lives in bench/.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& BenchCommandSpec();

/// Runs zolv bench; argv[0] is the command's name. Returns the exit code.
int RunBench(int argc, char** argv);

}  // namespace zolv::host
