#include "timeformat.h"

#include <QCoreApplication>

namespace {

QString twoDigits(uint64_t v) {
  return v < 10 ? QStringLiteral("0") + QString::number(v) : QString::number(v);
}

}  // namespace

QString formatTime(uint64_t frames, uint32_t rate) {
  if (rate == 0) return QStringLiteral("00:00:00.00");
  const uint64_t seconds = frames / rate;
  const uint64_t hours = seconds / 3600;
  const uint64_t minutes = (seconds / 60) % 60;
  const uint64_t secs = seconds % 60;
  // (frames mod rate) < 2^32, so the product stays far below 2^64.
  const uint64_t hundredths = ((frames % rate) * 100) / rate;
  return twoDigits(hours) + QLatin1Char(':') + twoDigits(minutes) + QLatin1Char(':') +
         twoDigits(secs) + QLatin1Char('.') + twoDigits(hundredths);
}

QString rateLabelText(uint32_t rate) {
  struct Named {
    uint32_t rate;
    const char* text;
  };
  static constexpr Named kNamed[] = {{44100, "44.1k"},    {48000, "48k"},     {88200, "88.2k"},
                                     {96000, "96k"},      {176400, "176.4k"}, {192000, "192k"},
                                     {352800, "352.8k"},  {384000, "384k"},   {705600, "705.6k"},
                                     {768000, "768k"},    {2822400, "2.8M"},  {5644800, "5.6M"},
                                     {11289600, "11.2M"}, {22579200, "22.5M"}};
  for (const Named& n : kNamed) {
    if (n.rate == rate) return QLatin1String(n.text) + QStringLiteral("Hz");
  }
  return QString::number(rate / 1000) + QStringLiteral("kHz");
}

QString bitsLabelText(uint32_t bits) {
  if (bits == 1) return QCoreApplication::translate("timeformat", "1bit");
  return QCoreApplication::translate("timeformat", "%1bits").arg(bits);
}

QString channelsLabelText(uint32_t ch) {
  if (ch == 1) return QCoreApplication::translate("timeformat", "MONO");
  if (ch == 2) return QCoreApplication::translate("timeformat", "STEREO");
  return QCoreApplication::translate("timeformat", "%1Channels").arg(ch);
}

QString fileTypeLabelText(uint32_t type) {
  switch (type) {
    case 0:
    case 1:
      return QStringLiteral("WAV(PCM)");
    case 2:
      return QStringLiteral("DSF(DSD)");
    case 3:
      return QStringLiteral("DSDIFF(DSD)");
    case 4:
      return QStringLiteral("FLAC");
    default:
      return QString();
  }
}
