// zolv dict dump FILE: prints and checks a screen dictionary.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& DictDumpCommandSpec();

/// Runs zolv dict dump; argv[0] is the command's name. Returns the exit code.
int RunDictDump(int argc, char** argv);

}  // namespace zolv::host
