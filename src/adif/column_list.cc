#include "adif/column_list.h"

#include <algorithm>
#include <utility>

#include "text/swar.h"

namespace qsoflat {

bool is_field_name(std::string_view text) {
  return !text.empty() && text.size() <= longest_name &&
         std::all_of(text.begin(), text.end(), is_name_byte);
}

namespace {

// Mixes a word of a name into the hash, with bit 0x20 set in every byte:
// that bit folds the case of a letter and tells every byte of a field name
// (letters, digits, underscores) from the others all the same.
std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ (word | 0x2020202020202020u)) * 0x9E3779B97F4A7C15u;
  return hash ^ (hash >> 29);
}

// The size bytes at bytes (at most 8) as a word, padded with zeros, in the
// order of load_word.
std::uint64_t word_of(const char* bytes, std::size_t size) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < size; ++i)
    word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return word;
}

}  // namespace

// A name is hashed as find hashes it from a tag: a word at a time, the
// last one padded with zeros, then its size.
std::size_t column_list::hash(std::string_view name) {
  std::uint64_t mixed = 0;
  for (std::size_t at = 0; at < name.size(); at += 8)
    mixed = mix(mixed, word_of(name.data() + at,
                               std::min<std::size_t>(8, name.size() - at)));
  return static_cast<std::size_t>(mix(mixed, name.size()));
}

std::size_t column_list::find(std::string_view tag) const {
  const char* const text = tag.data() + 1;
  const std::size_t room = std::min(tag.size() - 1, longest_name + 1);
  // The name is hashed a word at a time up to the word that holds its ":",
  // which is cut there; a word that the tag does not fill is read a byte
  // at a time.
  std::uint64_t mixed = 0;
  std::size_t name_size = 0;
  for (std::size_t at = 0;; at += 8) {
    if (at >= room)
      return no_column;
    const std::size_t got = std::min<std::size_t>(8, room - at);
    const std::uint64_t word =
        got == 8 ? load_word(text + at) : word_of(text + at, got);
    const std::uint64_t colons =
        zero_bytes(word ^ (low_bits * ':')) & (high_bits >> (8 * (8 - got)));
    if (colons == 0) {
      mixed = mix(mixed, word);
      continue;
    }
    const std::size_t before =
        static_cast<std::size_t>(__builtin_ctzll(colons)) / 8;
    name_size = at + before;
    if (before > 0)
      mixed = mix(mixed, word & ((std::uint64_t{1} << (8 * before)) - 1));
    break;
  }
  if (name_size == 0 || name_size > longest_name)
    return no_column;
  mixed = mix(mixed, name_size);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = static_cast<std::size_t>(mixed) & mask; slots_[at] != 0;
       at = (at + 1) & mask) {
    const column& c = columns_[slots_[at] - 1];
    if (c.folded.size() == name_size && same_name(text, c))
      return slots_[at] - 1;
  }
  return no_column;
}

bool column_list::add(std::string_view name) {
  column added{std::string(name), std::string(name.size(), '\0'),
               std::string(name), column_kind_of(name), 0};
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (is_letter(name[i]))
      added.letters[i] = 0x20;
    added.folded[i] = static_cast<char>(name[i] | added.letters[i]);
  }
  if (hashed_) {
    const std::size_t at = slot_of(added);
    if (slots_[at] != 0)
      return false;
    columns_.push_back(std::move(added));
    slots_[at] = static_cast<std::uint32_t>(columns_.size());
    if (2 * columns_.size() > slots_.size())
      rehash(2 * slots_.size());
    return true;
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
  if (columns_.size() > most_walked) {
    first_by_byte_.fill(0);
    hashed_ = true;
    rehash(4 * most_walked);  // a power of two, as every size of the table
  }
  return true;
}

// The slot that holds a column of the column's name in any case, or the
// empty one where it would go.
std::size_t column_list::slot_of(const column& c) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash(c.name) & mask;
  while (slots_[at] != 0 && columns_[slots_[at] - 1].folded != c.folded)
    at = (at + 1) & mask;
  return at;
}

void column_list::rehash(std::size_t slot_count) {
  slots_.assign(slot_count, 0);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    std::size_t at = hash(columns_[i].name) & (slot_count - 1);
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

output_columns output_columns_of(const column_list& list) {
  output_columns written;
  for (std::size_t i = 0; i < list.size(); ++i)
    written.columns.push_back({std::string(list.name(i)), list.kind(i)});
  return written;
}

}  // namespace qsoflat
