// Where the shared real-world test files live; tests skip when absent.
#pragma once

#include <string>
#include <sys/stat.h>

namespace testsupport {

inline std::string testdataDir() { return LUMARA_TESTDATA_DIR; }

inline bool testdataAvailable() {
  struct stat st;
  return ::stat(LUMARA_TESTDATA_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace testsupport
