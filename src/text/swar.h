// Tests eight bytes at once as one 64-bit word, for the scans that look for
// a few bytes among many: the line scan, the column hash and the CSV
// writer's quoting.
#ifndef QSOFLAT_TEXT_SWAR_H_
#define QSOFLAT_TEXT_SWAR_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qsoflat {

// The byte 1 in every byte of a word; times a byte, that byte in every one.
inline constexpr std::uint64_t low_bits = 0x0101010101010101u;
// The high bit of every byte of a word.
inline constexpr std::uint64_t high_bits = 0x8080808080808080u;

// The high bit of each byte of x that is zero, and no other bit.
// Invariant: bit 8j + 7 is set exactly when byte j of x is zero, for every
// byte, since no carry crosses from one byte into the next; a search for
// byte b in x is zero_bytes(x ^ (low_bits * b)).
constexpr std::uint64_t zero_bytes(std::uint64_t x) {
  constexpr std::uint64_t low_sevens = 0x7F * low_bits;
  return ~(((x & low_sevens) + low_sevens) | x | low_sevens);
}

// The high bits of the eight bytes, gathered as bits 0 to 7: the multiply
// moves byte j's bit, alone, to bit 56 + j, and the partial products never
// meet.
constexpr std::uint32_t byte_flags(std::uint64_t high_bits_only) {
  return static_cast<std::uint32_t>(
      ((high_bits_only >> 7) * 0x0102040810204080u) >> 56);
}

// The eight bytes at p as a word, p[j] at bits 8j to 8j + 7 whatever the
// machine's byte order: one load where the order is known to be that one.
inline std::uint64_t load_word(const char* p) {
  std::uint64_t word = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(&word, p, sizeof word);
#else
  for (std::size_t j = 0; j < sizeof word; ++j)
    word |= std::uint64_t{static_cast<unsigned char>(p[j])} << (8 * j);
#endif
  return word;
}

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_SWAR_H_
