#include "molecule_loop.h"

namespace zolv::host {

std::string ShownName(const std::string& path) {
  return path == "-" ? "stdin" : path;
}

rdcore::Notation NotationOf(InputFormat format) {
  return format == InputFormat::kSmiles ? rdcore::Notation::kSmiles
                                        : rdcore::Notation::kMolBlock;
}

}  // namespace zolv::host
