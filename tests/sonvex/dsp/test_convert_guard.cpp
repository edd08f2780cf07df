// An export never truncates its own source, however the path is spelled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "convert_harness.h"

using namespace convtest;
using namespace testsupport;

TEST(ConvertGuard, DestinationNamingTheSourceIsRefusedAndTheSourceKept) {
  std::vector<int16_t> s(2 * 4410);
  for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(8000 * std::sin(0.01 * double(i)));
  const std::string src = tempPath("take", ".wav");
  writeWav(src, 44100, 16, 2, 1, pcm16Bytes(s));
  const std::vector<uint8_t> before = readAll(src);

  const size_t slash = src.rfind('/');
  const std::string respelled = src.substr(0, slash) + "/./" + src.substr(slash + 1);
  const std::string link = tempPath("take-link", ".wav");
  ASSERT_EQ(::link(src.c_str(), link.c_str()), 0);
  for (const std::string& dst : {src, respelled, link}) {
    Job job(kRate48000, kFileTypeWav, 24);
    testing::internal::CaptureStdout();
    EXPECT_EQ(job.run(src, dst), kConvertErrDestinationIsSource) << dst;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Destination Is Source Error!\n");
    EXPECT_EQ(readAll(src), before) << dst;
  }

  // A different file is fine, and stream mode writes nothing at all.
  Job ok(kRate48000, kFileTypeWav, 24);
  EXPECT_EQ(ok.run(src, tempPath("take-48k", ".wav")), 0);
  Job stream(kRate44100, kFileTypeWav, 24, false);
  EXPECT_EQ(stream.run(src, src), 0);
  EXPECT_EQ(readAll(src), before);
}
