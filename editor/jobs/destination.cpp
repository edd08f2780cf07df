#include "destination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "sonvex.h"

namespace destination {

namespace {

bool fits(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  if (bytes.size() >= PATH_MAX) return false;
  for (const QByteArray& part : bytes.split('/'))
    if (part.size() > NAME_MAX) return false;
  return true;
}

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// A test write big enough to meet a full disk; the system's errno, or 0.
int probeWrite(const QString& folder) {
  QByteArray name = QFile::encodeName(folder + QStringLiteral("/.lumara-write-test-XXXXXX"));
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return errno;
  int err = 0;
  const std::vector<char> block(64 * 1024, 0);
  if (::write(fd, block.data(), block.size()) != ssize_t(block.size()))
    err = errno ? errno : ENOSPC;
  else if (::fsync(fd) != 0)
    err = errno;
  ::close(fd);
  ::unlink(name.constData());
  return err;
}

}  // namespace

bool pathTooLong(const QString& path) { return !fits(path); }

int longestNameThatFits(const QString& folder, const QString& name, const QString& extension) {
  for (int keep = int(name.size()); keep >= 1; --keep)
    if (fits(folder + QLatin1Char('/') + name.left(keep) + extension)) return keep;
  return -1;
}

QString writeFailureReason(const QString& path) {
  const QString folder = QFileInfo(path).absolutePath();
  const QString shown = QDir::toNativeSeparators(folder);
  if (!QFileInfo(folder).isDir())
    return QCoreApplication::translate("destination", "The folder \"%1\" does not exist (%2).")
        .arg(shown, systemText(ENOENT));
  const int err = probeWrite(folder);
  if (err == 0) return QString();
  return QCoreApplication::translate("destination", "The folder \"%1\" cannot be written: %2.")
      .arg(shown, systemText(err));
}

QString failureText(const QString& headline, const QString& path, int status) {
  QString reason;
  // The library's word for "the destination is one of the sources".
  if (status == kConvertErrDestinationIsSource)
    reason =
        QCoreApplication::translate("destination", "The destination is one of the source files.");
  else
    reason = writeFailureReason(path);
  QString text = headline;
  if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
  return text + QLatin1Char('\n') +
         QCoreApplication::translate("destination", "[Code = %1]").arg(status);
}

}  // namespace destination
