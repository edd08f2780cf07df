#include "opennote.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "timeformat.h"
#include "transaction.h"

namespace {

// Audio bytes the header announces; 0 when it cannot say. WAV readers stop
// at the end of the file, so a RIFF data size is read from the chunk header
// itself; DSF and DSDIFF report the announced size.
uint64_t announcedBytes(const QString& path, const AudioFileInfo& info, uint64_t present) {
  if (info.fileType != kFileTypeWav && info.fileType != kFileTypeWavAlt) return present;
  QFile file(path);
  if (info.dataOffset < 8 || !file.open(QIODevice::ReadOnly) || !file.seek(info.dataOffset - 8))
    return 0;
  const QByteArray h = file.read(8);
  if (h.size() != 8 || !h.startsWith("data")) return 0;
  const uint32_t size = uint32_t(uint8_t(h[4])) | uint32_t(uint8_t(h[5])) << 8 |
                        uint32_t(uint8_t(h[6])) << 16 | uint32_t(uint8_t(h[7])) << 24;
  return size == 0xFFFFFFFFu ? 0 : size;  // RF64 keeps it elsewhere
}

}  // namespace

QString openNote(const QString& path, const AudioFileInfo& info) {
  const SourceDescription d = describeSource(info);
  if (d.totalFrames == 0)
    return QCoreApplication::translate("openNote", "The file holds no audio (0 samples).");
  // Compressed: the file's size says nothing of the audio it holds, and its
  // header is no chunk; a cut stream shows when it is decoded.
  if (info.fileType == kFileTypeFlac) return QString();
  const uint64_t inFile = uint64_t(QFileInfo(path).size());
  const uint64_t present =
      std::min<uint64_t>(d.audioBytes, inFile > info.dataOffset ? inFile - info.dataOffset : 0);
  const uint64_t announced = announcedBytes(path, info, d.audioBytes);
  if (announced <= present) return QString();
  const uint64_t bitsPerFrame = uint64_t(d.bitsPerSample) * d.channels;
  const auto frames = [bitsPerFrame](uint64_t bytes) { return bytes * 8 / bitsPerFrame; };
  return QCoreApplication::translate(
             "openNote", "The file is cut short: it holds %1 of the %2 its header announces.")
      .arg(formatTime(frames(present), d.sampleRate), formatTime(frames(announced), d.sampleRate));
}
