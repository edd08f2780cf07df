// Captures the library's diagnostic lines: they go to standard error, and
// only while SONVEX_DEBUG asks for them; standard output must stay empty.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace testsupport {

inline void captureDiagnostics() {
  setenv("SONVEX_DEBUG", "1", 1);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
}

inline std::string capturedDiagnostics() {
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  unsetenv("SONVEX_DEBUG");
  return testing::internal::GetCapturedStderr();
}

}  // namespace testsupport
