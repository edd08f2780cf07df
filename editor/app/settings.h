// The per-user settings file "lumaraEditor.txt": a sequence of "//Key" lines,
// each followed by a fixed number of value lines, read strictly by position.
// Read once at start and written once at exit by the main window.
#pragma once

#include <QString>

class QIODevice;
struct EqSettings;

struct EqBandSetting {
  bool on = false;
  double frequency = 100.0;
  double q = 0.9;
  double gainDb = 0.0;
  int type = 0;
};

struct AppSettings {
  double monitorVolumeDb = 0.0;  // -300 stands for minus infinity
  int driverType = 0;            // 0 ASIO, 1 WASAPI
  QString audioDevice;
  QString playFreq;
  EqBandSetting eq[4];    // EQ1..EQ4 as the EQ dialog numbers them
  bool eqMaster = false;  // written as it stands, never restored on
  double eqTotalGainDb = 0.0;
  bool postFader = false;
  bool neverShowFirstInfo = false;
  int bounceFormat = 0;
  int bounceFreq = 1;
  int bounceBit = 1;
  bool applyShortFade = true;
  bool overHolds2sec = true;  // false: holds until clicked
  bool oscillatorMode = false;
  int dsdGainDb = 0;    // DSD sources going to PCM: 0, -3 or -6
  bool dither = false;  // TPDF dither on 16- and 24-bit exports
  // The precision DSD modulator for exports and for playback re-modulation.
  bool precisionExport = false;
  bool precisionPlayback = false;
  int flacLevel = 5;  // FLAC exports and combines: 0 (fastest) .. 8 (smallest)
};

// The values every run starts from before the file is read.
const AppSettings& settingsDefaults();

// Reads the entries of `in` over `s` (which the caller set to the defaults).
void parseSettings(QIODevice& in, AppSettings& s);
// The whole file text: 22 entries in their fixed order, LF line ends.
QByteArray formatSettings(const AppSettings& s);

// Defaults, then the file if it can be opened; a missing file is no error.
AppSettings loadSettingsFile(const QString& path);
// Replaces the file; returns false (silently for the user) when it cannot be
// created.
bool saveSettingsFile(const QString& path, const AppSettings& s);

// "<per-user data directory>/lumaraEditor.txt"; creates the directory.
QString settingsFilePath();
// The path rule on its own, for any data location.
QString settingsFilePathFor(const QString& dataLocation);

// The file numbers bands from the dialog's EQ1; the block stores EQ1 last.
void applyEqSettings(const AppSettings& s, EqSettings* eq, double sampleRate);
void captureEqSettings(const EqSettings* eq, AppSettings& s);
