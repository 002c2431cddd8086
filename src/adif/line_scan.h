// Finds, in a block of up to sixteen bytes, those that end a line's text and
// the ">" that starts a field's value.
#ifndef QSOFLAT_ADIF_LINE_SCAN_H_
#define QSOFLAT_ADIF_LINE_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "text/swar.h"

// Every x86-64 processor has SSE2, so there the SSE2 scan is built in. The
// 32-bit program must start on any x86, so it asks the processor once, when
// the program starts, and takes the portable scan where SSE2 is missing.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && \
    !defined(QSOFLAT_PORTABLE_SCAN)
#define QSOFLAT_SSE2_SCAN
#include <emmintrin.h>
#ifdef __SSE2__
#define QSOFLAT_SSE2_TARGET
#else
#include <cpuid.h>
#define QSOFLAT_SSE2_TARGET __attribute__((target("sse2")))
#endif
#endif

namespace qsoflat {

// The scan that splits the input into lines, the one place that looks for
// line feeds, carriage returns, NULs and ">" among the count bytes at block,
// count being at most scan_width. Invariant: bit i of a mask is set exactly
// when block[i] is one of its bytes and i < count; no byte at or past block
// + count is read. On an x86 processor with SSE2 a whole block is tested at
// once; the portable scan gives the same results on every target and is
// kept beside it, so that the two can be held against each other.
inline constexpr std::size_t scan_width = 16;
struct line_marks {
  std::uint32_t text_ends = 0;     // line feeds, carriage returns and NULs
  std::uint32_t value_starts = 0;  // ">"
};
// Whether find_line_marks takes the SSE2 scan on this processor.
bool line_scan_uses_sse2();

// The scans are inline, since the line source calls them for every block
// of every line. This one takes eight bytes at a time as one word, the
// bytes that remain one by one.
inline line_marks find_line_marks_portable(const char* block,
                                           std::size_t count) {
  line_marks marks;
  std::size_t i = 0;
  for (; count - i >= sizeof(std::uint64_t); i += sizeof(std::uint64_t)) {
    const std::uint64_t word = load_word(block + i);
    const std::uint64_t text_ends = zero_bytes(word ^ (low_bits * '\n')) |
                                    zero_bytes(word ^ (low_bits * '\r')) |
                                    zero_bytes(word);
    marks.text_ends |= byte_flags(text_ends) << i;
    marks.value_starts |= byte_flags(zero_bytes(word ^ (low_bits * '>'))) << i;
  }
  for (; i < count; ++i) {
    const char c = block[i];
    const bool text_end = c == '\n' || c == '\r' || c == '\0';
    marks.text_ends |= static_cast<std::uint32_t>(text_end) << i;
    marks.value_starts |= static_cast<std::uint32_t>(c == '>') << i;
  }
  return marks;
}

#ifdef QSOFLAT_SSE2_SCAN
#ifdef __SSE2__
inline constexpr bool sse2_scan = true;
#else
// Asked of the processor once, when the program starts.
extern const bool sse2_scan;
#endif

// The marks of a whole block, sixteen bytes tested at once.
QSOFLAT_SSE2_TARGET inline line_marks find_line_marks_sse2(const char* block) {
  const __m128i bytes =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i text_ends =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))),
                   _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  const __m128i value_starts = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>'));
  return {static_cast<std::uint32_t>(_mm_movemask_epi8(text_ends)),
          static_cast<std::uint32_t>(_mm_movemask_epi8(value_starts))};
}
#else
inline constexpr bool sse2_scan = false;
#endif

inline line_marks find_line_marks(const char* block, std::size_t count) {
#ifdef QSOFLAT_SSE2_SCAN
  if (sse2_scan && count == scan_width)
    return find_line_marks_sse2(block);
#endif
  return find_line_marks_portable(block, count);
}

// The index of the lowest bit set in bits, which must not be 0.
inline int lowest_bit(std::uint32_t bits) {
#if defined(__GNUC__)
  return __builtin_ctz(bits);
#else
  int i = 0;
  for (; (bits & 1) == 0; bits >>= 1)
    ++i;
  return i;
#endif
}

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_LINE_SCAN_H_
