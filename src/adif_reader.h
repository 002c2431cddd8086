// Reads the line-per-field ADIF of a LoTW status report, one QSO at a time.
#ifndef QSOFLAT_ADIF_READER_H_
#define QSOFLAT_ADIF_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The fields the program knows. An index into this table names a field
// everywhere: its record slot and, from 2 on, its output column.
inline constexpr std::size_t field_count = 17;
inline constexpr std::array<std::string_view, field_count> field_names = {
    "APP_LoTW_OWNCALL", "STATION_CALLSIGN", "CALL",     "BAND",
    "MODE",             "QSO_DATE",         "TIME_ON",  "QSL_RCVD",
    "QSLRDATE",         "DXCC",             "PFX",      "CQZ",
    "ITUZ",             "IOTA",             "GRIDSQUARE", "STATE",
    "CNTY",
};
inline constexpr std::size_t owncall_field = 0;
// What match_field gives for a text that names no field.
inline constexpr std::size_t no_field = field_count;

// A slot holding an empty value is still present: the writer tells an empty
// value from a field that never came. An emptied slot is one not present;
// its string keeps the last value's bytes, which nothing reads.
struct field_slot {
  bool present = false;
  std::string value;
};

// The QSO being assembled. Emptied slots keep their storage, so filling the
// next record allocates nothing once values of its size have been seen.
struct qso_record {
  std::array<field_slot, field_count> slots;
};

enum class read_outcome { record_complete, input_finished };

inline constexpr std::size_t initial_buffer_size = std::size_t{64} * 1024;

struct adif_reader {
  // The buffer starts at buffer_size bytes; a small one lets tests and the
  // fuzzer reach refills and growth with short inputs.
  explicit adif_reader(std::FILE* input,
                       std::size_t buffer_size = initial_buffer_size);

  std::FILE* in;  // borrowed; a read error stays visible via ferror
  // Set by the run before the first read. When true, a line with no known
  // field is skipped in the QSO part too; names must then equal a table
  // name and markers are taken in any case, and LoTW's " //" comment after
  // a value is cut off where the tag's length says the value ends.
  bool skip_unknown = false;
  bool owncall_seen = false;
  bool finished = false;
  // Whether fields were read since the last "<eor>": a QSO cut off there
  // was not written, and the run must say so.
  bool fields_pending = false;
  // The count that the first APP_LoTW_NUMREC line announced, if one came.
  bool count_announced = false;
  long long announced_count = 0;
  // Whether any line was a marker or a known field with its value: a file
  // without one is no report at all, and the run must not call it converted.
  bool report_seen = false;
  // Whether the reading ended at a line with no known field, so that the
  // rows after it were never read, and that line's text, for the run to
  // show the user.
  bool stopped_at_unknown = false;
  std::string stop_line;
  // Unread input lies in [begin, end), and a line feed that is not input at
  // end. The buffer grows only for a needed line that does not fit, and
  // goes back to its first size once the unread bytes fit in that again.
  // Each read asks for at most read_size bytes, the first size's room.
  std::vector<char> buffer;
  std::size_t read_size;
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_eof = false;
};

// The lowest index whose name stands at the text's second byte, or
// no_field.
std::size_t match_field(std::string_view text);

// The index of the name that a tag's text, from its "<" to its first ">"
// left out, holds before its first ":", compared without regard to case; or
// no_field, also for a tag without a ":" or not starting with "<".
std::size_t match_exact_field(std::string_view tag);

// The number that a value begins with: optional white space, an optional
// sign and decimal digits, as the C library reads it, but saturated at the
// 32-bit limits instead of overflowing.
struct leading_integer {
  std::int32_t value = 0;
  std::size_t digits = 0;  // the whole digit run, leading zeros included
};
leading_integer read_leading_integer(std::string_view text);

// The value less LoTW's comment: when the text after the length that the
// tag states (the digits after its first ":", up to ">" or to a type
// indicator) begins with " //", the value ends at that length. Otherwise,
// and when the length disagrees with the value, the value whole.
std::string_view without_comment(std::string_view tag, std::string_view value);

// The scan that splits the input into lines, the one place that looks for
// line feeds, carriage returns, NULs and ">" among the count bytes at block,
// count being at most scan_width. Invariant: bit i of a mask is set exactly
// when block[i] is one of its bytes and i < count; no byte at or past block
// + count is read. On an x86 processor with SSE2 a whole block is tested at
// once; the portable scan gives the same results on every target and is
// kept beside it, so that the two can be held against each other.
inline constexpr std::size_t scan_width = 16;
struct line_marks {
  std::uint32_t text_ends = 0;     // line feeds, carriage returns and NULs
  std::uint32_t value_starts = 0;  // ">"
};
line_marks find_line_marks(const char* block, std::size_t count);
line_marks find_line_marks_portable(const char* block, std::size_t count);
// Whether find_line_marks takes the SSE2 scan on this processor.
bool line_scan_uses_sse2();

// Reads lines into the record until an "<eor>" completes it, or until the
// input ends, the end-of-file marker comes, or an unknown field ends the
// reading once the QSO part has begun (never with skip_unknown).
read_outcome read_record(adif_reader& reader, qso_record& record);

#endif  // QSOFLAT_ADIF_READER_H_
