// The self-test exports, and that the shared library exports C names only.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "sonvex.h"

namespace {

TEST(Exports, SelfTestValues) {
  EXPECT_EQ(fnWin32Project1(), 42);
  int32_t v = 0;
  EXPECT_EQ(GetData(3, &v), 1);
  EXPECT_EQ(v, 27);
  EXPECT_EQ(GetData(-2, &v), 1);
  EXPECT_EQ(v, -8);
  // 2000^3 = 8,000,000,000 wraps modulo 2^32.
  EXPECT_EQ(GetData(2000, &v), 1);
  EXPECT_EQ(v, int32_t(8000000000LL - 2 * 4294967296LL));
  EXPECT_EQ(GetData(INT_MIN, &v), 1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(nWin32Project1, 0);
}

std::string besideThisProgram(const char* name) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return name;
  std::string path(exe, size_t(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

TEST(Exports, SharedLibraryOffersTheCNames) {
  void* lib = dlopen(besideThisProgram("libsonvex.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) GTEST_SKIP() << "libsonvex.so not built beside the tests";
  for (const char* name : {"getAudioFileInformation", "fnWin32Project1", "GetData",
                           "nWin32Project1", "setDsdExportModulator", "getDsdExportModulator"})
    EXPECT_NE(dlsym(lib, name), nullptr) << name;
  auto fn = reinterpret_cast<int32_t (*)(void)>(dlsym(lib, "fnWin32Project1"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  // Internal helpers stay hidden.
  EXPECT_EQ(dlsym(lib, "_ZN6sonvex16fileTypeFromPathEPKDs"), nullptr);
  EXPECT_EQ(dlsym(lib, "_ZN6sonvex6seek64EP8_IO_FILEm"), nullptr);
  // So do standard-library template instances the library happens to use.
  EXPECT_EQ(dlsym(lib, "_ZNSt6vectorIdSaIdEE17_M_default_appendEm"), nullptr);
  dlclose(lib);
}

}  // namespace
