#include "adif/adif_head.h"

#include <cstring>
#include <string>

#include "adif/field_match.h"

namespace qsoflat {

namespace {

constexpr std::string_view markers[] = {"<eoh>", "<eor>", "<APP_LoTW_EOF>"};
constexpr std::string_view lotw_prefix = "APP_LoTW_";

// Whether text holds word, which begins with a byte that has no case, in
// any case. Each first byte is found by memchr, so that the bytes of a CSV
// file, which seldom hold a '<', pass quickly.
bool holds(std::string_view text, std::string_view word) {
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  for (;;) {
    at = static_cast<const char*>(
        std::memchr(at, word.front(), static_cast<std::size_t>(end - at)));
    if (at == nullptr)
      return false;
    if (static_cast<std::size_t>(end - at) >= word.size() &&
        same_any_case(std::string_view(at, word.size()), word))
      return true;
    ++at;
  }
}

// Whether text holds "APP_LoTW_" in any case, found by its first underscore.
bool holds_lotw_prefix(std::string_view text) {
  constexpr std::size_t before = 3;  // "APP"
  for (std::size_t at = text.find('_', before); at != std::string_view::npos;
       at = text.find('_', at + 1))
    if (same_any_case(text.substr(at - before, lotw_prefix.size()),
                      lotw_prefix))
      return true;
  return false;
}

// The ASCII characters of UTF-16 text, in the byte order given, one byte
// each; every other character becomes a byte that no marker holds.
std::string narrowed(std::string_view text, bool little_endian) {
  std::string narrow;
  narrow.reserve(text.size() / 2);
  for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
    const unsigned char low =
        static_cast<unsigned char>(text[little_endian ? at : at + 1]);
    const unsigned char high =
        static_cast<unsigned char>(text[little_endian ? at + 1 : at]);
    narrow += high == 0 && low < 0x80 ? static_cast<char>(low) : '\x80';
  }
  return narrow;
}

// What adif_kind_of tells, for text of one byte a character.
adif_kind adif_kind_of_narrow(std::string_view head, std::string_view tail) {
  bool adif = false;
  for (const std::string_view marker : markers)
    adif = adif || holds(head, marker) || holds(tail, marker);
  if (!adif)
    return not_adif;
  return holds_lotw_prefix(head) || holds_lotw_prefix(tail) ? lotw_report
                                                            : adif_file;
}

}  // namespace

adif_kind adif_kind_of(std::string_view head, std::string_view tail) {
  const bool little = head.substr(0, 2) == "\xFF\xFE";
  if (little || head.substr(0, 2) == "\xFE\xFF")
    return adif_kind_of_narrow(narrowed(head, little), narrowed(tail, little));
  return adif_kind_of_narrow(head, tail);
}

}  // namespace qsoflat
