// Many threads write through the one loaded driver and the RDKit core at
// once, each with its own molecules and stream; every record must be the
// one a serial run writes. Built with ZOLV_TSAN, this is the race check.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver_library.h"
#include "driver_session.h"
#include "rdcore.h"
#include "record_stream.h"
#include "zolv/zolvexformat.h"

namespace zolv::host {
namespace {

constexpr char kNciSample[] = "/usr/share/RDKit/Data/NCI/first_5K.smi";
constexpr std::size_t kMolecules = 150;
constexpr std::size_t kThreads = 8;

struct Job {
  rdcore::Notation notation;
  rdcore::MoleculeRole role;
  std::string text;
  std::string options;
};

std::vector<Job> Jobs(const std::string& screenFile) {
  const char* const kTargetOptions[] = {"length=170", "format=SBI length=64",
                                        "format=SBI ascii=true length=400",
                                        "format=raw"};
  const char* const kQueryOptions[] = {
      "object=query length=170", "format=SBI object=query length=300",
      "format=SBI object=query database=ODBC ascii=true length=300"};
  std::vector<Job> jobs;
  std::ifstream nci(kNciSample);
  std::string line;
  for (std::size_t i = 0; i < kMolecules && std::getline(nci, line); ++i) {
    const std::string smiles = line.substr(0, line.find_first_of(" \t"));
    for (const char* options : kTargetOptions) {
      jobs.push_back({rdcore::Notation::kSmiles, rdcore::MoleculeRole::kTarget,
                      smiles, screenFile + " " + options});
    }
    for (const char* options : kQueryOptions) {
      jobs.push_back({rdcore::Notation::kSmiles, rdcore::MoleculeRole::kQuery,
                      smiles, screenFile + " " + options});
    }
  }
  // Queries written from SMARTS, with the wildcards SMILES never gives.
  for (const char* smarts :
       {"c1ccccc1[Cl,Br]", "[#6]~[#7]~*", "C(=O)[OH,O-]", "[!#1;R2]@[R]"}) {
    for (const char* options : kQueryOptions) {
      jobs.push_back({rdcore::Notation::kSmarts, rdcore::MoleculeRole::kQuery,
                      smarts, screenFile + " " + options});
    }
  }
  return jobs;
}

// Writes every job in order, parsing each molecule afresh; "-" for a
// molecule that cannot be read or written.
std::vector<std::string> WriteAll(const DriverLibrary& driver,
                                  const std::vector<Job>& jobs,
                                  std::size_t first, std::size_t step) {
  std::vector<std::string> records(jobs.size());
  RecordStream stream;
  for (std::size_t i = first; i < jobs.size(); i += step) {
    const Job& job = jobs[i];
    rdcore::ParsedMolecule parsed =
        rdcore::ParseMolecule(job.text, job.notation, job.role);
    if (!parsed.molecule ||
        driver.PreWrite(parsed.molecule.get()) != ZOLV_PREWRITE_ACCEPTED) {
      records[i] = "-";
      continue;
    }
    stream.Clear();
    const std::int32_t result =
        driver.Write(parsed.molecule.get(), &stream, job.options.c_str());
    records[i] = result == ZOLV_WRITE_DONE ? stream.record()
                                           : "result " + std::to_string(result);
  }
  return records;
}

TEST(ThreadStress, ConcurrentWritesEqualSerialOnes) {
  if (!std::ifstream(kNciSample)) GTEST_SKIP() << kNciSample << " is missing";
  DriverLibrary driver;
  std::string error;
  ASSERT_TRUE(driver.Load(ZOLV_DRIVER_FILE, &error)) << error;
  const std::string screenFile = ScreenFileOption(
      driver.Directory(), driver.Directory() + "default.vetorb", &error);
  ASSERT_FALSE(screenFile.empty()) << error;
  const std::vector<Job> jobs = Jobs(screenFile);
  const std::vector<std::string> serial = WriteAll(driver, jobs, 0, 1);
  std::size_t written = 0;
  for (const std::string& record : serial) written += record.size() > 1;
  ASSERT_GT(written, jobs.size() * 9 / 10) << "the driver wrote too little";

  // Every thread writes everything, from its own starting point, so that
  // the same screens and molecules are in use on several threads at once.
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<Job> rotated(jobs.begin() + t * jobs.size() / kThreads,
                               jobs.end());
      rotated.insert(rotated.end(), jobs.begin(),
                     jobs.begin() + t * jobs.size() / kThreads);
      results[t] = WriteAll(driver, rotated, 0, 1);
      std::rotate(results[t].begin(),
                  results[t].end() - t * jobs.size() / kThreads,
                  results[t].end());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < kThreads; ++t) {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      ASSERT_EQ(results[t][i], serial[i])
          << "thread " << t << ", " << jobs[i].text << " with "
          << jobs[i].options;
    }
  }
}

}  // namespace
}  // namespace zolv::host
