// Asks the format driver which screens of a dictionary a molecule or query
// holds: the driver writes the bit string over exactly as many positions as
// the dictionary has numbers, so that position p is screen p and nothing is
// folded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core_api.h"
#include "driver_session.h"

namespace zolv::host {

class ScreenFinder {
 public:
  /// Opens the driver at driverPath with the dictionary at dictionaryPath;
  /// the bit strings are as wide as its highest screen number. query selects
  /// "object=query". False with a message when the driver cannot be loaded
  /// or the dictionary is unusable or holds no screens.
  bool Open(const std::string& driverPath, const std::string& dictionaryPath,
            bool query, std::string* error);

  /// The screens written for object, ascending. False with a message when
  /// the driver refuses the object or writes something other than the bit
  /// string asked for. Safe to call from several threads at once.
  bool Find(HostObject* object, std::vector<std::uint16_t>* screens,
            std::string* error) const;

  const std::string& options() const { return options_; }

 private:
  DriverSession session_;
  std::string options_;
  std::size_t width_ = 0;
};

class WorkerPool;

/// A temporary file, removed when this ends.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  /// Creates an empty file in directory with a unique name ending in suffix.
  bool Create(const std::string& directory, const std::string& suffix,
              std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Screens written as a dictionary whose lists are all empty, so that the
/// driver tests each screen on its own and takes nothing out of a query's
/// result: what decides which screens imply which (zolv dict build) and
/// which screens a sample holds (zolv dict choose).
class IndependentScreens {
 public:
  /// Writes the dictionary of screens (SMARTS, numbered from 1 in order)
  /// to a temporary file. False with a message.
  bool Create(const std::vector<std::string>& screens, std::string* error);

  /// found[i]: the numbers of the screens objects[i] holds, written as a
  /// query or a target by the driver at driverPath, on pool's threads.
  /// step(done) follows every slice of objects when given. False with a
  /// message, and *failed the index of the object that failed when it was
  /// one.
  bool FindAll(const std::string& driverPath, bool query,
               const std::vector<HostObject*>& objects, WorkerPool& pool,
               std::vector<std::vector<std::uint16_t>>* found,
               std::size_t* failed, std::string* error,
               const std::function<void(std::size_t done)>& step = {}) const;

  /// The dictionary file written by Create.
  const std::string& path() const { return file_.path(); }

 private:
  TemporaryFile file_;
};

}  // namespace zolv::host
