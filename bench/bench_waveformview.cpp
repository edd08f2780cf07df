// Waveform view under load: summarises a large DSD file in the background
// and reports how the GUI thread fares meanwhile (largest gap between ticks
// of a 5 ms timer), how the envelope grows, and what each repaint kind costs.
//
//   bench_waveformview [file.dsf] [--make-mb N] [--seconds S]
//
// Without a file it writes a DSF of N MiB (default 2048) to the temp folder:
// a 1102.5 Hz tone whose level swells and falls every 40 s. Run under a
// display (xvfb-run) with libsonvex.so beside the program.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QScrollBar>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "trackgraphic.h"
#include "waveformcontroller.h"

namespace {

constexpr uint32_t kRate = 2822400;
constexpr int kPeriodBits = 2560;  // one period of 1102.5 Hz at 2.8224 MHz
constexpr int kLevels = 16;

void put64(std::vector<uint8_t>& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// One tone period per level through a second-order delta-sigma loop, bytes
// least significant bit first as DSF stores them.
std::vector<std::vector<uint8_t>> tonePeriods() {
  std::vector<std::vector<uint8_t>> out(kLevels, std::vector<uint8_t>(kPeriodBits / 8));
  for (int l = 0; l < kLevels; ++l) {
    const double a = 0.5 * double(l) / (kLevels - 1);
    double i1 = 0, i2 = 0, y = 0;
    for (int pass = 0; pass < 4; ++pass) {  // settle, keep the last period
      for (int n = 0; n < kPeriodBits; ++n) {
        const double x = a * std::sin(2.0 * M_PI * n / kPeriodBits);
        i1 += x - y;
        i2 += i1 - y;
        const int bit = i2 >= 0.0;
        y = bit ? 1.0 : -1.0;
        if (pass == 3) {
          uint8_t& byte = out[size_t(l)][size_t(n / 8)];
          if (n % 8 == 0) byte = 0;
          if (bit) byte |= uint8_t(1u << (n % 8));
        }
      }
    }
  }
  return out;
}

bool makeDsf(const QString& path, uint64_t mib) {
  const uint64_t blockBytes = 4096;
  const uint64_t blocks = (mib << 20) / (2 * blockBytes);
  const uint64_t dataBytes = blocks * 2 * blockBytes;
  std::vector<uint8_t> h;
  h.insert(h.end(), {'D', 'S', 'D', ' '});
  put64(h, 28);
  put64(h, 28 + 52 + 12 + dataBytes);
  put64(h, 0);
  h.insert(h.end(), {'f', 'm', 't', ' '});
  put64(h, 52);
  put32(h, 1);  // version
  put32(h, 0);  // raw DSD
  put32(h, 2);  // stereo
  put32(h, 2);
  put32(h, kRate);
  put32(h, 1);
  put64(h, blocks * blockBytes * 8);  // samples per channel
  put32(h, uint32_t(blockBytes));
  put32(h, 0);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put64(h, 12 + dataBytes);
  FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (!f) return false;
  std::fwrite(h.data(), 1, h.size(), f);
  const auto periods = tonePeriods();
  const size_t periodBytes = kPeriodBits / 8;
  const uint64_t bytesPerSecond = kRate / 8;
  std::vector<uint8_t> chunk;
  chunk.reserve(1 << 22);
  uint64_t pos = 0;  // byte position within each channel
  for (uint64_t b = 0; b < blocks; ++b) {
    for (int ch = 0; ch < 2; ++ch) {
      for (uint64_t k = 0; k < blockBytes; ++k) {
        const uint64_t p = pos + k;
        const double t = double(p) / bytesPerSecond;
        double env = 0.5 - 0.5 * std::cos(2.0 * M_PI * t / (ch ? 40.0 : 27.0));
        const int level = std::min(kLevels - 1, int(env * kLevels));
        chunk.push_back(periods[size_t(level)][p % periodBytes]);
      }
    }
    pos += blockBytes;
    if (chunk.size() >= (1u << 22) || b + 1 == blocks) {
      if (std::fwrite(chunk.data(), 1, chunk.size(), f) != chunk.size()) {
        std::fclose(f);
        return false;
      }
      chunk.clear();
    }
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString path;
  uint64_t makeMib = 2048;
  int seconds = 60;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--make-mb") && i + 1 < argc)
      makeMib = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
      seconds = std::atoi(argv[++i]);
    else
      path = QString::fromLocal8Bit(argv[i]);
  }
  bool made = false;
  if (path.isEmpty()) {
    path = QDir::temp().filePath(QStringLiteral("bench_waveformview.dsf"));
    QElapsedTimer t;
    t.start();
    if (!makeDsf(path, makeMib)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
    made = true;
    std::printf("wrote %llu MiB DSF in %.1f s\n", (unsigned long long)makeMib, t.elapsed() / 1e3);
  }
  QLibrary lib(QCoreApplication::applicationDirPath() + QStringLiteral("/libsonvex.so"));
  auto fn = reinterpret_cast<GetAudioWaveFormFn>(lib.resolve("getAudioWaveForm"));
  if (!fn) {
    std::fprintf(stderr, "libsonvex.so or getAudioWaveForm missing\n");
    return 1;
  }

  trackGraphic view;
  QScrollBar bar(Qt::Horizontal);
  view.show();
  WaveformController ctl(&view, &bar);
  ctl.setSummaryFunction(fn);
  view.setFileLoaded(true);
  ctl.resetForFile(path, 2, false);

  // GUI latency: the largest gap between ticks of a 5 ms timer.
  QElapsedTimer clock;
  qint64 last = 0, worstGap = 0;
  QTimer tick;
  tick.setInterval(5);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    worstGap = std::max(worstGap, now - last);
    last = now;
  });
  QTimer report;
  report.setInterval(5000);
  qint64 started = 0;
  QObject::connect(&report, &QTimer::timeout, [&] {
    std::printf("%6.1f s  coarse entries done %8lld of %lld  worst GUI gap %lld ms\n",
                (clock.elapsed() - started) / 1e3, (long long)ctl.thread().progress(),
                (long long)ctl.buffers().plan().columns[0], (long long)worstGap);
    std::fflush(stdout);
    worstGap = 0;
  });
  QTimer stop;
  stop.setSingleShot(true);
  QObject::connect(&stop, &QTimer::timeout, &app, &QApplication::quit);
  QTimer done;
  done.setInterval(50);
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (ctl.summaryReady() || (!ctl.summaryInProgress() && clock.elapsed() - started > 1000))
      app.quit();
  });
  clock.start();
  started = clock.elapsed();
  ctl.startWaveformSummary();
  tick.start();
  report.start();
  done.start();
  stop.start(seconds * 1000);
  app.exec();
  const double summarySeconds = (clock.elapsed() - started) / 1e3;
  std::printf("summary %s after %.1f s (%lld coarse entries)\n",
              ctl.summaryReady() ? "ready" : "still running", summarySeconds,
              (long long)ctl.thread().progress());

  // Repaint costs at zoom 1 with everything drawn so far.
  auto timePaints = [&](const char* what, auto&& change) {
    const int n = 50;
    QElapsedTimer t;
    t.start();
    int64_t columns = 0;
    for (int i = 0; i < n; ++i) {
      change(i);
      view.updateGL();
      columns += view.lastPaintColumns();
    }
    std::printf("%-28s %7.2f ms per paint, %lld columns per paint\n", what,
                t.nsecsElapsed() / 1e6 / n, (long long)(columns / n));
  };
  timePaints("cursor move (kind 1)", [&](int i) { view.setCursorViewX(i / 50.0); });
  timePaints("marker edit (overlay)", [&](int i) { view.arrangeInPoint(i / 100.0); });
  timePaints("full redraw (kind 0)", [&](int) { ctl.showColumns(0, false); });
  ctl.shutdown();
  if (made) QFile::remove(path);
  return 0;
}
