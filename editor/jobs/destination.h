// Where exports and combines write: the system's path limits and, after a
// failure, the system's own words for why the destination could not be
// written.
#pragma once

#include <QString>

namespace destination {

// Longer than the system allows: the whole path (PATH_MAX bytes with its
// terminator) or any of its parts (NAME_MAX bytes), in the file-name encoding.
[[nodiscard]] bool pathTooLong(const QString& path);
// The longest name (in characters) that fits `folder` with `extension`,
// at most `name` itself; -1 when not even one character fits.
[[nodiscard]] int longestNameThatFits(const QString& folder, const QString& name,
                                      const QString& extension);

// Why a file in `path`'s folder cannot be written, as the system says it
// ("Permission denied", "No space left on device", ...), prefixed with what
// was tried; empty when a test write succeeds. Writes and removes a small
// probe file in that folder.
[[nodiscard]] QString writeFailureReason(const QString& path);

// The headline with the reason (when one is known) and the code:
// "Export failed.\n<reason>\n[Code = -3]".
[[nodiscard]] QString failureText(const QString& headline, const QString& path, int status);

}  // namespace destination
