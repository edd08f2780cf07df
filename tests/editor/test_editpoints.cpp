// Edit points, time texts, the time counter's parsing and the zoom/scroll
// arithmetic of the waveform view, all without a display.
#include <QtTest>
#include <random>

#include "editpoints.h"
#include "timeformat.h"
#include "waveformmodel.h"

using namespace waveview;

class TestEditPoints : public QObject {
  Q_OBJECT

 private slots:
  void timeTexts();
  void counterParsing();
  void counterClampsAbsurdInput();
  void framesTruncate();
  void inButtonMovesRegionRight();
  void outButtonMovesRegionLeft();
  void zoomAtFileEnds();
  void zoomLevelsAndLimits();
  void scrollBarRoundTrip();
  void followKeepsLastWindow();
  void levelZoomLimits();
  void columnPlanRepaintsNewest32nd();
  void mouseEditsKeepInvariant();
  void crossingTurnsIntoOtherDrag();
  void envelopeMatchesNaiveReduction();
  void shadingRunsCentreToPeak();
};

void TestEditPoints::timeTexts() {
  QCOMPARE(formatTime(48000ull * 3723 + 24000, 48000), QStringLiteral("01:02:03.50"));
  QCOMPARE(formatTime(44100ull * 3600 * 100, 44100), QStringLiteral("100:00:00.00"));
  // In = out spans one frame: below a hundredth at any rate above 100 Hz.
  QCOMPARE(formatTime(1, 44100), QStringLiteral("00:00:00.00"));
  QCOMPARE(formatTime(2822400ull * 59 + 2822399, 2822400), QStringLiteral("00:00:59.99"));
}

void TestEditPoints::counterParsing() {
  const uint32_t rate = 48000;
  const uint64_t total = 48000ull * 4000;
  QCOMPARE(*parseTimeCounter(".5", rate, total), 24000ull);
  QCOMPARE(*parseTimeCounter("1.25", rate, total), 60000ull);
  QCOMPARE(*parseTimeCounter("0.05", rate, total), 2400ull);
  QCOMPARE(*parseTimeCounter("5", rate, total), 5ull * rate);
  QCOMPARE(*parseTimeCounter("1:5", rate, total), 65ull * rate);
  QCOMPARE(*parseTimeCounter("1:0:0", rate, total), 3600ull * rate);
  QCOMPARE(*parseTimeCounter("01:02:03.50", rate, total), 48000ull * 3723 + 24000);
  // Empty fields between separators are dropped.
  QCOMPARE(*parseTimeCounter("1::5", rate, total), 65ull * rate);
  // 99:99:99 is accepted as written (362439 s) ...
  QCOMPARE(*parseTimeCounter("99:99:99", rate, 48000ull * 400000), 362439ull * rate);
  // ... and clamped to the last frame when the file is shorter.
  QCOMPARE(*parseTimeCounter("99:99:99", rate, total), total - 1);
  QVERIFY(!parseTimeCounter("", rate, total).has_value());
}

void TestEditPoints::counterClampsAbsurdInput() {
  const uint64_t total = 1000;
  QCOMPARE(*parseTimeCounter("99999999999999999999999:0:0", 384000, total), total - 1);
  QCOMPARE(*parseTimeCounter("0.999", 48000, 1u << 20), 47952ull);
  QCOMPARE(*parseTimeCounter("3", 48000, 0), 0ull);  // no file: nowhere to go
}

void TestEditPoints::framesTruncate() {
  QCOMPARE(fractionToFrames(10, 0.99), int64_t{9});
  QCOMPARE(fractionToFrames(3, 1.0 / 3.0), int64_t{1});
  EditPoints p;
  p.arrangeInPoint(0.25);
  p.arrangeOutPoint(0.75);
  const EditRange r = editRangeFrames(p, 1001);
  QCOMPARE(r.inFrames, int64_t{250});
  QCOMPARE(r.outFrames, int64_t{750});
  QCOMPARE(r.fadeInFrames, int64_t{0});
  QCOMPARE(r.fadeOutFrames, int64_t{0});
  QCOMPARE(r.gain, 1.0);
}

void TestEditPoints::inButtonMovesRegionRight() {
  EditPoints p;
  p.arrangeOutPoint(0.4);
  p.arrangeInPoint(0.2);
  p.arrangeInPoint(0.7);  // beyond out: keeps the 0.2 length
  QCOMPARE(p.inPoint, 0.7);
  QVERIFY(qFuzzyCompare(p.outPoint, 0.9));
  QVERIFY(p.valid());
  p.arrangeInPoint(0.95);  // the out point stops at 1.0
  QCOMPARE(p.inPoint, 0.95);
  QCOMPARE(p.outPoint, 1.0);
  QCOMPARE(p.fadeOutStart, 1.0);
  QVERIFY(p.valid());
  p.arrangeInPoint(0.5);  // before out: only the in point moves
  QCOMPARE(p.inPoint, 0.5);
  QCOMPARE(p.outPoint, 1.0);
}

void TestEditPoints::outButtonMovesRegionLeft() {
  EditPoints p;
  p.arrangeInPoint(0.5);
  p.arrangeOutPoint(0.8);
  p.arrangeOutPoint(0.35);  // before in: the region moves left by its length
  QCOMPARE(p.outPoint, 0.35);
  QVERIFY(qFuzzyCompare(p.inPoint, 0.05));
  p.arrangeOutPoint(0.01);  // would start before 0: stops at 0
  QCOMPARE(p.inPoint, 0.0);
  QCOMPARE(p.outPoint, 0.01);
  QVERIFY(p.valid());
  p.arrangeOutPoint(7.0);  // outside the file: clamped
  QCOMPARE(p.outPoint, 1.0);
  QVERIFY(p.valid());
}

void TestEditPoints::zoomAtFileEnds() {
  const ColumnPlan plan = ColumnPlan::forWidth(kViewWidth);
  TimeZoom z;
  z.zoomIn(0.0, plan);
  QCOMPARE(z.zoom, 2);
  QCOMPARE(z.offset, int64_t{0});
  QCOMPARE(placeCursor(double(z.levelColumns(plan)), 0.0, z.offset, z.zoom), 0.0);
  for (int i = 0; i < 5; ++i) z.zoomIn(1.0, plan);
  QCOMPARE(z.zoom, 64);
  const int64_t c = z.levelColumns(plan);
  // The last 1/z of the file: the window ends exactly at the last column.
  QCOMPARE(z.offset + z.visibleColumns(plan), c);
  QCOMPARE(placeCursor(double(c), 1.0, z.offset, z.zoom), 1.0);
  QCOMPARE(z.scrollValue, z.scrollMax);
}

void TestEditPoints::zoomLevelsAndLimits() {
  const ColumnPlan plan = ColumnPlan::forWidth(kViewWidth);
  QCOMPARE(plan.columns[kCoarse], int64_t{700 * 128});
  QCOMPARE(plan.columns[kFine], int64_t{700 * 8192});
  QCOMPARE(plan.entries[kMedium], int64_t{704 * 1024});
  TimeZoom z;
  QCOMPARE(z.scrollPage, 100 * 4096);
  z.zoomIn(0.5, plan);
  QCOMPARE(z.scrollPage, 100);  // (2 x 100) / 2 with the maximum before the change
  int seen = 0;
  while (z.zoom < kMaxTimeZoom) {
    z.zoomIn(0.5, plan);
    ++seen;
    // The window stays centred on the play position at every level.
    const double v = double(z.visibleColumns(plan));
    const double x = placeCursor(double(z.levelColumns(plan)), 0.5, z.offset, z.zoom);
    QVERIFY2(std::fabs(x - 0.5) <= 1.0 / v, qPrintable(QString::number(z.zoom)));
    QCOMPARE(z.scrollMax, std::max(8 * z.zoom, 100));
  }
  QCOMPARE(seen, 12);
  QCOMPARE(levelForZoom(128), int(kCoarse));
  QCOMPARE(levelForZoom(256), int(kMedium));
  QCOMPARE(levelForZoom(2048), int(kFine));
  // Every level keeps the number of visible columns within width x 128.
  QVERIFY(z.visibleColumns(plan) <= kViewWidth * 128);
  z.zoomIn(0.5, plan);
  QCOMPARE(z.zoom, kMaxTimeZoom);
  while (z.zoom > 1) z.zoomOut(0.5, plan);
  QCOMPARE(z.offset, int64_t{0});
  QCOMPARE(z.scrollValue, 0);
  QCOMPARE(z.scrollPage, 100 * 4096);
  z.zoomOut(0.5, plan);
  QCOMPARE(z.zoom, 1);
}

void TestEditPoints::scrollBarRoundTrip() {
  const ColumnPlan plan = ColumnPlan::forWidth(kViewWidth);
  TimeZoom z;
  for (int i = 0; i < 4; ++i) z.zoomIn(0.0, plan);  // z = 16
  const int64_t c = z.levelColumns(plan);
  const int64_t v = z.visibleColumns(plan);
  QCOMPARE(z.offsetForScroll(0, plan), int64_t{0});
  const int64_t last = z.offsetForScroll(z.scrollMax, plan);
  QVERIFY(std::llabs(last - (c - v)) <= 1);
  // A scroll bar position maps to an offset that maps back to it.
  for (int value : {1, 17, 64, 100, 127}) {
    z.offset = z.offsetForScroll(value, plan);
    TimeZoom back = z;
    back.follow(double(z.offset) / double(c), plan);
    QVERIFY2(std::abs(back.scrollValue - value) <= 1, qPrintable(QString::number(value)));
  }
}

void TestEditPoints::followKeepsLastWindow() {
  const ColumnPlan plan = ColumnPlan::forWidth(kViewWidth);
  TimeZoom z;
  for (int i = 0; i < 3; ++i) z.zoomIn(0.0, plan);  // z = 8
  z.follow(0.3, plan);
  QCOMPARE(z.offset, int64_t(0.3 * double(z.levelColumns(plan))));
  QCOMPARE(z.scrollPage, (2 * z.scrollMax) / 8);
  z.follow(0.99, plan);
  QCOMPARE(z.offset + z.visibleColumns(plan), z.levelColumns(plan));
}

void TestEditPoints::levelZoomLimits() {
  double zoom = 1.0;
  for (int i = 0; i < 10; ++i) zoom = zoomLevelIn(zoom);
  QCOMPARE(zoom, kMaxLevelZoom);
  for (int i = 0; i < 10; ++i) zoom = zoomLevelOut(zoom);
  QCOMPARE(zoom, 1.0);
}

void TestEditPoints::columnPlanRepaintsNewest32nd() {
  const ColumnPlan plan = ColumnPlan::forWidth(kViewWidth);
  const int64_t c = plan.columns[kCoarse];
  ColumnRange r = planColumns(plan, 1, 0, 50000, 49000);
  QCOMPARE(r.firstColumn, 50000 - c / 32);  // the newest 1/32 again
  r = planColumns(plan, 1, 0, 50000, 10000);
  QCOMPARE(r.firstColumn, int64_t{10000});  // not yet drawn at all
  r = planColumns(plan, 1, 0, 100, 0);
  QCOMPARE(r.firstColumn, int64_t{0});
  r = planColumns(plan, 4, c, c, c);  // an offset past the end is pulled back
  QCOMPARE(r.offset, c - c / 4);
  QCOMPARE(usableColumns(kMedium, 10), int64_t{80});
  QCOMPARE(usableColumns(kFine, 10), int64_t{640});
}

void TestEditPoints::mouseEditsKeepInvariant() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> px(-40.0, 740.0), py(-20.0, 200.0);
  const ViewGeometry g = ViewGeometry::forSize(kViewWidth, kViewHeight);
  ViewWindow w;
  w.levelColumns = 89600;
  w.visibleColumns = 89600 / 4;
  w.offset = 30000;
  EditPoints p;
  MouseEdit m;
  double cursorX = 0.0;
  for (int drag = 0; drag < 500; ++drag) {
    // Aim half of the presses at a handle so that drags happen.
    const double target = (drag % 2) ? p.inPoint : p.outPoint;
    const double hx = (w.xOf(target) - g.left) / (g.right - g.left) * g.width;
    const double hy = g.height - (0.5 - g.bottom) / (g.top - g.bottom) * g.height;
    if (drag % 4 < 2)
      m.press(p, g, w, 2, hx + 3.0, hy - 2.0, cursorX);
    else
      m.press(p, g, w, 2, px(rng), py(rng), cursorX);
    for (int k = 0; k < 8; ++k) {
      m.move(p, g, w, px(rng), py(rng), cursorX);
      QVERIFY(p.valid());
      QVERIFY(p.cursor >= 0.0 && p.cursor <= 1.0);
      QVERIFY(cursorX >= 0.0 && cursorX <= 1.0);
    }
    m.release();
    QCOMPARE(m.mode, int(kMouseNone));
  }
}

void TestEditPoints::crossingTurnsIntoOtherDrag() {
  const ViewGeometry g = ViewGeometry::forSize(kViewWidth, kViewHeight);
  ViewWindow w;  // whole file, one column per unit
  w.levelColumns = w.visibleColumns = 1000;
  EditPoints p;
  p.arrangeInPoint(0.2);
  p.arrangeOutPoint(0.4);
  const auto pixelX = [&](double f) { return (w.xOf(f) - g.left) / (g.right - g.left) * g.width; };
  const double handleY = g.height - (0.5 - g.bottom) / (g.top - g.bottom) * g.height;
  MouseEdit m;
  double cursorX = 0.0;
  QCOMPARE(m.press(p, g, w, 2, pixelX(0.2) + 9.0, handleY + 8.0, cursorX), int(kMouseIn));
  m.move(p, g, w, pixelX(0.6), handleY, cursorX);
  QVERIFY(m.crossed);
  QCOMPARE(m.mode, int(kMouseOut));
  QCOMPARE(p.inPoint, 0.4);
  QVERIFY(std::fabs(p.outPoint - 0.6) < 1e-9);
  m.move(p, g, w, pixelX(0.5), handleY, cursorX);  // now moves the out marker
  QCOMPARE(p.inPoint, 0.4);
  QVERIFY(std::fabs(p.outPoint - 0.5) < 1e-9);
  m.move(p, g, w, pixelX(0.1), handleY, cursorX);  // back across: an in drag again
  QCOMPARE(m.mode, int(kMouseIn));
  QVERIFY(std::fabs(p.inPoint - 0.1) < 1e-9);
  QCOMPARE(p.outPoint, 0.4);
  m.move(p, g, w, -30.0, handleY, cursorX);  // left of the view
  QCOMPARE(p.inPoint, 0.0);
  m.release();
  // 12 pixels off the handle's row is not a grab: the press locates.
  QCOMPARE(m.press(p, g, w, 2, pixelX(0.0), handleY - 12.0, cursorX), int(kMouseLocate));
  QCOMPARE(p.cursor, 0.0);
}

void TestEditPoints::envelopeMatchesNaiveReduction() {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> val(0.0, 0.8);
  std::vector<SummaryEntry> mx(20000), mn(20000);
  for (size_t i = 0; i < mx.size(); ++i) {
    mx[i] = {val(rng), val(rng)};
    mn[i] = {-val(rng), -val(rng)};
  }
  ViewWindow w;
  w.levelColumns = 20000;
  w.visibleColumns = 10000;
  w.offset = 5000;
  // A full draw and a draw in two parts cover the same slots.
  const auto all = envelopeSlots(mx.data(), mn.data(), w, 5000, 15000, 700);
  const auto head = envelopeSlots(mx.data(), mn.data(), w, 5000, 9001, 700);
  const auto tail = envelopeSlots(mx.data(), mn.data(), w, 9001, 15000, 700);
  QVERIFY(all.size() <= 1400);
  QCOMPARE(all.front().x0, 0.0);
  QCOMPARE(all.back().x1, 1.0);
  for (const EnvelopeSlot& s : all) {
    const int64_t a = 5000 + int64_t(std::llround(s.x0 * 10000));
    const int64_t b = 5000 + int64_t(std::llround(s.x1 * 10000));
    double l = 0, r = 0;
    for (int64_t i = a; i < b; ++i) {
      l = std::max(l, mx[i].left);
      r = std::min(r, mn[i].right);
    }
    QCOMPARE(s.max.left, l);
    QCOMPARE(s.min.right, r);
  }
  const EnvelopeSlot& joined = tail.front();  // restarts the slot the head ended in
  QCOMPARE(joined.x0, head.back().x0);
  const auto it = std::find_if(all.begin(), all.end(),
                               [&](const EnvelopeSlot& s) { return s.x0 == joined.x0; });
  QVERIFY(it != all.end());
  QCOMPARE(it->max.left, joined.max.left);
}

void TestEditPoints::shadingRunsCentreToPeak() {
  const Lane upper = laneFor(2, 0);
  const Lane lower = laneFor(2, 1);
  QCOMPARE(upper.centre, 0.75);
  QCOMPARE(lower.centre, 0.25);
  QCOMPARE(laneCount(1), 1);
  const Rgb c = shade(upper, 0.75);
  QCOMPARE(c.g, kCentreColour.g);
  const Rgb top = shade(upper, 0.9);
  QCOMPARE(top.g, kPeakColour.g);
  const Rgb beyond = shade(lower, 0.0);  // past the lower limit 0.1
  QCOMPARE(beyond.r, kPeakColour.r);
  const Rgb half = shade(lower, 0.175);  // half way down to the limit
  QVERIFY(std::fabs(half.g - (kCentreColour.g + kPeakColour.g) / 2) < 1e-12);
  // Full scale (0.8 from the library) at level zoom 64 stays in its lane.
  QCOMPARE(laneY(upper, 0.8, 64.0), 1.0);
  QCOMPARE(laneY(upper, -0.8, 64.0), 0.5 + double(kLaneGapPixels) / kViewHeight);
  QVERIFY(laneY(lower, 0.8, 64.0) < 0.5);
  QCOMPARE(laneY(laneFor(1, 0), 0.8, 1.0), 0.9);
}

QTEST_APPLESS_MAIN(TestEditPoints)
#include "test_editpoints.moc"
