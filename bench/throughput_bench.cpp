// Write throughput: molecules per second written by the driver as targets
// (bit string, raw and alphabet "SBI" text) against RDKit's pattern
// fingerprint, on the same molecules.
//
// Fairness: SMILES parsing is outside every timing. Each timed pass gets
// molecules freshly parsed for it, so that nothing the core library or
// RDKit caches on a molecule (ring perception, the prescreen summary) is
// carried from one form's pass into another's. Passes of the forms
// alternate, in a rotating order, for several rounds; the best pass of each
// form is reported (the machine is shared, so the best is the least
// disturbed), with the median beside it.
#include <DataStructs/ExplicitBitVect.h>
#include <GraphMol/Fingerprints/Fingerprints.h>
#include <GraphMol/ROMol.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_driver.h"
#include "bench_table.h"
#include "benchmarks.h"

namespace zolv::bench {
namespace {

struct Form {
  std::string name;
  std::string includes;  // what one molecule's time covers
  // Writes one molecule; false when the writer refused it.
  std::function<bool(BenchMolecule&)> write;
  std::vector<double> seconds;  // one per pass
  std::size_t failures = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int RunThroughput(const BenchOptions& options) {
  std::string error;
  std::vector<SmilesEntry> entries;
  if (!ReadSmilesFile(options.targetFile, options.targetLimit, &entries, &error,
                      options.maxAtoms)) {
    std::fprintf(stderr, "zolv bench throughput: %s\n", error.c_str());
    return 1;
  }
  BenchDriver driver;
  if (!driver.Open(options.driverPath, options.dictionaryPath, &error)) {
    std::fprintf(stderr, "zolv bench throughput: %s\n", error.c_str());
    return 1;
  }
  const std::string sbiLength = std::to_string(driver.sbiLength());
  const std::string bitsOptions = driver.Options("");
  const std::string rawOptions =
      driver.Options("format=SBI length=" + sbiLength);
  const std::string alphabetOptions =
      driver.Options("format=SBI ascii=true length=" + sbiLength);

  std::vector<Form> forms;
  forms.push_back({"RDKit pattern fingerprint, 2048 bits",
                   "PatternFingerprintMol on the parsed molecule",
                   [](BenchMolecule& molecule) {
                     std::unique_ptr<ExplicitBitVect> bits(
                         RDKit::PatternFingerprintMol(*molecule.rdkit, 2048));
                     return bits != nullptr;
                   },
                   {},
                   0});
  const std::string driverIncludes =
      "ZolvWrite: dictionary read, perception, encoding, PutChar";
  forms.push_back({"driver, bit string (length 128)",
                   driverIncludes,
                   [&](BenchMolecule& molecule) {
                     return driver.Write(molecule.host.get(), bitsOptions);
                   },
                   {},
                   0});
  forms.push_back({"driver, SBI raw (length " + sbiLength + ")",
                   driverIncludes,
                   [&](BenchMolecule& molecule) {
                     return driver.Write(molecule.host.get(), rawOptions);
                   },
                   {},
                   0});
  forms.push_back({"driver, SBI alphabet (length " + sbiLength + ")",
                   driverIncludes,
                   [&](BenchMolecule& molecule) {
                     return driver.Write(molecule.host.get(), alphabetOptions);
                   },
                   {},
                   0});

  const int rounds = std::max(1, options.rounds);
  std::size_t molecules = 0;
  std::size_t refused = 0;
  double parseSeconds = 0;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < forms.size(); ++k) {
      Form& form = forms[(k + static_cast<std::size_t>(round)) % forms.size()];
      const auto parseStart = std::chrono::steady_clock::now();
      std::vector<BenchMolecule> parsed =
          ParseMolecules(entries, rdcore::MoleculeRole::kTarget, &refused);
      parseSeconds = SecondsSince(parseStart);
      molecules = parsed.size();
      ProgressMeter progress(
          "round " + std::to_string(round + 1) + ", " + form.name,
          parsed.size(), options.progress);
      std::size_t failures = 0;
      const auto start = std::chrono::steady_clock::now();
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (!form.write(parsed[i])) ++failures;
        if ((i & 255) == 0) progress.Step(i);
      }
      form.seconds.push_back(SecondsSince(start));
      progress.Finish();
      form.failures = failures;
    }
  }

  std::printf(
      "## Write throughput\n\n"
      "%zu target molecules of %s (%zu refused by a parser); dictionary %s "
      "(%zu screens); %d round(s), one pass per form each; single thread.\n"
      "Parsing one pass's molecules (both parsers) took %.2f s and is not "
      "timed.\n\n",
      molecules, options.targetFile.c_str(), refused,
      driver.dictionaryPath().c_str(), driver.screenCount(), rounds,
      parseSeconds);
  Table table({"form", "molecules/s (best)", "µs/molecule (best)",
               "µs/molecule (median)", "vs RDKit", "failures"});
  const double rdkitBest =
      *std::min_element(forms[0].seconds.begin(), forms[0].seconds.end());
  for (const Form& form : forms) {
    const double best =
        *std::min_element(form.seconds.begin(), form.seconds.end());
    const double n = static_cast<double>(std::max<std::size_t>(molecules, 1));
    table.AddRow({form.name, Count(static_cast<std::int64_t>(n / best)),
                  Fixed(best / n * 1e6, 1),
                  Fixed(Median(form.seconds) / n * 1e6, 1),
                  Fixed(rdkitBest / best, 2) + "x",
                  Count(static_cast<std::int64_t>(form.failures))});
  }
  table.Print(stdout);
  std::printf("\nTimed per molecule: the fingerprint: %s; the driver: %s.\n",
              forms[0].includes.c_str(), forms[1].includes.c_str());
  return 0;
}

}  // namespace zolv::bench
