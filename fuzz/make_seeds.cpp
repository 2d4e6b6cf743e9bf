// Writes the seed corpora of the fuzz targets from valid inputs: the option
// strings, formulas and dictionaries of the driver's own tests, laid out as
// fuzz_input.h describes.
//
// Usage: zolv_fuzz_seeds <directory>; makes one subdirectory per target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dictionary_format.h"
#include "fuzz_input.h"

namespace zolv::fuzz {
namespace {

namespace fs = std::filesystem;

const char* const kOptionStrings[] = {
    "",
    "format=SBI",
    "format=SBI object=query",
    "format=SBI object=query database=ODBC",
    "format=SBI ascii=true object=query database=ODBC length=64",
    "FORMAT = sbi ; ascii = TRUE , object='query'",
    "object=query object=target database=ODBC database=Access",
    "ascii=true ascii=false length=16",
    "length=abc length=64",
    "length=-5 length='-5'",
    "length='+42' object=\"query\"",
    "length=\" \t-7\"",
    "length=\"  42\" screenfile=\"screens.vob\"",
    "screenfile=screens.vob screenfile='my screens.vob'",
    "screenfile=\"\" screenfile='screens.vob' format=SBI",
    "length=0",
    "object 'query' format",
    "database=\"Access",
};

const char* const kFormulas[] = {
    "C6H5Cl",     "C2H6O",       "CH3COOH",    "C6H5[Cl,Br]", "C10H[a]8[b]",
    "C[a[b]c]H4", "C6H5[Cl",     "C6H6:H2O",   ":2C",         ":",
    "CH,Cl",      "CH4,H2O",     "C6H5X",      "C2X2",        "~C6H6",
    "~",          "2H2O",        "c6h6",       "C0H4",        "C6 H6",
    "C99999H4",   "UuoMAQXDTHe", "C6H5BrClFI", "Na2SO4",      "CCl4",
};

struct Seed {
  const char* name;
  DictionaryContent content;
};

DictionaryContent Flat(std::uint16_t count) {
  DictionaryContent content;
  for (std::uint16_t n = 1; n <= count; ++n) {
    content.screens.push_back({n, {}, {}, "s" + std::to_string(n)});
  }
  return content;
}

std::vector<Seed> Dictionaries() {
  std::vector<Seed> seeds;
  seeds.push_back({"empty", {}});
  seeds.push_back(
      {"chain",
       {0,
        {{3, {1, 2}, {}, "s3"}, {1, {}, {2, 3}, "s1"}, {2, {1}, {3}, "s2"}}}});
  seeds.push_back(
      {"ordered",
       {1,
        {{1, {}, {2, 3}, "s1"}, {2, {1}, {3}, "s2"}, {3, {1, 2}, {}, "s3"}}}});
  seeds.push_back({"cycle", {0, {{4, {5}, {5}, "s4"}, {5, {4}, {4}, "s5"}}}});
  seeds.push_back({"keys",
                   {0,
                    {{1, {}, {}, "c1ccccc1"},
                     {2, {}, {}, "Cl"},
                     {3, {2}, {}, "[Cl]c"},
                     {6, {}, {2}, ""}}}});
  seeds.push_back({"flat8", Flat(8)});
  seeds.push_back({"flat70", Flat(70)});
  return seeds;
}

std::string Atom(int p65, int p74, int p77, int p78) {
  return {static_cast<char>(p65), static_cast<char>(p74),
          static_cast<char>(p77), static_cast<char>(p78)};
}

// One script byte per record (matches, prescreen, atoms) with the mappings
// and atoms of the per-atom check, then the molecule's two atoms. The
// variant chooses which screens match and which the prescreen rules out.
std::string Script(const DictionaryContent& content, unsigned variant) {
  std::string script;
  for (std::size_t i = 0; i < content.screens.size(); ++i) {
    const bool present = (variant + i) % 3 != 0;
    const bool ruledOut = variant == 2 && i % 4 == 1;
    const int matches = present ? (variant == 1 ? 2 : 1) : 0;
    const int atoms = variant == 1 ? 2 : 0;
    script.push_back(
        static_cast<char>(matches | (ruledOut ? 0x04 : 0) | (atoms << 3)));
    for (int m = 0; m < matches; ++m) {
      script.push_back(2);     // two pairs:
      script.push_back(0x00);  // pattern atom 0 on molecule atom 0
      script.push_back(m == 0 ? 0x11 : 0x10);  // 1 on 1, or 0 on 1
    }
    if (atoms != 0) script += Atom(1, 0, 0, 0) + Atom(0, 1, 0, 0);
  }
  script.push_back(2);
  script += Atom(2, 1, 1, 0) + Atom(0, 2, 0, 0);
  return script;
}

// Mostly none; some seeds refuse memory or fail a creation.
std::string Faults(unsigned variant) {
  std::string faults(2, '\0');
  if (variant % 5 == 3) faults[0] = 3;             // third ZolvNewMemory
  if (variant % 5 == 4) faults[1] = (1 << 3) | 4;  // second Chemistry
  return faults;
}

std::string Dictionary(const DictionaryContent& content) {
  return EncodeDictionary(content);
}

std::string WithLength16(const std::string& bytes) {
  std::string out;
  PutU16(&out, static_cast<std::uint16_t>(bytes.size()));
  return out + bytes;
}

std::string WithLength8(const std::string& bytes) {
  return std::string(1, static_cast<char>(bytes.size())) + bytes;
}

bool WriteSeed(const fs::path& directory, const std::string& name,
               const std::string& bytes) {
  std::ofstream file(directory / name, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

int MakeSeeds(const fs::path& root) {
  const fs::path options = root / "option_string";
  const fs::path formulas = root / "formula_parser";
  const fs::path dictionaries = root / "dictionary";
  const fs::path writes = root / "zolv_write";
  const fs::path records = root / "molecule_records";
  const fs::path patterns = root / "pattern_match";
  const fs::path items = root / "data_items";
  std::error_code error;
  for (const fs::path& directory :
       {options, formulas, dictionaries, writes, records, patterns, items}) {
    fs::create_directories(directory, error);
    if (error) {
      std::fprintf(stderr, "zolv_fuzz_seeds: cannot make %s: %s\n",
                   directory.c_str(), error.message().c_str());
      return 1;
    }
  }
  bool ok = true;
  int n = 0;
  for (const char* text : kOptionStrings) {
    ok = WriteSeed(options, "options" + std::to_string(n++), text) && ok;
  }
  n = 0;
  for (const char* text : kFormulas) {
    ok = WriteSeed(formulas, "formula" + std::to_string(n++), text) && ok;
  }

  const std::vector<Seed> seeds = Dictionaries();
  for (const Seed& seed : seeds) {
    const std::string file = Dictionary(seed.content);
    for (unsigned variant = 0; variant < 5; ++variant) {
      for (std::uint8_t mode : {std::uint8_t{0}, kFlagQuery}) {
        const std::string bytes =
            Faults(variant) + std::string(1, static_cast<char>(mode)) +
            WithLength16(file) + Script(seed.content, variant % 3);
        ok = WriteSeed(dictionaries,
                       std::string(seed.name) + "-" + std::to_string(variant) +
                           (mode != 0 ? "-query" : "-target"),
                       bytes) &&
             ok;
      }
    }
  }

  // Writes: every option string over a dictionary named like its
  // "screenfile", with the formulas in turn.
  n = 0;
  for (const char* text : kOptionStrings) {
    const Seed& seed = seeds[1 + n % (seeds.size() - 1)];
    const std::string file = Dictionary(seed.content);
    const char* formula =
        kFormulas[n % (sizeof(kFormulas) / sizeof(*kFormulas))];
    for (unsigned variant = 0; variant < 3; ++variant) {
      const std::uint8_t flags = variant == 2 ? kFlagNoFile : 0;
      const std::string bytes =
          Faults(variant) + std::string(1, static_cast<char>(flags)) +
          WithLength8(text) + WithLength8(formula) + WithLength16(file) +
          Script(seed.content, variant);
      ok =
          WriteSeed(writes,
                    "write" + std::to_string(n) + "-" + std::to_string(variant),
                    bytes) &&
          ok;
    }
    ++n;
  }
  // Records: the first byte picks SMILES (even) or SD (odd) and the atom
  // limit (the rest of it, halved).
  const std::string molfile =
      "m\n\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 C   0  0\n"
      "    0.0000    0.0000    0.0000 O   0  0\n  1  2  1  0\nM  END\n";
  const std::string recordSeeds[] = {
      std::string("\x08") + "CCO ethanol\n# note\n\nc1ccccc1Cl x\r\n[NH4+]",
      std::string("\x01") + molfile + "> <id>\n7\n\n$$$$\n" + molfile,
      std::string("\x03") + molfile + molfile + "$$$$\n",
      std::string("\x01") + molfile +
          ">  <MW> (1)\n46.07\n\n> <NOTE>\ntwo\nlines\n\n> <MW>\n46\n\n"
          "> <LATIN>\ncaf\xe9\n\n$$$$\n",
  };
  n = 0;
  for (const std::string& bytes : recordSeeds) {
    ok = WriteSeed(records, "records" + std::to_string(n++), bytes) && ok;
  }
  // Patterns: the first byte's top bit picks ODBC, the rest where the
  // pattern ends.
  const std::string patternSeeds[] = {
      std::string("\x05") + "*34*7347MCl",
      std::string("\x06") + "[!a-c]?*xyz",
      std::string("\x85") + "%ab_%zab",
  };
  n = 0;
  for (const std::string& bytes : patternSeeds) {
    ok = WriteSeed(patterns, "pattern" + std::to_string(n++), bytes) && ok;
  }
  // Names and data items: bytes to read as a name, objects to read as items.
  const std::string itemSeeds[] = {
      "caf\xc3\xa9 \xe9\xff \xed\xa0\x80",
      "{\"MW\":\"46.07\\n46\",\"LATIN\":\"caf\\udce9\"}",
      "{ \"a\" : \"\\u00e9\\ud83d\\ude00\\t\\\"\" , \"a\":\"\"}",
  };
  n = 0;
  for (const std::string& bytes : itemSeeds) {
    ok = WriteSeed(items, "items" + std::to_string(n++), bytes) && ok;
  }
  if (!ok) std::fprintf(stderr, "zolv_fuzz_seeds: a seed was not written\n");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace zolv::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zolv_fuzz_seeds <directory>\n");
    return 2;
  }
  return zolv::fuzz::MakeSeeds(argv[1]);
}
