#include "playrates.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <string>

namespace playrates {

namespace {

struct Entry {
  const char* label;
  int hz;
  int code;
};

constexpr Entry kTable[] = {
    {"44.1kHz", 44100, 0},      {"48kHz", 48000, 1},          {"88.2kHz", 88200, 2},
    {"96kHz", 96000, 3},        {"176.4kHz", 176400, 4},      {"192kHz", 192000, 5},
    {"352.8kHz", 352800, 6},    {"384kHz", 384000, 7},        {"2.8MHz", 2822400, 16},
    {"5.6MHz", 5644800, 17},    {"11.2MHz", 11289600, 18},    {"2.8MHzDoP", 2822400, 16},
    {"5.6MHzDoP", 5644800, 17}, {"11.2MHzDoP", 11289600, 18},
};

}  // namespace

std::string labelFor(int hz) {
  for (const Entry& e : kTable)
    if (e.hz == hz) return e.label;
  return {};
}

bool rateForLabel(const std::string& label, Rate* out) {
  for (const Entry& e : kTable) {
    if (label == e.label) {
      if (out) *out = Rate{e.hz, e.code};
      return true;
    }
  }
  return false;
}

int codeFor(int hz) {
  for (const Entry& e : kTable)
    if (e.hz == hz) return e.code;
  return -1;
}

std::vector<int> ratesFromMask(uint32_t mask) {
  std::vector<int> rates;
  for (const Entry& e : kTable) {
    const bool plain = e.label[std::char_traits<char>::length(e.label) - 1] == 'z';
    if (plain && (mask >> e.code) & 1u) rates.push_back(e.hz);
  }
  return rates;
}

// Marked for translation: the device manager shows them through tr().
std::string failureText(int status) {
  if (status >= 0 || status == -255 || status == -254 || status == -30) return {};
  switch (status) {
    case -1:
      return QT_TRANSLATE_NOOP("DeviceManager", "Open file failed.");
    case -2:
      return QT_TRANSLATE_NOOP("DeviceManager", "File not opened.");
    case -3:
    case -26:
      return QT_TRANSLATE_NOOP("DeviceManager", "Export failed.");
    case -4:
    case -5:
    case -11:
    case -12:
    case -15:
    case -19:
    case -22:
    case -36:
    case -122:
      return QT_TRANSLATE_NOOP("DeviceManager", "Insufficient memory.");
    case -7:
    case -8:
    case -9:
    case -33:
    case -34:
    case -35:
      return QT_TRANSLATE_NOOP("DeviceManager", "Unsupported audio file.");
    case -10:
      return QT_TRANSLATE_NOOP("DeviceManager", "Create file failid.");
    case -13:
    case -14:
      return QT_TRANSLATE_NOOP("DeviceManager", "Read file failed.");
    case -16:
    case -17:
    case -18:
    case -20:
    case -21:
    case -23:
    case -24:
    case -25:
    case -27:
    case -32:
      return QT_TRANSLATE_NOOP("DeviceManager", "Convert format failed.");
    case -28:
    case -29:
      return QT_TRANSLATE_NOOP("DeviceManager", "Write file failed.");
    default:
      return QT_TRANSLATE_NOOP("DeviceManager", "Unexpected failure.");
  }
}

void PlayRateModel::setSupportedRates(std::vector<int> rates) { m_supported = std::move(rates); }

void PlayRateModel::setRate(int hz) {
  const int code = codeFor(hz);
  m_rate = code >= 0 ? Rate{hz, code} : Rate{};
}

void PlayRateModel::select(const std::string& comboText, uint32_t fileRate) {
  if (comboText == kOffline) return;
  Rate r;
  if (rateForLabel(comboText, &r)) {
    m_rate = r;
    m_auto = false;
    return;
  }
  m_auto = true;
  setRate(fileRate ? int(fileRate) : kDefaultRate);
}

void PlayRateModel::fit() {
  int r = m_rate.hz;
  for (; r >= kDefaultRate; r /= 2) {
    if (std::find(m_supported.begin(), m_supported.end(), r) != m_supported.end()) {
      setRate(r);
      return;
    }
  }
  setRate(2 * r);
}

void PlayRateModel::fitToOffered() {
  if (m_supported.empty() ||
      std::find(m_supported.begin(), m_supported.end(), m_rate.hz) != m_supported.end())
    return;
  const double want = std::log(double(m_rate.hz));
  int best = m_supported.front();
  for (int hz : m_supported)
    if (std::fabs(std::log(double(hz)) - want) < std::fabs(std::log(double(best)) - want))
      best = hz;
  setRate(best);
}

void PlayRateModel::followFile(uint32_t fileRate) {
  if (m_auto && codeFor(int(fileRate)) >= 0) m_rate = Rate{int(fileRate), codeFor(int(fileRate))};
}

}  // namespace playrates
