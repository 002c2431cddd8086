#include "adif/line_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace qsoflat {

namespace {

// Every x86 processor this runs on has SSE2, so an x86 build that does not
// take the SSE2 scan has lost it, the 32-bit one by a failed processor check.
TEST(FindLineMarks, TakesTheSse2ScanOnX86) {
#if (defined(__x86_64__) || defined(__i386__)) && \
    !defined(QSOFLAT_PORTABLE_SCAN)
  EXPECT_TRUE(line_scan_uses_sse2());
#else
  EXPECT_FALSE(line_scan_uses_sse2());
#endif
}

TEST(FindLineMarks, BothScansMarkExactlyTheFourBytes) {
  // Every byte value, at every offset of a block and every count, so that
  // a byte that differs from a mark in one bit or only in its sign is seen,
  // with marks of each kind between them.
  const char marks[] = {'\n', '\r', '\0', '>'};
  std::string bytes;
  for (int i = 0; i < 512; ++i) {
    bytes += static_cast<char>(i * 37 % 256);
    if (i % 3 == 0)
      bytes += marks[i / 3 % 4];
  }
  for (std::size_t at = 0; at + scan_width <= bytes.size(); ++at) {
    for (std::size_t count = 0; count <= scan_width; ++count) {
      line_marks expected;
      for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[at + i];
        if (c == '\n' || c == '\r' || c == '\0')
          expected.text_ends |= std::uint32_t{1} << i;
        if (c == '>')
          expected.value_starts |= std::uint32_t{1} << i;
      }
      for (const line_marks got :
           {find_line_marks(bytes.data() + at, count),
            find_line_marks_portable(bytes.data() + at, count)}) {
        EXPECT_EQ(got.text_ends, expected.text_ends) << at << " " << count;
        EXPECT_EQ(got.value_starts, expected.value_starts)
            << at << " " << count;
      }
    }
  }
}

}  // namespace

}  // namespace qsoflat
