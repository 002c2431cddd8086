#include "adif/field_match.h"

namespace qsoflat {

std::string_view without_comment(std::string_view tag, std::size_t name_size,
                                 std::string_view value) {
  // No name holds a ":", so the one after the name is the tag's first.
  const std::size_t colon = name_size + 1;
  // A length past the value's end disagrees with it, so reading the digits
  // stops there, before the number could wrap.
  std::size_t length = 0;
  std::size_t at = colon + 1;
  for (; at < tag.size() && is_digit(tag[at]); ++at) {
    const auto digit = static_cast<unsigned char>(tag[at] - '0');
    if (length > value.size() / 10)
      return value;
    length = length * 10 + digit;
    if (length > value.size())
      return value;
  }
  if (at == colon + 1 || (at < tag.size() && tag[at] != ':'))
    return value;
  constexpr std::string_view comment = " //";
  if (value.substr(length, comment.size()) == comment)
    return value.substr(0, length);
  return value;
}

}  // namespace qsoflat
