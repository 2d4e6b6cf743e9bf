// zolv index: stores every molecule's target texts (raw and alphabet "SBI"
// text, bit string) and its SMILES in a database, SQLite or PostgreSQL, for
// zolv search to preselect from.
#pragma once

#include "command_line.h"

namespace zolv::host {

const CommandSpec& IndexCommandSpec();

/// Runs zolv index; argv[0] is the command's name. Returns the exit code.
int RunIndex(int argc, char** argv);

}  // namespace zolv::host
