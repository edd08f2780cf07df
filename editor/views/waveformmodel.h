// Arithmetic of the waveform view: summary levels, time and level zoom, the
// scroll bar, cursor placement, lanes and colours, and the marker/locate
// mouse rules. Plain C++ so that it tests without a display.
#pragma once

#include <cstdint>
#include <vector>

#include "editpoints.h"
#include "sonvex.h"

namespace waveview {

constexpr int kViewWidth = 700;
constexpr int kViewHeight = 180;
constexpr int kMaxTimeZoom = 8192;
constexpr double kMaxLevelZoom = 64.0;
constexpr int kLaneGapPixels = 4;  // between a stereo lane and the divider
constexpr int kLevels = 3;
enum Level { kCoarse = 0, kMedium = 1, kFine = 2 };

// One summary entry as the library writes it: left then right.
using SummaryEntry = ::WavePoint;

// Column counts of the three levels and the capacity of their buffers.
struct ColumnPlan {
  int64_t columns[kLevels];  // width x 128, x 1024, x 8192
  int64_t entries[kLevels];  // (width + 4) x 128, x 1024, x 8192
  static ColumnPlan forWidth(int width);
};

// z <= 128 coarse, 129..1024 medium, above fine.
[[nodiscard]] int levelForZoom(int zoom);
// Columns of a level covered by a coarse progress count.
[[nodiscard]] int64_t usableColumns(int level, int64_t coarseDone);

// Time zoom and the scroll bar that goes with it.
struct TimeZoom {
  int zoom = 1;
  int64_t offset = 0;  // first visible column of the current level
  int scrollMax = 100;
  int scrollPage = 100 * 4096;
  int scrollValue = 0;

  void reset();
  // Zoom in/out around the play position p (0..1); C is read from the plan.
  void zoomIn(double p, const ColumnPlan& plan);
  void zoomOut(double p, const ColumnPlan& plan);
  // Offset for a scroll bar value.
  [[nodiscard]] int64_t offsetForScroll(int value, const ColumnPlan& plan) const;
  // Playback left the visible range: start the view at p (or at 1 - 1/z).
  void follow(double p, const ColumnPlan& plan);
  [[nodiscard]] int64_t levelColumns(const ColumnPlan& plan) const;
  [[nodiscard]] int64_t visibleColumns(const ColumnPlan& plan) const;

 private:
  void moveTo(double p, const ColumnPlan& plan, int oldMax);
  void scrollToOffset(const ColumnPlan& plan);
};

[[nodiscard]] double zoomLevelIn(double levelZoom);
[[nodiscard]] double zoomLevelOut(double levelZoom);

// Play cursor in view units for a file fraction; inside the view when 0..1.
[[nodiscard]] double placeCursor(double levelColumns, double fraction, int64_t offset, int zoom);

// The window of one level that the view shows.
struct ViewWindow {
  double visibleColumns = 1.0;
  double levelColumns = 1.0;
  int64_t offset = 0;
  [[nodiscard]] double fractionAt(double vx) const;
  [[nodiscard]] double xOf(double fraction) const;
};

// What showColumns hands the view.
struct ColumnRange {
  int level = kCoarse;
  int64_t firstColumn = 0;  // first column to (re)draw
  int64_t usable = 0;       // columns of the level ready to read
  int64_t visible = 1;
  int64_t levelColumns = 1;
  int64_t offset = 0;
};
// Picks the window for zoom z starting at `offset`; `lastUsable` is the
// usable count of the previous call. The newest 1/32 of the level is drawn
// again on each refresh.
[[nodiscard]] ColumnRange planColumns(const ColumnPlan& plan, int zoom, int64_t offset,
                                      int64_t usable, int64_t lastUsable);

// Widget pixels to view units and the hit tolerances (10 pixels).
struct ViewGeometry {
  int width = kViewWidth;
  int height = kViewHeight;
  double tolX = 10.0 / kViewWidth;
  double tolY = 10.0 / kViewHeight;
  double left = -tolX, right = 1.0 + tolX;
  double bottom = -tolY, top = 1.0 + tolY + 10.0 / kViewHeight;
  static ViewGeometry forSize(int w, int h);
  // Pixel coordinates as Qt gives them (y grows downwards).
  [[nodiscard]] double viewX(double px) const;
  [[nodiscard]] double viewY(double py) const;
};

// Height at which the marker handles are drawn and grabbed: on the lane
// divider with two lanes, on the top edge with one lane (clear of the wave).
[[nodiscard]] double handleHeight(int channels);

enum MouseMode { kMouseNone = 0, kMouseIn = 1, kMouseOut = 4, kMouseLocate = 6 };

// Press/move/release rules for the markers and the play cursor.
struct MouseEdit {
  int mode = kMouseNone;
  bool crossed = false;

  // Returns the new mode: kMouseIn/kMouseOut when a handle was hit, else
  // kMouseLocate with points.cursor and cursorViewX set.
  int press(EditPoints& points, const ViewGeometry& g, const ViewWindow& w, int channels, double px,
            double py, double& cursorViewX);
  // True when something changed (the view then repaints and signals).
  bool move(EditPoints& points, const ViewGeometry& g, const ViewWindow& w, double px, double py,
            double& cursorViewX);
  void release();
};

// One lane of the drawing: a channel's centre, colour limits and scale.
struct Lane {
  double centre;
  double low;      // colour limit below the centre
  double high;     // colour limit above the centre
  double divisor;  // v is drawn at centre + levelZoom * v / divisor
  double clipLow;  // the lane's share of the view; values never leave it
  double clipHigh;
};
[[nodiscard]] int laneCount(int channels);
[[nodiscard]] Lane laneFor(int channels, int index);
[[nodiscard]] double laneY(const Lane& lane, double v, double levelZoom);

struct Rgb {
  double r, g, b;
};
constexpr Rgb kPeakColour{7 / 255.0, 118 / 255.0, 255 / 255.0};
constexpr Rgb kCentreColour{75 / 255.0, 186 / 255.0, 255 / 255.0};
constexpr Rgb kDividerColour{56 / 255.0, 63 / 255.0, 88 / 255.0};
// Colour at height y: centre colour at the lane centre to the peak colour at
// the limit; the peak colour beyond.
[[nodiscard]] Rgb shade(const Lane& lane, double y);

// A drawable stretch of the envelope: [x0, x1) in view units with the
// extremes of both channels over the columns it covers.
struct EnvelopeSlot {
  double x0, x1;
  SummaryEntry max, min;
};
// Reduces columns [from, to) of the window (absolute column indices, already
// limited to the ready ones) to at most about `slotsPerPixel` slots per pixel
// of a view `pixels` wide, aligned so that a later call for newer columns
// continues the same slots.
[[nodiscard]] std::vector<EnvelopeSlot> envelopeSlots(const SummaryEntry* maxCols,
                                                      const SummaryEntry* minCols,
                                                      const ViewWindow& w, int64_t from, int64_t to,
                                                      int pixels, int slotsPerPixel = 2);

}  // namespace waveview
