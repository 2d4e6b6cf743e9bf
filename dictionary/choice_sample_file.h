// The choice sample file of zolv dict choose: what the driver found for
// every candidate screen in every sample molecule and sample query, so that
// the choice and the numbering can be run again in seconds instead of
// finding everything again. A text file, the same on every machine:
//
//   zolv choice sample 1
//   origin TEXT                      how the sample was made (one line)
//   candidates N
//   A US SMARTS<TAB>NAME             N lines: allowed (0 or 1), microseconds
//   targets M
//   RAW ALPHABET I...                M lines: the target's formula fragments
//   queries Q                        (hexadecimal, "-" when empty), then the
//   RAW ALPHABET I...                candidates found, ascending, from 0
//   implied N
//   I...                             N lines: found in the candidate's query
//   end
//
// Every number is checked against what it refers to before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolv {

/// The first line of every choice sample file.
inline constexpr char kChoiceSampleMagic[] = "zolv choice sample 1";

struct ChoiceCandidate {
  std::string smarts;
  std::string name;
  double microseconds = 0;  // one RDKit match, measured on the samples
  bool allowed = true;      // may be chosen
};

/// One sample object: the candidates found in it and the formula fragments
/// of its "SBI" texts (target texts, or Access query patterns), which no
/// numbering changes.
struct SampleObject {
  std::vector<std::uint16_t> found;
  std::string rawFormula;
  std::string alphabetFormula;
};

struct ChoiceSample {
  std::string origin;
  std::vector<ChoiceCandidate> candidates;
  std::vector<SampleObject> targets;
  std::vector<SampleObject> queries;
  /// Per candidate: the candidates found in its own query.
  std::vector<std::vector<std::uint16_t>> implied;
};

/// Adds the candidates of more, found in the same sample objects, to *into;
/// a SMARTS *into already holds is skipped. The added candidates' implied
/// lists name only candidates that came from more, so a caller that needs
/// implications across both finds them afresh. False with a message when
/// the two samples do not hold the same objects (their counts or formula
/// fragments differ) or the candidates would not fit 16-bit numbers.
bool MergeChoiceSample(ChoiceSample* into, const ChoiceSample& more,
                       std::string* error);

/// False with a message naming the file.
bool WriteChoiceSample(const std::string& path, const ChoiceSample& sample,
                       std::string* error);

/// False with a message naming the file and line of the first fault.
bool ReadChoiceSample(const std::string& path, ChoiceSample* sample,
                      std::string* error);

}  // namespace zolv
