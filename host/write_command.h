// zolv write: plays the toolkit's host for the format driver and writes one
// screen record per molecule.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& WriteCommandSpec();

/// Runs zolv write; argv[0] is the command's name. Returns the exit code.
int RunWrite(int argc, char** argv);

}  // namespace zolv::host
