// zolv dict stats FILE --molecules INPUT: how often the driver finds each
// screen of a dictionary in a set of molecules.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& DictStatsCommandSpec();

/// Runs zolv dict stats; argv[0] is the command's name. Returns the exit code.
int RunDictStats(int argc, char** argv);

}  // namespace zolv::host
