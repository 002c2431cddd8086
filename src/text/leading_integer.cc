#include "text/leading_integer.h"

#include "text/ascii.h"

namespace qsoflat {

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

leading_integer read_leading_integer(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  // The magnitude is gathered unsigned, where INT64_MIN's fits, and stops
  // growing once past it, where it cannot wrap.
  constexpr std::uint64_t limit = std::uint64_t{INT64_MAX} + 1;
  std::uint64_t magnitude = 0;
  leading_integer result;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    ++result.digits;
    magnitude =
        magnitude > limit / 10
            ? limit + 1
            : magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (negative)
    result.value =
        magnitude >= limit ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  else
    result.value = magnitude > INT64_MAX ? INT64_MAX
                                         : static_cast<std::int64_t>(magnitude);
  return result;
}

}  // namespace qsoflat
