// Which screens of the dictionary a molecule holds: one pruned pass in test
// order, in which each outcome settles further screens without a test.
//
// Target mode (a stored molecule) reports every screen found, after an index
// prescreen before each match. Query mode (a search query) counts a screen
// only when some match also passes the per-atom property check, and reports
// the found screens that no found screen implies.
#pragma once

#include <cstdint>

#include "core_api.h"
#include "screen_dictionary.h"
#include "screen_record.h"
#include "screen_set.h"

namespace zolv {

/// Mode code of Perceive for stored molecules.
inline constexpr int kTargetModeCode = 2;
/// Mode code of Perceive for queries; every other code selects the target
/// test.
inline constexpr int kQueryModeCode = 4;

/// Adds the screens of host's molecule to out (expected empty): all found
/// screens when screenMode is 0, the query's reduced set otherwise. The
/// dictionary is the named file beside the module; without one the set stays
/// empty. Always true.
bool ComputeScreens(HostObject* host, std::uint8_t screenMode, ScreenSet* out,
                    const char* screenFileName);

/// Fills the dictionary's result list with the molecule's found screens, in
/// ascending order, up to the list's capacity. Always true.
bool PerceiveTarget(ScreenDictionary& dictionary, HostObject* host,
                    int modeCode);

/// Overwrites out with the found screens that no found screen implies, or
/// with the smallest found screen when that leaves nothing. Always true.
bool PerceiveQuery(ScreenDictionary& dictionary, HostObject* host,
                   ScreenSet* out, int modeCode);

/// The pruned pass: adds every screen found in the molecule, and every screen
/// those imply, to molecule.implied.
void Perceive(ScreenDictionary& dictionary, ScreenRecord& molecule,
              int modeCode, std::uint8_t prescreen);

/// Whether the screen occurs in the molecule.
bool TargetTest(ScreenRecord& screen, Chemistry* molecule);

/// Whether some occurrence of the screen in the query passes the per-atom
/// property check.
bool QueryTest(ScreenRecord& screen, Chemistry* molecule);

}  // namespace zolv
