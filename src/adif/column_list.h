// The columns that the user chose: each one's field name as the header row
// shows it and how its column is written, and the column that a tag names.
#ifndef QSOFLAT_ADIF_COLUMN_LIST_H_
#define QSOFLAT_ADIF_COLUMN_LIST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "adif/field_match.h"
#include "qso/fields.h"
#include "qso/output_columns.h"
#include "text/ascii.h"

namespace qsoflat {

// The longest field name a column may have: the reader reads the first 64
// bytes of a tag, which must hold the "<", the name and the ":".
inline constexpr std::size_t longest_name = 62;

// Whether the byte may stand in a field name: an ASCII letter, a digit or
// an underscore.
constexpr bool is_name_byte(char c) {
  return is_letter(c) || is_digit(c) || c == '_';
}

// Whether the text is a field name: one to longest_name bytes, each one
// that is_name_byte takes.
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
  std::string_view name(std::size_t column) const {
    return columns_[column].name;
  }
  column_kind kind(std::size_t column) const { return columns_[column].kind; }

  // The column whose name, in any case, the tag's text (from its "<", its
  // first ">" left out) holds before its first ":", or no_column. The
  // column likely is tried first: a report's QSOs hold their fields in the
  // same order, so a reader that passes the column after its last match
  // seldom looks further: for --columns all, where both passes do, that
  // costs a tenth fewer instructions on a detailed download. Past the last
  // column, the first is likely. A few columns,
  // as a user lists, are walked by the name's first byte; more are found
  // through a hash table, so that the cost does not grow with their number.
  [[gnu::always_inline]] std::size_t match_tag(
      std::string_view tag, std::size_t likely = no_column) const {
    if (tag.size() < 2 || tag[0] != '<')
      return no_column;
    if (likely < columns_.size()) {
      if (names_exactly(tag, columns_[likely]))
        return likely;
    } else if (likely == columns_.size() && likely != 0 &&
               names_exactly(tag, columns_[0])) {
      // After the last column, the next QSO's first field.
      return 0;
    }
    for (std::uint32_t i =
             first_by_byte_[static_cast<unsigned char>(upper_case(tag[1]))];
         i != 0; i = columns_[i - 1].next)
      if (names(tag, columns_[i - 1]))
        return i - 1;
    return hashed_ ? find(tag) : no_column;
  }

 private:
  struct column {
    std::string name;  // as the header row shows it
    // For matching: 0x20 where the name has a letter, 0 elsewhere, and the
    // name with that bit set.
    std::string letters;
    std::string folded;
    column_kind kind;
    std::uint32_t next;  // the next column with the same first byte, plus one
  };

  // The most columns walked by their first byte, beyond which they are
  // found through the hash table.
  static constexpr std::size_t most_walked = 32;
  static_assert((most_walked & (most_walked - 1)) == 0,
                "the table's sizes are powers of two");

  // The column that the tag names, through the hash table; out of line,
  // so that the likely column's compare stays small enough to be inline.
  std::size_t find(std::string_view tag) const;
  static std::size_t hash(std::string_view name);
  std::size_t slot_of(const column& c) const;
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
  // For each first byte of a name in upper case, its first column plus one,
  // 0 for none; the columns sharing that byte are chained through next, so
  // that a tag is compared only with the names that can match it. Emptied
  // once the columns are hashed.
  std::array<std::uint32_t, 256> first_by_byte_{};
  // Past most_walked columns, open addressing by hash: each slot holds a
  // column's index plus one, or 0 when empty; at most half are taken.
  std::vector<std::uint32_t> slots_;
  bool hashed_ = false;
  bool in_report_order_ = false;
};

// Reads a list of field names separated by commas, such as
// "CALL,QSO_DATE,COUNTRY", into columns. False when a name is empty, holds
// another byte than a letter, digit or underscore, is longer than
// longest_name or stands twice in any case; bad_name is then that name.
bool parse_column_list(std::string_view text, column_list& columns,
                       std::string& bad_name);

// The output's columns for the list: each column from the slot of its
// index.
output_columns output_columns_of(const column_list& list);

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_COLUMN_LIST_H_
