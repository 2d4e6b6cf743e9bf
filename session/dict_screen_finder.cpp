#include "dict_screen_finder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "dictionary_format.h"
#include "parallel_writer.h"

namespace zolv::host {

bool ScreenFinder::Open(const std::string& driverPath,
                        const std::string& dictionaryPath, bool query,
                        std::string* error) {
  if (!session_.Open(driverPath, dictionaryPath, error)) return false;
  width_ = session_.highestScreen();
  if (width_ == 0) {
    *error = dictionaryPath + ": holds no screens";
    return false;
  }
  options_ =
      session_.Options(std::string("object=") + (query ? "query" : "target") +
                       " length=" + std::to_string(width_));
  return true;
}

bool ScreenFinder::Find(HostObject* object, std::vector<std::uint16_t>* screens,
                        std::string* error) const {
  screens->clear();
  if (!session_.Accepts(object)) {
    *error = "the driver does not accept it (ZolvPreWrite refused it)";
    return false;
  }
  RecordStream stream;
  const std::int32_t result = session_.Write(object, options_, &stream);
  if (result != ZOLV_WRITE_DONE) {
    *error = "the driver did not write it (ZolvWrite result " +
             std::to_string(result) + ")";
    return false;
  }
  const std::string& bits = stream.record();
  if (bits.size() != width_ ||
      bits.find_first_not_of("01") != std::string::npos) {
    *error = "the driver wrote " + std::to_string(bits.size()) +
             " characters, not a bit string of " + std::to_string(width_);
    return false;
  }
  for (std::size_t position = 1; position <= width_; ++position) {
    if (bits[position - 1] == '1') {
      screens->push_back(static_cast<std::uint16_t>(position));
    }
  }
  return true;
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

bool TemporaryFile::Create(const std::string& directory,
                           const std::string& suffix, std::string* error) {
  std::string pattern = directory;
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  pattern += "zolv-XXXXXX" + suffix;
  const int descriptor =
      mkstemps(pattern.data(), static_cast<int>(suffix.size()));
  if (descriptor < 0) {
    *error =
        pattern + ": cannot create a temporary file: " + std::strerror(errno);
    return false;
  }
  close(descriptor);
  path_ = pattern;
  return true;
}

bool IndependentScreens::Create(const std::vector<std::string>& screens,
                                std::string* error) {
  DictionaryContent independent;
  independent.orderFlag = 1;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    independent.screens.push_back(
        {static_cast<std::uint16_t>(i + 1), {}, {}, screens[i]});
  }
  std::error_code code;
  const std::filesystem::path temporaryDirectory =
      std::filesystem::temp_directory_path(code);
  if (code) {
    *error = "no directory for temporary files: " + code.message();
    return false;
  }
  if (!file_.Create(temporaryDirectory.string(), ".vetorb", error)) {
    return false;
  }
  if (!WriteDictionaryFile(file_.path(), independent)) {
    *error = file_.path() + ": cannot be written";
    return false;
  }
  return true;
}

bool IndependentScreens::FindAll(
    const std::string& driverPath, bool query,
    const std::vector<HostObject*>& objects, WorkerPool& pool,
    std::vector<std::vector<std::uint16_t>>* found, std::size_t* failed,
    std::string* error, const std::function<void(std::size_t)>& step) const {
  *failed = objects.size();
  ScreenFinder finder;
  if (!finder.Open(driverPath, file_.path(), query, error)) return false;
  found->assign(objects.size(), {});
  std::vector<std::string> errors(objects.size());
  std::vector<char> written(objects.size(), 0);
  // In slices, so that progress moves while the pool works.
  const std::size_t slice = pool.size() * kItemsPerWorker;
  for (std::size_t first = 0; first < objects.size(); first += slice) {
    const std::size_t count = std::min(slice, objects.size() - first);
    pool.Run(count, [&](std::size_t, std::size_t offset) {
      const std::size_t i = first + offset;
      written[i] = finder.Find(objects[i], &(*found)[i], &errors[i]);
    });
    for (std::size_t i = first; i < first + count; ++i) {
      if (!written[i]) {
        *failed = i;
        *error = errors[i];
        return false;
      }
    }
    if (step) step(first + count);
  }
  return true;
}

}  // namespace zolv::host
