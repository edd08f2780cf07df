// What opening a file found that the user should know: no audio at all, or
// less audio than the header announces (a cut-off copy or recording).
#pragma once

#include <QString>

#include "sonvex.h"

// Empty when the file is whole.
[[nodiscard]] QString openNote(const QString& path, const AudioFileInfo& info);
