// Telling this library's objects from another library's behind the core
// interfaces, on every matcher, index and chemistry call.
#pragma once

#include <type_traits>
#include <typeinfo>

namespace zolv::rdcore {

/// The object as this library's final class Ours, or null when it is
/// another class (another library's object). One comparison of type
/// information, where dynamic_cast would search the class hierarchy.
template <typename Ours, typename Interface>
Ours* AsOurs(Interface* object) {
  static_assert(std::is_final_v<Ours>, "only a final class has one type");
  if (object == nullptr || typeid(*object) != typeid(Ours)) return nullptr;
  return static_cast<Ours*>(object);
}

}  // namespace zolv::rdcore
