#include "column_list.h"

#include <algorithm>
#include <utility>

bool is_field_name(std::string_view text) {
  return !text.empty() && text.size() <= longest_name &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                  (c >= '0' && c <= '9') || c == '_';
         });
}

bool column_list::add(std::string_view name) {
  column added{std::string(name), std::string(name.size(), '\0'),
               std::string(name), kind_of(name), 0};
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (upper_case(name[i]) >= 'A' && upper_case(name[i]) <= 'Z')
      added.letters[i] = 0x20;
    added.folded[i] = static_cast<char>(name[i] | added.letters[i]);
  }
  std::uint32_t& head =
      first_by_byte_[static_cast<unsigned char>(upper_case(name[0]))];
  for (std::uint32_t i = head; i != 0; i = columns_[i - 1].next)
    if (columns_[i - 1].folded == added.folded)
      return false;
  // A new column goes first among those with its first byte.
  added.next = head;
  columns_.push_back(std::move(added));
  head = static_cast<std::uint32_t>(columns_.size());
  return true;
}

bool parse_column_list(std::string_view text, column_list& columns,
                       std::string& bad_name) {
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view name = text.substr(start, comma - start);
    if (!is_field_name(name) || !columns.add(name)) {
      bad_name = name;
      return false;
    }
    if (comma == text.size())
      return true;
    start = comma + 1;
  }
}
