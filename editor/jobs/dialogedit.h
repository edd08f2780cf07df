// "Export File": converts the marked part of the open file into a new WAV,
// DSDIFF, DSF or FLAC file on the dialog's own job thread.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "audiothread.h"
#include "editpoints.h"
#include "transaction.h"

class QCheckBox;
class Session;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class lmeProgressDialog;

// The dialog's decisions as plain functions, testable without a display.
namespace exportplan {

struct FormatChoice {
  const char* label;
  int fileType;
  const char* extension;
};
struct RateChoice {
  const char* label;
  int code;
  uint32_t hz;
  const char* suffix;
};
struct BitChoice {
  const char* label;
  int bits;
};

// Combo order: WAV, DSDIFF, DSF, FLAC.
const std::vector<FormatChoice>& formatChoices();
// Item 1 is DSDIFF, item 2 DSF, item 3 FLAC, anything else WAV.
const FormatChoice& formatForIndex(int index);
// DSF and DSDIFF; WAV and FLAC are PCM.
bool isDsdType(int fileType);
const std::vector<RateChoice>& ratesFor(int fileType);
const std::vector<BitChoice>& bitsFor(int fileType);
// Matches a rate item's text; unknown text gives 44.1 kHz.
const RateChoice& rateForText(const QString& text);
// Unknown text gives 16.
int bitsForText(const QString& text);

// The last "/"-separated part, split at every "." and joined without the
// last part and without dots: "my.take.wav" -> "mytake".
QString baseNameOf(const QString& fileName);

// Beyond the system's path limits (destination.h).
bool pathTooLong(const QString& path);

// The edit state in source frames (EditRange of the edit model).
EditRange wholeFile(uint64_t totalFrames);

// 100 ms of source frames when enabled, else 0.
int64_t shortFadeFrames(uint32_t sourceRate, bool apply);
// x * exportRate / sourceRate, truncated, without 64-bit overflow.
int64_t toOutputFrames(int64_t x, uint32_t exportRate, uint32_t sourceRate);
// Writes points 0..5 of the envelope (the rest is left as it is).
void buildEnvelope(LevelPoint* points, const EditRange& edit, int64_t shortFade,
                   uint32_t exportRate, uint32_t sourceRate);
// True when the envelope changes the level inside the range: a DSD export at
// the source rate must then re-modulate around the fades.
bool envelopeChangesLevel(const LevelPoint* points, int count);

struct ExportChoice {
  int fileType = 0;
  int rateCode = 0;
  int bits = 16;
};
JobRequest buildRequest(const QString& destination, const QString& source,
                        const ExportChoice& choice, uint32_t sourceChannels, const EditRange& edit,
                        EqSettings* eq);

enum class Outcome { Completed, Aborted, Failed };
Outcome classify(int status);
QString resultText(int status);
// The whole result message: a failure says why (destination.h), an abort
// where the part written so far was kept.
QString resultMessage(int status, const QString& destination);

}  // namespace exportplan

class DialogEdit : public QDialog {
  Q_OBJECT

 public:
  // `api` must outlive the dialog.
  explicit DialogEdit(QWidget* parent = nullptr, const SonvexApi& api = defaultSonvexApi());
  ~DialogEdit() override;

  // Follows `session` from now on: its file is the source, its range the
  // range, and EXPORT first asks it to stop playback. Null detaches.
  void setSession(Session* session);
  // Source path, its channel count and the main window's label texts.
  // Without a session, whoever drives the dialog sets source and range.
  void setSource(const QString& path, int channels, const QString& channelText,
                 const QString& bitText, const QString& freqText, const QString& typeText);
  // The folder field; an empty argument takes the process's current directory.
  void setFolder(const QString& dir = QString());
  void setEqContext(EqSettings* eq, int playRate);
  // In, out and fades in source frames.
  void setEditRange(const EditRange& range);
  const EditRange& editRange() const { return edit_; }
  void startJob(int mode);

  // Choices kept by the settings file; restoring an index runs its handler.
  int formatIndex() const;
  int rateIndex() const;
  int bitIndex() const;
  bool shortFadeChecked() const;
  void restoreChoices(int format, int rate, int bits, bool shortFade);
  // Extra gain for DSD sources going to PCM: 0, -3 or -6 dB.
  int dsdGainDb() const;
  void setDsdGainDb(int db);
  // TPDF dither for 16- and 24-bit WAV exports.
  bool ditherChecked() const;
  void setDitherChecked(bool on);
  // The precision loop for DSD exports (else the standard one).
  bool precisionModulator() const;
  void setPrecisionModulator(bool on);
  // FLAC compression level of the exports, 0..8 (settings file only).
  int flacLevel() const { return flacLevel_; }
  void setFlacLevel(int level);

  int exportTypeCode() const { return exportType; }
  uint32_t exportRateHz() const { return exportRate; }
  int exportRateCode() const { return exportRateIndex; }
  int exportBitsValue() const { return exportBits; }
  const QString& proposedBaseName() const { return baseName; }
  QString destinationPath() const;
  const LevelPoint* exportEnvelope() const { return envelope; }
  audioThread* job() { return jobThread; }
  bool isExporting() const;

 signals:
  // EXPORT was confirmed on a dialog without a session: the owner starts
  // the job (startJob(1)) once nothing else converts.
  void convertExecute();

 private slots:
  void on_BounceFormat_currentIndexChanged(int index);
  void on_BounceFreq_currentIndexChanged(int index);
  void on_BounceBit_currentIndexChanged(int index);
  void on_pushSelDir_clicked();
  void on_pushBounce_released();
  void transactionStarted(int progress);
  void allTransactionsDone(int status);
  void cancelExporting();
  void takeSeveralHundredMili();

 private:
  void buildUi();
  void refreshFileName();
  // Source and range from the session (not while an export runs: its job
  // has its own copy, and it catches up when the job ends).
  void followSession(unsigned changes);

  int exportType = 0;
  uint32_t exportRate = 44100;
  int exportRateIndex = 0;
  QString rateSuffix = QStringLiteral("_44k");
  int exportBits = 16;
  QString extension = QStringLiteral(".wav");
  QString baseName;
  QString sourcePath;
  QString runningDestination;  // of the job in progress
  uint32_t sourceChannels = 2;
  bool sourceIsDsd = false;
  int flacLevel_ = 5;
  AudioFileInfo sourceInfo{};
  SourceDescription sourceDescription{};
  EqSettings* eqSettings = nullptr;
  int playRate = 44100;
  EditRange edit_;
  LevelPoint envelope[kLevelPointMax] = {};

  audioThread* jobThread = nullptr;
  Session* session_ = nullptr;
  int sessionListener_ = 0;
  const SonvexApi* sonvex;
  lmeProgressDialog* progressDialog = nullptr;
  QTimer* timer = nullptr;

  QComboBox* comboFormat = nullptr;
  QComboBox* comboFreq = nullptr;
  QComboBox* comboBit = nullptr;
  QComboBox* comboDsdGain = nullptr;
  QComboBox* comboModulator = nullptr;
  QCheckBox* checkShortFade = nullptr;
  QCheckBox* checkDither = nullptr;
  QLineEdit* editFileName = nullptr;
  QLineEdit* editExtension = nullptr;
  QLineEdit* editFolder = nullptr;
  QPushButton* buttonSelDir = nullptr;
  QPushButton* buttonBounce = nullptr;
  QLabel* labelOrgFileName = nullptr;
  QLabel* labelOrgType = nullptr;
  QLabel* labelOrgFreq = nullptr;
  QLabel* labelOrgBit = nullptr;
  QLabel* labelOrgCh = nullptr;
  QLabel* labelExportCh = nullptr;
};
