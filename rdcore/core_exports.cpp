// The exported functions of the core library. They are called from C-like
// code: nothing may throw out of them.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "chemistry.h"
#include "core_api.h"
#include "core_memory.h"
#include "element_table.h"
#include "file_stream.h"
#include "matcher.h"
#include "prescreen.h"

namespace zolv::rdcore {
namespace {

constexpr Status kSuccess = 1;
constexpr Status kFailure = 0;

class CoreString final : public StringObject {
 public:
  void ZOLV_STDCALL Release() override { delete this; }

  void ZOLV_STDCALL PutText(const char* text) override {
    try {
      text_.assign(text != nullptr ? text : "");
    } catch (...) {
      // Out of memory: the old text stays.
    }
  }

  const char* ZOLV_STDCALL GetText() override { return text_.c_str(); }

  std::uint32_t ZOLV_STDCALL TextLength() override {
    return static_cast<std::uint32_t>(text_.size());
  }

 private:
  ~CoreString() = default;

  std::string text_;
};

template <typename Object, typename Interface>
Status Create(Interface** out) {
  if (out == nullptr) return kFailure;
  try {
    *out = new Object();
    return kSuccess;
  } catch (...) {
    *out = nullptr;
    return kFailure;
  }
}

}  // namespace
}  // namespace zolv::rdcore

using zolv::Status;
namespace rdcore = zolv::rdcore;

extern "C" {

Status ZOLV_STDCALL ZolvCreateString(zolv::StringObject** out) {
  return rdcore::Create<rdcore::CoreString>(out);
}

Status ZOLV_STDCALL ZolvCreateMatcher(zolv::Matcher** out) {
  return rdcore::Create<rdcore::CoreMatcher>(out);
}

Status ZOLV_STDCALL ZolvCreateMatchMap(zolv::MatchMap** out) {
  return rdcore::Create<rdcore::CoreMatchMap>(out);
}

Status ZOLV_STDCALL ZolvCreateChemistry(zolv::Chemistry** out) {
  return rdcore::Create<rdcore::CoreChemistry>(out);
}

Status ZOLV_STDCALL ZolvCreateIndex(zolv::Index** out) {
  return rdcore::Create<rdcore::PrescreenIndex>(out);
}

Status ZOLV_STDCALL ZolvCreateStream(zolv::Stream** out, const char* mode,
                                     const char* path, const char* encoding) {
  if (out == nullptr) return rdcore::kFailure;
  *out = nullptr;
  if (mode == nullptr || std::strcmp(mode, "READFILE") != 0 ||
      encoding == nullptr || std::strcmp(encoding, "BYTEORDERED") != 0) {
    return rdcore::kFailure;
  }
  *out = rdcore::FileStream::Open(path);
  return *out != nullptr ? rdcore::kSuccess : rdcore::kFailure;
}

Status ZOLV_STDCALL ZolvFormula(zolv::HostObject* object, std::int32_t,
                                zolv::StringObject* out) {
  if (object == nullptr || out == nullptr) return rdcore::kFailure;
  try {
    const rdcore::CoreChemistry* chemistry =
        rdcore::CoreChemistry::From(object->GetChemistry());
    if (chemistry == nullptr) return rdcore::kFailure;
    out->PutText(chemistry->structure()->formula().c_str());
    return rdcore::kSuccess;
  } catch (...) {
    return rdcore::kFailure;
  }
}

std::int32_t ZOLV_STDCALL ZolvAtomicSymbolToNumber(const char* symbol) {
  if (symbol == nullptr) return 0;
  // Element symbols have at most two characters; a longer text is no symbol
  // however long it is.
  return zolv::AtomicNumberOf(std::string_view(symbol, strnlen(symbol, 3)));
}

void* ZOLV_STDCALL ZolvNewMemory(std::uint32_t bytes) {
  return rdcore::NewBlock(bytes);
}

void ZOLV_STDCALL ZolvDeleteMemory(void* block) { rdcore::FreeBlock(block); }

}  // extern "C"
