// The marked region of the open file and the time counter's text parsing.
// Plain C++: no Qt, so the rules test without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Positions are fractions 0..1 of the whole file. Every operation keeps
// 0 <= inPoint <= fadeInEnd <= fadeOutStart <= outPoint <= 1.
struct EditPoints {
  double inPoint = 0.0;
  double outPoint = 1.0;
  double fadeInEnd = 0.0;
  double fadeOutStart = 1.0;
  double cursor = 0.0;
  double gain = 1.0;
  double levelZoom = 1.0;

  // State after opening a file: whole file marked, no fades, unity gain.
  void reset();
  // Ends every edit of the points: no fades, unity gain.
  void settle();
  // IN button: set the in point; a point beyond the out point moves the
  // whole region right, keeping its length, stopped at 1.0.
  void arrangeInPoint(double p);
  // OUT button: set the out point; a point before the in point moves the
  // whole region left, stopped at 0.0.
  void arrangeOutPoint(double p);
  [[nodiscard]] bool valid() const;
};

// Frame numbers of a fraction: the double product truncated toward zero.
[[nodiscard]] int64_t fractionToFrames(uint64_t totalFrames, double fraction);

// The region in frames, as the export takes it.
struct EditRange {
  int64_t inFrames = 0;
  int64_t fadeInFrames = 0;
  int64_t fadeOutFrames = 0;
  int64_t outFrames = 0;
  double gain = 1.0;
};
[[nodiscard]] EditRange editRangeFrames(const EditPoints& points, uint64_t totalFrames);

// Time counter text: "[[h:]m:]s[.frac]". Fields that are not numbers count
// as 0; a position beyond the file is clamped to the last frame. Returns
// nothing for an empty text (the counter then restores the old position).
[[nodiscard]] std::optional<uint64_t> parseTimeCounter(const std::string& text, uint32_t rate,
                                                       uint64_t totalFrames);
