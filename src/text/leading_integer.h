// Reads the number that a value begins with, as the C library reads it.
#ifndef QSOFLAT_TEXT_LEADING_INTEGER_H_
#define QSOFLAT_TEXT_LEADING_INTEGER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qsoflat {

// Optional white space, an optional sign and decimal digits, as strtoll
// reads them, saturated at the 64-bit limits instead of overflowing; 0
// without digits.
struct leading_integer {
  std::int64_t value = 0;
  std::size_t digits = 0;  // the whole digit run, leading zeros included
};
leading_integer read_leading_integer(std::string_view text);

// The number saturated at the 32-bit limits, as a 32-bit reading gives it.
constexpr std::int32_t saturated_32(std::int64_t n) {
  return n > INT32_MAX   ? INT32_MAX
         : n < INT32_MIN ? INT32_MIN
                         : static_cast<std::int32_t>(n);
}

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_LEADING_INTEGER_H_
