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
               std::string(name), kind_of(name)};
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (upper_case(name[i]) >= 'A' && upper_case(name[i]) <= 'Z')
      added.letters[i] = 0x20;
    added.folded[i] = static_cast<char>(name[i] | added.letters[i]);
  }
  if (2 * (columns_.size() + 1) > slots_.size())
    rehash(std::max<std::size_t>(16, 2 * slots_.size()));
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash(name.data(), name.size()) & mask;
  for (; slots_[at] != 0; at = (at + 1) & mask)
    if (columns_[slots_[at] - 1].folded == added.folded)
      return false;
  columns_.push_back(std::move(added));
  slots_[at] = static_cast<std::uint32_t>(columns_.size());
  return true;
}

void column_list::rehash(std::size_t slot_count) {
  slots_.assign(slot_count, 0);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    std::size_t at = hash(columns_[i].name.data(), columns_[i].name.size()) &
                     (slot_count - 1);
    while (slots_[at] != 0)
      at = (at + 1) & (slot_count - 1);
    slots_[at] = static_cast<std::uint32_t>(i + 1);
  }
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
