#include "editpoints.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

double clampUnit(double v) {
  if (!(v >= 0.0)) return 0.0;  // also catches NaN
  return v > 1.0 ? 1.0 : v;
}

std::vector<std::string> splitSkipEmpty(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

constexpr int kMaxFieldDigits = 18;  // 10^18 fits int64; larger fields are clamped anyway

// A decimal field; anything that is not plain digits counts as 0.
int64_t decimalField(const std::string& s) {
  if (s.empty()) return 0;
  int64_t v = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    if (static_cast<int>(i) < kMaxFieldDigits) v = v * 10 + (s[i] - '0');
  }
  return v;
}

double fractionField(const std::string& s) {
  if (s.empty()) return 0.0;
  for (char c : s)
    if (c < '0' || c > '9') return 0.0;
  return std::strtod(s.c_str(), nullptr) / std::pow(10.0, static_cast<double>(s.size()));
}

}  // namespace

void EditPoints::reset() {
  inPoint = fadeInEnd = 0.0;
  outPoint = fadeOutStart = 1.0;
  cursor = 0.0;
  gain = 1.0;
  levelZoom = 1.0;
}

void EditPoints::settle() {
  fadeInEnd = inPoint;
  fadeOutStart = outPoint;
  gain = 1.0;
}

void EditPoints::arrangeInPoint(double p) {
  p = clampUnit(p);
  if (p > outPoint) {
    outPoint = std::min(1.0, p + (outPoint - inPoint));
    fadeOutStart = outPoint;
  }
  inPoint = fadeInEnd = p;
  settle();
}

void EditPoints::arrangeOutPoint(double p) {
  p = clampUnit(p);
  if (p < inPoint) {
    inPoint = std::max(0.0, p - (outPoint - inPoint));
    fadeInEnd = inPoint;
  }
  outPoint = fadeOutStart = p;
  settle();
}

bool EditPoints::valid() const {
  return 0.0 <= inPoint && inPoint <= fadeInEnd && fadeInEnd <= fadeOutStart &&
         fadeOutStart <= outPoint && outPoint <= 1.0;
}

int64_t fractionToFrames(uint64_t totalFrames, double fraction) {
  return static_cast<int64_t>(static_cast<double>(totalFrames) * fraction);
}

EditRange editRangeFrames(const EditPoints& points, uint64_t totalFrames) {
  EditRange r;
  r.inFrames = fractionToFrames(totalFrames, points.inPoint);
  r.fadeInFrames = fractionToFrames(totalFrames, points.fadeInEnd - points.inPoint);
  r.fadeOutFrames = fractionToFrames(totalFrames, points.outPoint - points.fadeOutStart);
  r.outFrames = fractionToFrames(totalFrames, points.outPoint);
  r.gain = points.gain;
  return r;
}

std::optional<uint64_t> parseTimeCounter(const std::string& text, uint32_t rate,
                                         uint64_t totalFrames) {
  if (text.empty()) return std::nullopt;
  // The whole part ends at the first "."; keeping an empty whole part makes
  // ".5" half a second rather than five seconds.
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  double fraction = 0.0;
  if (dot != std::string::npos) {
    const size_t next = text.find('.', dot + 1);
    fraction =
        fractionField(text.substr(dot + 1, next == std::string::npos ? next : next - dot - 1));
  }
  const std::vector<std::string> f = splitSkipEmpty(whole, ':');
  const size_t n = f.size();
  const int64_t hours = n >= 3 ? decimalField(f[n - 3]) : 0;
  const int64_t minutes = n >= 2 ? decimalField(f[n - 2]) : 0;
  const int64_t seconds = n >= 1 ? decimalField(f[n - 1]) : 0;
  // 128-bit so that absurd typed values clamp instead of wrapping.
  const __int128 secs = static_cast<__int128>(seconds) +
                        (static_cast<__int128>(minutes) + static_cast<__int128>(hours) * 60) * 60;
  const __int128 frames =
      secs * rate +
      static_cast<__int128>(static_cast<int64_t>(static_cast<double>(rate) * fraction));
  if (totalFrames == 0) return 0;
  if (frames >= static_cast<__int128>(totalFrames)) return totalFrames - 1;
  return static_cast<uint64_t>(frames);
}
