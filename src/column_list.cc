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
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(), upper_case);
  std::uint32_t& head = first_by_byte_[static_cast<unsigned char>(upper[0])];
  for (std::uint32_t i = head; i != 0; i = columns_[i - 1].next)
    if (columns_[i - 1].upper == upper)
      return false;
  // A new column goes first among those with its first byte.
  columns_.push_back({std::string(name), std::move(upper), kind_of(name), head});
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
