// The output row's model without Qt: the play-rate labels and codes, the
// rates an open device accepts, the choice of the play rate for a file and a
// device, and the words the program shows for a playback that failed.
// Used on the GUI thread by the device manager.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace playrates {

constexpr const char* kAuto = "AUTO";
constexpr const char* kOffline = "(offline)";
constexpr const char* kNoDevice = "(No Device)";
constexpr const char* kSelectDevice = "(Select Device...)";
constexpr int kDefaultRate = 44100;

struct Rate {
  int hz = kDefaultRate;
  int code = 0;
};

// "44.1kHz" .. "11.2MHz" for the rates of the table, empty otherwise.
std::string labelFor(int hz);
// The label's rate; the DoP spellings name the plain DSD rates. False for any
// other text ("AUTO", "(offline)", "").
[[nodiscard]] bool rateForLabel(const std::string& label, Rate* out);
// The rate code of a rate of the table, -1 otherwise.
[[nodiscard]] int codeFor(int hz);

// Mask bit i: rate code i plays; only codes 0..7 and 16..18 have labels.
std::vector<int> ratesFromMask(uint32_t mask);

// Placeholder entry of the device list.
inline const char* devicePlaceholder(int deviceCount) {
  return deviceCount > 0 ? kSelectDevice : kNoDevice;
}

// Playback failure text for a job status; empty when nothing is shown
// (success, a user stop, nothing left to play).
std::string failureText(int status);

// What the play-rate combo, the file and the device decide.
class PlayRateModel {
 public:
  const Rate& rate() const { return m_rate; }
  bool autoRate() const { return m_auto; }
  const std::vector<int>& supportedRates() const { return m_supported; }
  void setSupportedRates(std::vector<int> rates);

  // The combo's text: a label fixes the rate, "(offline)" changes nothing,
  // anything else follows the file (fileRate 0: none open).
  void select(const std::string& comboText, uint32_t fileRate);
  // The first supported rate of the family at or below the play rate,
  // halving; without a match the family's base rate (which the device may
  // not offer).
  void fit();
  // After fit: a device that offers none of the family plays the offered
  // rate nearest to the wanted one instead of failing to open.
  void fitToOffered();
  // AUTO follows a newly opened file.
  void followFile(uint32_t fileRate);
  void setRate(int hz);

 private:
  Rate m_rate;
  bool m_auto = false;
  std::vector<int> m_supported;
};

}  // namespace playrates
