// zolv dict build / dump / stats: the screen dictionary tools.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& DictBuildCommandSpec();
const CommandSpec& DictDumpCommandSpec();
const CommandSpec& DictStatsCommandSpec();

/// zolv dict build LIST -o FILE; argv[0] is the command's name. Returns the
/// exit code.
int RunDictBuild(int argc, char** argv);

/// zolv dict dump FILE: prints and validates a dictionary.
int RunDictDump(int argc, char** argv);

/// zolv dict stats FILE --molecules INPUT: how often the driver finds each
/// screen of a dictionary in a set of molecules.
int RunDictStats(int argc, char** argv);

}  // namespace zolv::host
