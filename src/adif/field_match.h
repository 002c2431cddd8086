// How a line's text names a field of the table, and where its value ends.
#ifndef QSOFLAT_ADIF_FIELD_MATCH_H_
#define QSOFLAT_ADIF_FIELD_MATCH_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "adif/line_scan.h"
#include "qso/fields.h"
#include "text/ascii.h"

namespace qsoflat {

// The bytes of a line's start that tell whether it names a field: the "<",
// the longest name and the ":" after it.
inline constexpr std::size_t name_span = [] {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < field_count; ++i)
    longest = field_names[i].name.size() > longest ? field_names[i].name.size()
                                                   : longest;
  return longest + 2;
}();

// The value less LoTW's comment, for a tag whose name, name_size bytes
// after its "<", is followed by a ":": when the text after the length that the
// tag states (the digits after its first ":", up to ">" or to a type indicator)
// begins with " //", the value ends at that length. Otherwise, and when the
// length disagrees with the value, the value whole.
std::string_view without_comment(std::string_view tag, std::size_t name_size,
                                 std::string_view value);

// The matchers are inline, since the reader asks them about every line.
namespace fields_detail {

// For each byte, the fields whose name begins with it, bit i for index i, so
// that a text is compared only with the names that can match it.
inline constexpr std::array<std::uint32_t, 256> fields_by_first_byte = [] {
  std::array<std::uint32_t, 256> fields{};
  for (std::size_t i = 0; i < field_count; ++i)
    fields[static_cast<unsigned char>(field_names[i].name[0])] |=
        std::uint32_t{1} << i;
  return fields;
}();

// Whether field i's name begins rest. The name's length is known when
// compiling, which lets the compiler turn the comparison into a few word
// compares: against a length known only when running, matching costs a
// tenth of the default mode's instructions more.
template <std::size_t i>
inline bool name_begins(std::string_view rest) {
  constexpr std::string_view name = field_names[i].name;
  return rest.size() >= name.size() &&
         std::memcmp(rest.data(), name.data(), name.size()) == 0;
}

// Whether the tag's text before its first ":" is field i's name in any
// case. A byte of the tag equals a letter of the name in either case exactly
// when the two are equal with bit 0x20 set in both, and any other byte of the
// name must be met as it is; the name is known when compiling, so the loop
// becomes a few compares with constants.
template <std::size_t i>
inline bool name_is_tag(std::string_view tag) {
  constexpr std::string_view name = field_names[i].name;
  if (tag.size() <= name.size() + 1 || tag[name.size() + 1] != ':')
    return false;
  for (std::size_t j = 0; j < name.size(); ++j) {
    const char c = name[j];
    const char letter_bit = is_letter(c) ? 0x20 : 0;
    if ((tag[j + 1] | letter_bit) != (c | letter_bit))
      return false;
  }
  return true;
}

using name_test = bool (*)(std::string_view);

// Each field's test of the two kinds, by its index.
template <std::size_t... i>
constexpr std::array<name_test, field_count> prefix_tests(
    std::index_sequence<i...>) {
  return {&name_begins<i>...};
}
template <std::size_t... i>
constexpr std::array<name_test, field_count> tag_tests(
    std::index_sequence<i...>) {
  return {&name_is_tag<i>...};
}
inline constexpr auto name_tests =
    prefix_tests(std::make_index_sequence<field_count>());
inline constexpr auto exact_name_tests =
    tag_tests(std::make_index_sequence<field_count>());

// The fields whose name begins with the byte in either case.
inline constexpr std::array<std::uint32_t, 256> fields_by_first_byte_any_case =
    [] {
      std::array<std::uint32_t, 256> fields{};
      for (int c = 0; c < 256; ++c)
        fields[static_cast<std::size_t>(c)] =
            fields_by_first_byte[static_cast<unsigned char>(
                upper_case(static_cast<char>(c)))];
      return fields;
    }();

}  // namespace fields_detail

// The lowest index whose name stands at the text's second byte, or
// no_field.
inline std::size_t match_field(std::string_view text) {
  if (text.size() < 2)
    return no_field;
  // No name is a single byte repeated, so a name that stands at offset 1
  // cannot also stand at offset 0: there, its first occurrence is at offset
  // 1, and a prefix test of the rest is enough. The candidates are tried in
  // table order, so the lowest index wins.
  const std::string_view rest = text.substr(1);
  for (std::uint32_t fields =
           fields_detail::fields_by_first_byte[static_cast<unsigned char>(
               rest[0])];
       fields != 0; fields &= fields - 1) {
    const int i = lowest_bit(fields);
    if (fields_detail::name_tests[i](rest))
      return static_cast<std::size_t>(i);
  }
  return no_field;
}

// The index of the name that a tag's text, from its "<" to its first ">"
// left out, holds before its first ":", compared without regard to case; or
// no_field, also for a tag without a ":" or not starting with "<".
inline std::size_t match_exact_field(std::string_view tag) {
  if (tag.size() < 2 || tag[0] != '<')
    return no_field;
  // No table name holds a ":", so a name that is followed by one in the tag
  // is the whole text before the tag's first ":".
  for (std::uint32_t fields = fields_detail::fields_by_first_byte_any_case
           [static_cast<unsigned char>(tag[1])];
       fields != 0; fields &= fields - 1) {
    const int i = lowest_bit(fields);
    if (fields_detail::exact_name_tests[i](tag))
      return static_cast<std::size_t>(i);
  }
  return no_field;
}

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_FIELD_MATCH_H_
