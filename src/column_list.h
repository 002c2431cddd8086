// The columns that the user chose: each one's field name as the header row
// shows it and how its column is written, and the column that a tag names.
#ifndef QSOFLAT_COLUMN_LIST_H_
#define QSOFLAT_COLUMN_LIST_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"

// The longest field name a column may have: the reader reads the first 64
// bytes of a tag, which must hold the "<", the name and the ":".
inline constexpr std::size_t longest_name = 62;

// Whether the text is a field name: one to longest_name letters, digits
// and underscores.
bool is_field_name(std::string_view text);

class column_list {
 public:
  // What match_tag gives for a tag that names no column.
  static constexpr std::size_t no_column = SIZE_MAX;

  // Adds a column for a field name (as is_field_name says), which the
  // header row shows as given;
  // false, adding none, when a column has that name already in any case.
  bool add(std::string_view name);

  std::size_t size() const { return columns_.size(); }
  // Whether the columns stand in the order that the report's QSOs hold
  // their fields, as when they were taken from the report.
  bool in_report_order() const { return in_report_order_; }
  void set_in_report_order() { in_report_order_ = true; }
  std::string_view name(std::size_t column) const { return columns_[column].name; }
  column_kind kind(std::size_t column) const { return columns_[column].kind; }

  // The column whose name, in any case, the tag's text (from its "<", its
  // first ">" left out) holds before its first ":", or no_column. The
  // column likely is tried first: a report's QSOs hold their fields in the
  // same order, so a reader that passes the column after its last match
  // seldom looks further: for --columns all, where both passes do, that
  // costs a tenth fewer instructions on a detailed download. Otherwise the
  // name is looked up in a hash table, at a cost that does not grow with
  // the number of columns.
  std::size_t match_tag(std::string_view tag,
                        std::size_t likely = no_column) const {
    if (tag.size() < 2 || tag[0] != '<')
      return no_column;
    if (likely < columns_.size() && names_exactly(tag, columns_[likely]))
      return likely;
    const void* const colon = std::memchr(tag.data() + 1, ':', tag.size() - 1);
    if (colon == nullptr || slots_.empty())
      return no_column;
    const std::size_t size = static_cast<std::size_t>(
        static_cast<const char*>(colon) - (tag.data() + 1));
    if (size == 0 || size > longest_name)
      return no_column;
    for (std::size_t at = hash(tag.data() + 1, size) & (slots_.size() - 1);
         slots_[at] != 0; at = (at + 1) & (slots_.size() - 1)) {
      const column& c = columns_[slots_[at] - 1];
      if (c.folded.size() == size && same_name(tag.data() + 1, c))
        return slots_[at] - 1;
    }
    return no_column;
  }

 private:
  struct column {
    std::string name;  // as the header row shows it
    // For matching: 0x20 where the name has a letter, 0 elsewhere, and the
    // name with that bit set.
    std::string letters;
    std::string folded;
    column_kind kind;
  };

  // A hash of the size bytes at name that is the same in any case of its
  // letters: every byte of a field name (letters, digits, underscores) is
  // told apart from the others with bit 0x20 set, which folds the case.
  static std::size_t hash(const char* name, std::size_t size) {
    constexpr std::uint64_t case_bits = 0x2020202020202020u;
    std::uint64_t h = size;
    all_words(size, [&](std::size_t at, auto word) {
      using Word = decltype(word);
      const std::uint64_t folded =
          word_at<Word>(name, at) | static_cast<Word>(case_bits);
      h = (h ^ folded) * 0x9E3779B97F4A7C15u;
      return true;
    });
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
  void rehash(std::size_t slot_count);

  // Whether the tag, which begins with "<", names the column. The ":"
  // after a name of the column's length rules out nearly every other name
  // before its bytes are compared.
  static bool names(std::string_view tag, const column& c) {
    const std::size_t name_size = c.folded.size();
    return tag.size() > name_size + 1 && tag[name_size + 1] == ':' &&
           same_name(tag.data() + 1, c);
  }

  // As names, but the name's bytes are first compared as they stand, as
  // the report that gave the columns repeats them: for --columns all that
  // costs 1.6% fewer instructions on a detailed download than the compare
  // in any case alone.
  static bool names_exactly(std::string_view tag, const column& c) {
    const std::size_t name_size = c.folded.size();
    return tag.size() > name_size + 1 && tag[name_size + 1] == ':' &&
           (same_bytes(tag.data() + 1, c.name.data(), name_size) ||
            same_name(tag.data() + 1, c));
  }

  // Whether equal(at, Word{}) holds for every word of a name of size
  // bytes: the name is compared a word at a time, the last word ending at
  // the name's end and overlapping the one before it, so that no byte is
  // compared alone. With the bytes after the last whole eight compared one
  // at a time, 25 columns cost 4% more and --columns all 8% more.
  template <class Equal>
  static bool all_words(std::size_t size, const Equal& equal) {
    if (size >= 8) {
      for (std::size_t i = 0; i + 8 < size; i += 8)
        if (!equal(i, std::uint64_t{}))
          return false;
      return equal(size - 8, std::uint64_t{});
    }
    if (size >= 4)
      return equal(0, std::uint32_t{}) && equal(size - 4, std::uint32_t{});
    if (size >= 2)
      return equal(0, std::uint16_t{}) && equal(size - 2, std::uint16_t{});
    return equal(0, std::uint8_t{});
  }

  template <class Word>
  static Word word_at(const char* bytes, std::size_t at) {
    Word word;
    std::memcpy(&word, bytes + at, sizeof word);
    return word;
  }

  // Whether the size bytes at text and at name are equal.
  static bool same_bytes(const char* text, const char* name, std::size_t size) {
    return all_words(size, [=](std::size_t at, auto word) {
      using Word = decltype(word);
      return word_at<Word>(text, at) == word_at<Word>(name, at);
    });
  }

  // Whether the bytes at text are the column's name in any case. A byte
  // equals a letter of the name in either case exactly when the two are
  // equal with bit 0x20 set in both; other bytes must be equal as they are.
  static bool same_name(const char* text, const column& c) {
    return all_words(c.folded.size(), [text, &c](std::size_t at, auto word) {
      using Word = decltype(word);
      return static_cast<Word>(word_at<Word>(text, at) |
                               word_at<Word>(c.letters.data(), at)) ==
             word_at<Word>(c.folded.data(), at);
    });
  }

  std::vector<column> columns_;
  // Open addressing by hash: each slot holds a column's index plus one, or
  // 0 when empty; at most half the slots are taken.
  std::vector<std::uint32_t> slots_;
  bool in_report_order_ = false;
};

// Reads a list of field names separated by commas, such as
// "CALL,QSO_DATE,COUNTRY", into columns. False when a name is empty, holds
// another byte than a letter, digit or underscore, is longer than
// longest_name or stands twice in any case; bad_name is then that name.
bool parse_column_list(std::string_view text, column_list& columns,
                       std::string& bad_name);

#endif  // QSOFLAT_COLUMN_LIST_H_
