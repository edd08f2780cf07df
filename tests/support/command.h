// Runs a shell command for the tests that check our files with independent
// tools (flac, metaflac, ffmpeg, ffprobe).
#pragma once

#include <cstdio>
#include <string>

namespace testsupport {

// Its standard output; stderr is dropped.
inline std::string commandOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace testsupport
