#include "choice_sample_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>
#include <utility>

#include "plain_text.h"

namespace zolv {
namespace {

// A formula fragment's bytes in hexadecimal, "-" when there are none.
std::string ToHex(const std::string& bytes) {
  return bytes.empty() ? "-" : HexOf(bytes);
}

bool FromHex(const std::string& hex, std::string* bytes) {
  bytes->clear();
  if (hex == "-") return true;
  return !hex.empty() && BytesOfHex(hex, bytes);
}

void PutNumbers(std::ostream& out, const std::vector<std::uint16_t>& numbers) {
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i != 0) out << ' ';
    out << numbers[i];
  }
}

// Reads the file line by line and names the line of every fault.
class Reader {
 public:
  Reader(const std::string& path, std::istream& in, std::string* error)
      : path_(path), in_(in), error_(error) {}

  bool Fail(const std::string& what) {
    *error_ = path_ + ":" + std::to_string(line_) + ": " + what;
    return false;
  }

  bool Next(std::string* text) {
    if (!std::getline(in_, *text)) {
      ++line_;
      return Fail("the file ends early");
    }
    ++line_;
    return true;
  }

  // "WORD N" into *count.
  bool Count(const std::string& word, std::size_t* count) {
    std::string text;
    if (!Next(&text)) return false;
    std::istringstream fields(text);
    std::string got;
    unsigned long long value = 0;
    std::string rest;
    if (!(fields >> got >> value) || got != word || (fields >> rest) ||
        value > 100000000ull) {
      return Fail("expected \"" + word + " N\"");
    }
    *count = static_cast<std::size_t>(value);
    return true;
  }

  // Ascending candidate numbers below limit, from fields.
  bool Numbers(std::istringstream& fields, std::size_t limit,
               std::vector<std::uint16_t>* numbers) {
    numbers->clear();
    std::string word;
    while (fields >> word) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(word.c_str(), &end, 10);
      if (word.empty() || *end != '\0' || word[0] == '-' || value >= limit ||
          (!numbers->empty() && value <= numbers->back())) {
        return Fail("\"" + word + "\" is no candidate number in ascending " +
                    "order below " + std::to_string(limit));
      }
      numbers->push_back(static_cast<std::uint16_t>(value));
    }
    return true;
  }

  bool Objects(const std::string& word, std::size_t candidates,
               std::vector<SampleObject>* objects) {
    std::size_t count = 0;
    if (!Count(word, &count)) return false;
    objects->assign(count, {});
    for (SampleObject& object : *objects) {
      std::string text;
      if (!Next(&text)) return false;
      std::istringstream fields(text);
      std::string raw;
      std::string alphabet;
      if (!(fields >> raw >> alphabet) || !FromHex(raw, &object.rawFormula) ||
          !FromHex(alphabet, &object.alphabetFormula)) {
        return Fail("expected two formula fragments in hexadecimal");
      }
      if (!Numbers(fields, candidates, &object.found)) return false;
    }
    return true;
  }

 private:
  const std::string& path_;
  std::istream& in_;
  std::string* error_;
  std::size_t line_ = 0;
};

}  // namespace

bool MergeChoiceSample(ChoiceSample* into, const ChoiceSample& more,
                       std::string* error) {
  if (into->targets.size() != more.targets.size() ||
      into->queries.size() != more.queries.size()) {
    *error = "the samples differ: " + std::to_string(into->targets.size()) +
             " and " + std::to_string(more.targets.size()) + " targets, " +
             std::to_string(into->queries.size()) + " and " +
             std::to_string(more.queries.size()) + " queries";
    return false;
  }
  for (const auto& [mine, theirs, word] :
       {std::tuple{&into->targets, &more.targets, "target"},
        std::tuple{&into->queries, &more.queries, "query"}}) {
    for (std::size_t i = 0; i < mine->size(); ++i) {
      if ((*mine)[i].rawFormula != (*theirs)[i].rawFormula ||
          (*mine)[i].alphabetFormula != (*theirs)[i].alphabetFormula) {
        *error = std::string("the samples differ at ") + word + " " +
                 std::to_string(i + 1) + ": other formula fragments";
        return false;
      }
    }
  }
  // Where each candidate of more goes; none for one already there.
  constexpr std::size_t kSkipped = SIZE_MAX;
  std::map<std::string, std::size_t> known;
  for (std::size_t c = 0; c < into->candidates.size(); ++c) {
    known.emplace(into->candidates[c].smarts, c);
  }
  std::vector<std::size_t> place(more.candidates.size(), kSkipped);
  std::size_t next = into->candidates.size();
  for (std::size_t c = 0; c < more.candidates.size(); ++c) {
    if (known.emplace(more.candidates[c].smarts, next).second) {
      place[c] = next++;
    }
  }
  if (next > 65535) {
    *error = "more than 65535 candidates in all";
    return false;
  }
  const auto moved = [&](const std::vector<std::uint16_t>& found) {
    std::vector<std::uint16_t> numbers;
    for (const std::uint16_t c : found) {
      if (place[c] != kSkipped) {
        numbers.push_back(static_cast<std::uint16_t>(place[c]));
      }
    }
    return numbers;
  };
  for (const auto& [mine, theirs] :
       {std::pair{&into->targets, &more.targets},
        std::pair{&into->queries, &more.queries}}) {
    for (std::size_t i = 0; i < mine->size(); ++i) {
      const std::vector<std::uint16_t> added = moved((*theirs)[i].found);
      (*mine)[i].found.insert((*mine)[i].found.end(), added.begin(),
                              added.end());
    }
  }
  for (std::size_t c = 0; c < more.candidates.size(); ++c) {
    if (place[c] == kSkipped) continue;
    into->candidates.push_back(more.candidates[c]);
    into->implied.push_back(moved(more.implied[c]));
  }
  into->origin += "; merged with " + more.origin;
  return true;
}

bool WriteChoiceSample(const std::string& path, const ChoiceSample& sample,
                       std::string* error) {
  std::ofstream out(path, std::ios::binary);
  out << kChoiceSampleMagic << '\n';
  std::string origin = sample.origin;
  for (char& c : origin) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  out << "origin " << origin << '\n';
  out << "candidates " << sample.candidates.size() << '\n';
  char cost[32];
  for (const ChoiceCandidate& candidate : sample.candidates) {
    std::snprintf(cost, sizeof(cost), "%.3f", candidate.microseconds);
    out << (candidate.allowed ? 1 : 0) << ' ' << cost << ' ' << candidate.smarts
        << '\t' << candidate.name << '\n';
  }
  for (const auto& [word, objects] : {std::pair{"targets", &sample.targets},
                                      std::pair{"queries", &sample.queries}}) {
    out << word << ' ' << objects->size() << '\n';
    for (const SampleObject& object : *objects) {
      out << ToHex(object.rawFormula) << ' ' << ToHex(object.alphabetFormula);
      if (!object.found.empty()) out << ' ';
      PutNumbers(out, object.found);
      out << '\n';
    }
  }
  out << "implied " << sample.implied.size() << '\n';
  for (const auto& numbers : sample.implied) {
    PutNumbers(out, numbers);
    out << '\n';
  }
  out << "end\n";
  out.close();
  if (!out) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

bool ReadChoiceSample(const std::string& path, ChoiceSample* sample,
                      std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  Reader reader(path, in, error);
  std::string text;
  if (!reader.Next(&text)) return false;
  if (text != kChoiceSampleMagic) {
    return reader.Fail("not a choice sample file of zolv dict choose");
  }
  if (!reader.Next(&text)) return false;
  if (text.compare(0, 7, "origin ") != 0) {
    return reader.Fail("expected \"origin TEXT\"");
  }
  sample->origin = text.substr(7);
  std::size_t count = 0;
  if (!reader.Count("candidates", &count)) return false;
  // Candidates are numbered in 16 bits.
  if (count > 65535) return reader.Fail("more than 65535 candidates");
  sample->candidates.assign(count, {});
  for (ChoiceCandidate& candidate : sample->candidates) {
    if (!reader.Next(&text)) return false;
    const std::size_t tab = text.find('\t');
    std::istringstream fields(text.substr(0, tab));
    int allowed = -1;
    if (tab == std::string::npos ||
        !(fields >> allowed >> candidate.microseconds >> candidate.smarts) ||
        (allowed != 0 && allowed != 1) || candidate.microseconds < 0) {
      return reader.Fail("expected \"ALLOWED MICROSECONDS SMARTS<TAB>NAME\"");
    }
    candidate.allowed = allowed == 1;
    candidate.name = text.substr(tab + 1);
  }
  if (!reader.Objects("targets", count, &sample->targets) ||
      !reader.Objects("queries", count, &sample->queries)) {
    return false;
  }
  std::size_t implied = 0;
  if (!reader.Count("implied", &implied)) return false;
  if (implied != count) {
    return reader.Fail("expected one implied line per candidate");
  }
  sample->implied.assign(count, {});
  for (auto& numbers : sample->implied) {
    if (!reader.Next(&text)) return false;
    std::istringstream fields(text);
    if (!reader.Numbers(fields, count, &numbers)) return false;
  }
  if (!reader.Next(&text)) return false;
  if (text != "end") return reader.Fail("expected \"end\"");
  return true;
}

}  // namespace zolv
