// sonvex-cli play: one file through the program's playback engine and
// outputs. The front end hands over its own helpers so messages and path
// handling stay the same across commands.
#pragma once

#include <string>

struct PlayHelpers {
  const char* (*describe)(int code);  // words for a library result code
  std::u16string (*toU16)(const std::string& utf8);
};

extern const char kPlayUsage[];

// argv holds the arguments after "play". Exit status: 0 at the natural end,
// 1 on a failure, 2 on a usage error, 128 + signal number when interrupted.
int commandPlay(int argc, char** argv, const PlayHelpers& helpers);
