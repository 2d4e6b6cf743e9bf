// Where the driver's own module file lies: the screen dictionary is looked up
// beside it.
#pragma once

#include "text_buffer.h"

namespace zolv {

/// The directory of the driver's module file, ending in its separator; no
/// text when it cannot be found, so that nothing is looked up elsewhere.
TextBuffer ModuleDirectory();

#if defined(_WIN32)
/// Keeps the driver's module handle (an HMODULE); called once, at process
/// attach, before any write.
void KeepModuleHandle(void* module);
#endif

}  // namespace zolv
