// Move-only ownership of one core-library object.
//
// Core objects end through their own Release, never through delete; the handle
// calls it exactly once, when it is reset, reassigned or destroyed. Creation
// functions of the core library write the new object through an out
// parameter, which Receive() provides:
//
//   CoreHandle<Matcher> matcher;
//   ZolvCreateMatcher(matcher.Receive());
//   if (matcher) matcher->SetOption(kSubstructureSearch);
#pragma once

namespace zolv {

template <typename T>
class CoreHandle {
 public:
  CoreHandle() = default;
  /// Takes ownership of object (which may be null).
  explicit CoreHandle(T* object) : object_(object) {}
  CoreHandle(CoreHandle&& other) noexcept : object_(other.Detach()) {}
  CoreHandle& operator=(CoreHandle&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = other.Detach();
    }
    return *this;
  }
  CoreHandle(const CoreHandle&) = delete;
  CoreHandle& operator=(const CoreHandle&) = delete;
  ~CoreHandle() { reset(); }

  /// The object, still owned by the handle; null when there is none.
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  /// Releases the object, if any; the handle is then empty.
  void reset() {
    // Cleared before the call, so that a Release that reaches back into the
    // owner never sees a dangling object.
    T* object = object_;
    object_ = nullptr;
    if (object != nullptr) object->Release();
  }

  /// Releases the current object and gives the address where a core creation
  /// function stores the new one, which the handle then owns.
  T** Receive() {
    reset();
    return &object_;
  }

  /// Hands the object over without releasing it; the handle is then empty.
  T* Detach() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  T* object_ = nullptr;
};

}  // namespace zolv
