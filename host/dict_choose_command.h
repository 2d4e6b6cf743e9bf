// zolv dict choose: chooses the screens of a dictionary list from sample
// molecules (the choosing itself lives in bench/screen_chooser.h).
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& DictChooseCommandSpec();

/// Runs zolv dict choose; argv[0] is the command's name. Returns the exit
/// code.
int RunDictChoose(int argc, char** argv);

}  // namespace zolv::host
