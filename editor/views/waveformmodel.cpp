#include "waveformmodel.h"

#include <algorithm>
#include <cmath>

namespace waveview {

namespace {

constexpr int64_t kLevelFactor[kLevels] = {128, 1024, 8192};
// One coarse entry covers 8 medium and 64 fine columns.
constexpr int64_t kPerCoarse[kLevels] = {1, 8, 64};

double clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

}  // namespace

ColumnPlan ColumnPlan::forWidth(int width) {
  ColumnPlan p{};
  for (int l = 0; l < kLevels; ++l) {
    p.columns[l] = static_cast<int64_t>(width) * kLevelFactor[l];
    p.entries[l] = static_cast<int64_t>(width + 4) * kLevelFactor[l];
  }
  return p;
}

int levelForZoom(int zoom) {
  if (zoom <= 128) return kCoarse;
  if (zoom <= 1024) return kMedium;
  return kFine;
}

int64_t usableColumns(int level, int64_t coarseDone) {
  return coarseDone <= 0 ? 0 : coarseDone * kPerCoarse[level];
}

void TimeZoom::reset() { *this = TimeZoom(); }

int64_t TimeZoom::levelColumns(const ColumnPlan& plan) const {
  return plan.columns[levelForZoom(zoom)];
}

int64_t TimeZoom::visibleColumns(const ColumnPlan& plan) const { return levelColumns(plan) / zoom; }

void TimeZoom::zoomIn(double p, const ColumnPlan& plan) {
  const int oldMax = scrollMax;
  if (zoom < kMaxTimeZoom) zoom *= 2;
  moveTo(p, plan, oldMax);
}

void TimeZoom::zoomOut(double p, const ColumnPlan& plan) {
  const int oldMax = scrollMax;
  if (zoom > 1) zoom /= 2;
  moveTo(p, plan, oldMax);
}

void TimeZoom::moveTo(double p, const ColumnPlan& plan, int oldMax) {
  const double span = 1.0 / zoom;
  double start = p - span / 2.0;
  if (start < 0.0)
    start = 0.0;
  else if (start + span > 1.0)
    start = 1.0 - span;
  offset = static_cast<int64_t>(static_cast<double>(levelColumns(plan)) * start);
  scrollPage = (2 * oldMax) / zoom;
  scrollMax = std::max(8 * zoom, 100);
  if (zoom == 1) scrollPage = scrollMax * 4096;
  scrollToOffset(plan);
}

void TimeZoom::scrollToOffset(const ColumnPlan& plan) {
  if (zoom == 1) {
    scrollValue = 0;
    return;
  }
  const int64_t c = levelColumns(plan);
  const int64_t part = static_cast<int64_t>(scrollMax) * offset / c;
  scrollValue = static_cast<int>(static_cast<double>(part) / (1.0 - 1.0 / zoom));
  scrollValue = std::clamp(scrollValue, 0, scrollMax);
}

int64_t TimeZoom::offsetForScroll(int value, const ColumnPlan& plan) const {
  const int64_t c = levelColumns(plan);
  const int64_t part = static_cast<int64_t>(value) * c / std::max(scrollMax, 1);
  return static_cast<int64_t>((1.0 - 1.0 / zoom) * static_cast<double>(part));
}

void TimeZoom::follow(double p, const ColumnPlan& plan) {
  double start = clamp01(p);
  if (start > 1.0 - 1.0 / zoom) start = 1.0 - 1.0 / zoom;
  offset = static_cast<int64_t>(static_cast<double>(levelColumns(plan)) * start);
  scrollPage = (2 * scrollMax) / zoom;
  scrollToOffset(plan);
}

double zoomLevelIn(double levelZoom) {
  return levelZoom < kMaxLevelZoom ? levelZoom * 2.0 : levelZoom;
}

double zoomLevelOut(double levelZoom) { return levelZoom > 1.0 ? levelZoom / 2.0 : levelZoom; }

double placeCursor(double levelColumns, double fraction, int64_t offset, int zoom) {
  return (levelColumns * fraction - static_cast<double>(offset)) / (levelColumns / zoom);
}

double ViewWindow::fractionAt(double vx) const {
  return (visibleColumns * vx + static_cast<double>(offset)) / levelColumns;
}

double ViewWindow::xOf(double fraction) const {
  return (fraction * levelColumns - static_cast<double>(offset)) / visibleColumns;
}

ColumnRange planColumns(const ColumnPlan& plan, int zoom, int64_t offset, int64_t usable,
                        int64_t lastUsable) {
  ColumnRange r;
  r.level = levelForZoom(zoom);
  r.levelColumns = plan.columns[r.level];
  r.usable = std::clamp<int64_t>(usable, 0, r.levelColumns);
  r.firstColumn = std::max<int64_t>(0, std::min(lastUsable, r.usable - r.levelColumns / 32));
  r.visible = std::max<int64_t>(1, r.levelColumns / zoom);
  r.offset = std::max<int64_t>(0, offset);
  if (r.offset + r.visible > r.levelColumns) r.offset = r.levelColumns - r.visible;
  return r;
}

ViewGeometry ViewGeometry::forSize(int w, int h) {
  ViewGeometry g;
  g.width = std::max(w, 1);
  g.height = std::max(h, 1);
  g.tolX = 10.0 / g.width;
  g.tolY = 10.0 / g.height;
  g.left = -g.tolX;
  g.right = 1.0 + g.tolX;
  g.bottom = -g.tolY;
  g.top = 1.0 + g.tolY + 10.0 / g.height;
  return g;
}

double ViewGeometry::viewX(double px) const { return px / width * (right - left) + left; }

double ViewGeometry::viewY(double py) const {
  return (height - py) / height * (top - bottom) + bottom;
}

double handleHeight(int channels) { return channels == 1 ? 1.0 : 0.5; }

int MouseEdit::press(EditPoints& points, const ViewGeometry& g, const ViewWindow& w, int channels,
                     double px, double py, double& cursorViewX) {
  const double vx = g.viewX(px);
  const double vy = g.viewY(py);
  const double hy = handleHeight(channels);
  const bool onHandleRow = std::fabs(vy - hy) <= g.tolY;
  crossed = false;
  if (onHandleRow && std::fabs(vx - w.xOf(points.inPoint)) <= g.tolX) {
    mode = kMouseIn;
  } else if (onHandleRow && std::fabs(vx - w.xOf(points.outPoint)) <= g.tolX) {
    mode = kMouseOut;
  } else {
    // The fraction follows the clamped x so that cursor and position agree
    // when the view is scrolled.
    const double x = clamp01(vx);
    points.cursor = clamp01(w.fractionAt(x));
    cursorViewX = x;
    mode = kMouseLocate;
  }
  return mode;
}

bool MouseEdit::move(EditPoints& points, const ViewGeometry& g, const ViewWindow& w, double px,
                     double /*py*/, double& cursorViewX) {
  const double vx = g.viewX(px);
  const double f = w.fractionAt(vx);
  switch (mode) {
    case kMouseIn:
      if (f <= 0.0) {
        points.inPoint = 0.0;
      } else if (f >= points.outPoint) {
        crossed = true;
        mode = kMouseOut;
        points.inPoint = points.outPoint;
        points.outPoint = std::min(f, 1.0);
      } else {
        points.inPoint = f;
      }
      break;
    case kMouseOut:
      if (f < points.inPoint) {
        crossed = true;
        mode = kMouseIn;
        points.outPoint = points.inPoint;
        points.inPoint = std::max(f, 0.0);
      } else {
        points.outPoint = std::min(f, 1.0);
      }
      break;
    case kMouseLocate: {
      const double x = clamp01(vx);
      points.cursor = clamp01(w.fractionAt(x));
      cursorViewX = x;
      break;
    }
    default:
      return false;
  }
  points.settle();
  return true;
}

void MouseEdit::release() {
  mode = kMouseNone;
  crossed = false;
}

int laneCount(int channels) { return channels == 1 ? 1 : 2; }

Lane laneFor(int channels, int index) {
  if (channels == 1) return Lane{0.5, 0.1, 0.9, 2.0, 0.0, 1.0};
  // Zoomed channels stop short of the divider, so the two lanes never merge
  // into one block.
  constexpr double gap = kLaneGapPixels / double(kViewHeight);
  if (index == 0) return Lane{0.75, 0.6, 0.9, 4.0, 0.5 + gap, 1.0};
  return Lane{0.25, 0.1, 0.4, 4.0, 0.0, 0.5 - gap};
}

double laneY(const Lane& lane, double v, double levelZoom) {
  return std::clamp(lane.centre + levelZoom * v / lane.divisor, lane.clipLow, lane.clipHigh);
}

Rgb shade(const Lane& lane, double y) {
  const double limit = y >= lane.centre ? lane.high : lane.low;
  const double t = std::clamp((y - lane.centre) / (limit - lane.centre), 0.0, 1.0);
  return Rgb{kCentreColour.r - t * (kCentreColour.r - kPeakColour.r),
             kCentreColour.g - t * (kCentreColour.g - kPeakColour.g),
             kCentreColour.b - t * (kCentreColour.b - kPeakColour.b)};
}

std::vector<EnvelopeSlot> envelopeSlots(const SummaryEntry* maxCols, const SummaryEntry* minCols,
                                        const ViewWindow& w, int64_t from, int64_t to, int pixels,
                                        int slotsPerPixel) {
  std::vector<EnvelopeSlot> out;
  if (!maxCols || !minCols || to <= from || w.visibleColumns <= 0.0) return out;
  const int64_t visible = static_cast<int64_t>(w.visibleColumns);
  const int64_t slots = std::max<int64_t>(1, static_cast<int64_t>(pixels) * slotsPerPixel);
  const int64_t perSlot = std::max<int64_t>(1, (visible + slots - 1) / slots);
  const int64_t rel = std::max<int64_t>(0, from - w.offset);
  int64_t i = w.offset + (rel / perSlot) * perSlot;
  out.reserve(static_cast<size_t>((to - i) / perSlot + 1));
  for (; i < to; i += perSlot) {
    const int64_t end = std::min(i + perSlot, to);
    EnvelopeSlot s{static_cast<double>(i - w.offset) / w.visibleColumns,
                   static_cast<double>(end - w.offset) / w.visibleColumns, maxCols[i], minCols[i]};
    for (int64_t j = i + 1; j < end; ++j) {
      s.max.left = std::max(s.max.left, maxCols[j].left);
      s.max.right = std::max(s.max.right, maxCols[j].right);
      s.min.left = std::min(s.min.left, minCols[j].left);
      s.min.right = std::min(s.min.right, minCols[j].right);
    }
    out.push_back(s);
  }
  return out;
}

}  // namespace waveview
