// zolv dict build LIST -o FILE: a screen dictionary from a list of screens.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& DictBuildCommandSpec();

/// Runs zolv dict build; argv[0] is the command's name. Returns the exit code.
int RunDictBuild(int argc, char** argv);

}  // namespace zolv::host
