#include "progress_meter.h"

#include <cstdio>
#include <utility>

namespace zolv::host {
namespace {

// Lines: seconds between two, so that a log of a long run stays readable.
constexpr double kLineInterval = 10.0;
// A count: shown after this long, redrawn at most this often.
constexpr std::chrono::milliseconds kCountDelay{1000};
constexpr std::chrono::milliseconds kCountInterval{250};

}  // namespace

ProgressMeter::ProgressMeter(std::string label, std::size_t total, bool enabled)
    : ProgressMeter(Kind::kLines, std::move(label), total, enabled) {}

ProgressMeter ProgressMeter::Count(std::string label, bool enabled) {
  return ProgressMeter(Kind::kCount, std::move(label), 0, enabled);
}

ProgressMeter::ProgressMeter(Kind kind, std::string label, std::size_t total,
                             bool enabled)
    : kind_(kind),
      label_(std::move(label)),
      total_(total),
      enabled_(enabled),
      start_(std::chrono::steady_clock::now()),
      // A count may show at once after its delay; lines wait an interval.
      last_(kind == Kind::kLines ? start_
                                 : std::chrono::steady_clock::time_point()) {}

void ProgressMeter::Step(std::size_t done) {
  if (!enabled_) return;
  if (kind_ == Kind::kLines) {
    if (SecondsSince(last_) < kLineInterval) return;
    last_ = std::chrono::steady_clock::now();
    std::fprintf(stderr, "%s: %zu/%zu\n", label_.c_str(), done, total_);
    shown_ = true;
    return;
  }
  if ((done & 0xFF) != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kCountDelay || now - last_ < kCountInterval) return;
  last_ = now;
  std::fprintf(stderr, "\r%s: %zu molecules", label_.c_str(), done);
  shown_ = true;
}

void ProgressMeter::Clear() {
  if (kind_ != Kind::kCount || !shown_) return;
  std::fputs("\r\033[K", stderr);
  shown_ = false;
}

void ProgressMeter::Finish() {
  if (kind_ == Kind::kCount) {
    Clear();
    return;
  }
  if (shown_) {
    std::fprintf(stderr, "%s: %zu/%zu\n", label_.c_str(), total_, total_);
  }
  shown_ = false;
}

}  // namespace zolv::host
