#include "bench_driver.h"

#include "dictionary_format.h"

namespace zolv::bench {

bool BenchDriver::Open(const std::string& driverPath,
                       const std::string& dictionaryPath, std::string* error) {
  if (!writer_.Open(driverPath, dictionaryPath, error)) return false;
  if (!driver_.Load(driverPath, error)) {
    *error = "cannot load the driver: " + *error;
    return false;
  }
  screenFile_ = host::ScreenFileOption(driver_.Directory(),
                                       writer_.dictionaryPath(), error);
  if (screenFile_.empty()) return false;
  screenCount_ =
      ReadDictionaryFile(writer_.dictionaryPath()).content.screens.size();
  return true;
}

std::string BenchDriver::Options(const std::string& rest) const {
  return rest.empty() ? screenFile_ : screenFile_ + " " + rest;
}

}  // namespace zolv::bench
