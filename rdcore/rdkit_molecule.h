// RDKit's molecule of a SMILES, SMARTS or molfile text, read the one way the
// project reads such texts: by the core library for the driver, and by the
// parts that use RDKit themselves (the search's confirmation, the screen
// chooser, the benchmarks), so that a text means the same molecule to all of
// them. For those parts only: the host reaches molecules through rdcore.h,
// which shows nothing of RDKit.
#pragma once

#include <GraphMol/RWMol.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "rdcore.h"

namespace zolv::rdcore {

/// How RDKit reads a text. Every reading takes the newer stereo perception,
/// which the library chooses once for the whole process when it loads.
struct ReadParameters {
  Notation notation = Notation::kSmiles;
  /// RDKit's sanitization of SMILES and molfiles (SMARTS have none).
  bool sanitize = true;
};

/// What RDKit made of a text.
struct RdkitMolecule {
  std::unique_ptr<RDKit::RWMol> molecule;  ///< null when RDKit refused it
  /// RDKit's message when it refused the text by an exception; none when it
  /// just gave no molecule.
  std::optional<std::string> message;
};

/// Reads text as parameters say, exactly as given (no white space is
/// trimmed). Only exceptions other than std::exception pass through.
ZOLV_RDCORE_API RdkitMolecule
ReadRdkitMolecule(std::string_view text, const ReadParameters& parameters = {});

}  // namespace zolv::rdcore
