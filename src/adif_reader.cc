#include "adif_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

// Every x86-64 processor has SSE2, so there the SSE2 scan is built in. The
// 32-bit program must start on any x86, so it asks the processor once, when
// the program starts, and takes the portable scan where SSE2 is missing.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && \
    !defined(QSOFLAT_PORTABLE_SCAN)
#define QSOFLAT_SSE2_SCAN
#include <emmintrin.h>
#ifdef __SSE2__
#define QSOFLAT_SSE2_TARGET
#else
#include <cpuid.h>
#define QSOFLAT_SSE2_TARGET __attribute__((target("sse2")))
#endif
#endif

namespace {

constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";

#ifdef QSOFLAT_SSE2_SCAN
#ifdef __SSE2__
constexpr bool sse2_scan = true;
#else
bool processor_has_sse2() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & bit_SSE2) != 0;
}
const bool sse2_scan = processor_has_sse2();
#endif

// The marks of a whole block, sixteen bytes tested at once.
QSOFLAT_SSE2_TARGET line_marks find_line_marks_sse2(const char* block) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i text_ends = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))),
      _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  const __m128i value_starts = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>'));
  return {static_cast<std::uint32_t>(_mm_movemask_epi8(text_ends)),
          static_cast<std::uint32_t>(_mm_movemask_epi8(value_starts))};
}
#else
constexpr bool sse2_scan = false;
#endif

// The high bit of each byte of x that is zero, and no other bit. No carry
// crosses from one byte into the next, so every bit is exact.
constexpr std::uint64_t low_bits = 0x0101010101010101u;
constexpr std::uint64_t zero_bytes(std::uint64_t x) {
  constexpr std::uint64_t low_sevens = 0x7F * low_bits;
  return ~(((x & low_sevens) + low_sevens) | x | low_sevens);
}

// The high bits of the eight bytes, gathered as bits 0 to 7: the multiply
// moves byte j's bit, alone, to bit 56 + j, and the partial products never
// meet.
constexpr std::uint32_t byte_flags(std::uint64_t high_bits) {
  return static_cast<std::uint32_t>(((high_bits >> 7) * 0x0102040810204080u) >>
                                    56);
}

// The eight bytes at p as a word, p[j] at bits 8j to 8j + 7 whatever the
// machine's byte order: one load where the order is known to be that one.
std::uint64_t load_word(const char* p) {
  std::uint64_t word = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(&word, p, sizeof word);
#else
  for (std::size_t j = 0; j < sizeof word; ++j)
    word |= std::uint64_t{static_cast<unsigned char>(p[j])} << (8 * j);
#endif
  return word;
}

int lowest_bit(std::uint32_t bits) {
#if defined(__GNUC__)
  return __builtin_ctz(bits);
#else
  int i = 0;
  for (; (bits & 1) == 0; bits >>= 1)
    ++i;
  return i;
#endif
}

// The marks of the block at p, which reaches at most to end and takes in
// the line feed that the reader keeps there.
line_marks marks_at(const char* p, const char* end) {
  return find_line_marks(
      p, std::min(scan_width, static_cast<std::size_t>(end - p) + 1));
}

// The first line feed at or after p; the one kept at end stops the search.
const char* find_feed(const char* p, const char* end) {
  for (;; p += scan_width) {
    for (std::uint32_t bits = marks_at(p, end).text_ends; bits != 0;
         bits &= bits - 1) {
      const char* const mark = p + lowest_bit(bits);
      if (*mark == '\n')
        return mark;
    }
  }
}

// A line's text: leading carriage returns skipped, then cut at the first
// carriage return or NUL byte. The first ">" in it is where a field's value
// begins.
struct line_text {
  std::string_view text;
  std::size_t value_start = std::string_view::npos;
};

bool refill(adif_reader& reader, std::string_view text);

// Takes apart the line that starts at first and returns its line feed, or
// end when no line feed comes before end. The text is scanned a block at a
// time up to its end; past the end only the line feed matters, and nearly
// always it ends the text or follows the carriage return that does.
[[gnu::always_inline]] inline const char* cut_line(const char* first,
                                                   const char* end,
                                                   line_text& line) {
  while (*first == '\r')
    ++first;
  // Invariant: no byte in [first, block) ends the text, and value is the
  // first ">" among them, if there is one. The line feed kept at end ends
  // the loop at the latest in the block that holds end.
  const char* block = first;
  const char* value = nullptr;
  line_marks marks = marks_at(block, end);
  for (;;) {
    if (value == nullptr && marks.value_starts != 0)
      value = block + lowest_bit(marks.value_starts);
    if (marks.text_ends != 0)
      break;
    block += scan_width;
    marks = marks_at(block, end);
  }
  const char* const text_end = block + lowest_bit(marks.text_ends);
  line.text = std::string_view(first, static_cast<std::size_t>(text_end - first));
  line.value_start = value != nullptr && value < text_end
                         ? static_cast<std::size_t>(value + 1 - first)
                         : std::string_view::npos;
  if (*text_end == '\n')
    return text_end;
  return text_end[1] == '\n' ? text_end + 1 : find_feed(text_end + 1, end);
}

// The next line, which ends at a line feed or at the end of the input,
// however long it is. A line that the buffer holds only in part is taken
// apart again from its start once more has been read. Each reading mode's
// loop gets its own inlined copy of this and cut_line, as it had when there
// was one loop: called, they cost the default mode an eighth more
// instructions.
[[gnu::always_inline]] inline bool next_line(adif_reader& reader,
                                             line_text& line) {
  bool more = true;
  for (;;) {
    const char* const data = reader.buffer.data();
    const char* const end = data + reader.end;
    const char* const feed = cut_line(data + reader.begin, end, line);
    if (feed != end) {
      reader.begin = static_cast<std::size_t>(feed + 1 - data);
      return true;
    }
    if (!more) {
      if (reader.begin == reader.end)
        return false;
      reader.begin = reader.end;
      return true;
    }
    more = refill(reader, line.text);
  }
}

// Whether field i's name begins rest. The name's length is known when
// compiling, which lets the compiler turn the comparison into a few word
// compares.
template <std::size_t i>
bool name_begins(std::string_view rest) {
  constexpr std::string_view name = field_names[i];
  return rest.size() >= name.size() &&
         std::memcmp(rest.data(), name.data(), name.size()) == 0;
}

using name_test = bool (*)(std::string_view);

template <std::size_t... index>
constexpr std::array<name_test, field_count> name_tests_for(
    std::index_sequence<index...>) {
  return {&name_begins<index>...};
}

constexpr std::array<name_test, field_count> name_tests =
    name_tests_for(std::make_index_sequence<field_count>());

// For each byte, the fields whose name begins with it, bit i for index i, so
// that a text is compared only with the names that can match it.
constexpr std::array<std::uint32_t, 256> fields_by_first_byte = [] {
  std::array<std::uint32_t, 256> fields{};
  for (std::size_t i = 0; i < field_count; ++i)
    fields[static_cast<unsigned char>(field_names[i][0])] |= std::uint32_t{1}
                                                             << i;
  return fields;
}();

// The byte with an ASCII lower-case letter made upper case; any other byte,
// also one of a UTF-8 sequence, as it is.
constexpr char upper_case(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether the two texts are the same but for the case of ASCII letters.
bool same_any_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_case(a[i]) != upper_case(b[i]))
      return false;
  return true;
}

// The fields whose name begins with the byte in either case.
constexpr std::array<std::uint32_t, 256> fields_by_first_byte_any_case = [] {
  std::array<std::uint32_t, 256> fields{};
  for (int c = 0; c < 256; ++c)
    fields[static_cast<std::size_t>(c)] =
        fields_by_first_byte[static_cast<unsigned char>(
            upper_case(static_cast<char>(c)))];
  return fields;
}();

// Whether the tag's text before its first ":" is field i's name in any
// case. A byte of the tag equals a letter of the name in either case exactly
// when the two are equal with bit 0x20 set in both, and any other byte of the
// name must be met as it is; the name is known when compiling, so the loop
// becomes a few compares with constants.
template <std::size_t i>
bool name_is_tag(std::string_view tag) {
  constexpr std::string_view name = field_names[i];
  if (tag.size() <= name.size() + 1 || tag[name.size() + 1] != ':')
    return false;
  for (std::size_t j = 0; j < name.size(); ++j) {
    const char c = name[j];
    const char letter_bit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                                ? 0x20
                                : 0;
    if ((tag[j + 1] | letter_bit) != (c | letter_bit))
      return false;
  }
  return true;
}

template <std::size_t... index>
constexpr std::array<name_test, field_count> exact_name_tests_for(
    std::index_sequence<index...>) {
  return {&name_is_tag<index>...};
}

constexpr std::array<name_test, field_count> exact_name_tests =
    exact_name_tests_for(std::make_index_sequence<field_count>());

// A marker is the whole text; with skip_unknown, in any case.
bool is_marker(std::string_view text, std::string_view marker, bool any_case) {
  return any_case ? same_any_case(text, marker) : text == marker;
}

constexpr std::string_view count_tag = "<APP_LoTW_NUMREC:";

// Whether text begins with prefix, in any case of ASCII letters if asked.
bool begins_with(std::string_view text, std::string_view prefix, bool any_case) {
  if (text.size() < prefix.size())
    return false;
  return any_case ? same_any_case(text.substr(0, prefix.size()), prefix)
                  : text.substr(0, prefix.size()) == prefix;
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, std::size_t buffer_size)
    : in(input),
      buffer(std::max<std::size_t>(buffer_size, 1) + 1, '\n'),
      read_size(buffer.size() - 1) {}

std::size_t match_field(std::string_view text) {
  if (text.size() < 2)
    return no_field;
  // No name is a single byte repeated, so a name that stands at offset 1
  // cannot also stand at offset 0: there, its first occurrence is at offset
  // 1, and a prefix test of the rest is enough. The candidates are tried in
  // table order, so the lowest index wins.
  const std::string_view rest(text.data() + 1, text.size() - 1);
  for (std::uint32_t fields =
           fields_by_first_byte[static_cast<unsigned char>(rest[0])];
       fields != 0; fields &= fields - 1) {
    const int i = lowest_bit(fields);
    if (name_tests[i](rest))
      return static_cast<std::size_t>(i);
  }
  return no_field;
}

std::size_t match_exact_field(std::string_view tag) {
  if (tag.size() < 2 || tag[0] != '<')
    return no_field;
  // No table name holds a ":", so a name that is followed by one in the tag
  // is the whole text before the tag's first ":"; a byte's test rejects
  // nearly every other candidate before its name is compared.
  for (std::uint32_t fields =
           fields_by_first_byte_any_case[static_cast<unsigned char>(tag[1])];
       fields != 0; fields &= fields - 1) {
    const int i = lowest_bit(fields);
    if (exact_name_tests[i](tag))
      return static_cast<std::size_t>(i);
  }
  return no_field;
}

leading_integer read_leading_integer(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  constexpr std::int64_t limit = std::int64_t{INT32_MAX} + 1;
  std::int64_t magnitude = 0;
  leading_integer result;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    ++result.digits;
    if (magnitude < limit)
      magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (magnitude > limit)
    magnitude = limit;
  if (negative)
    result.value = static_cast<std::int32_t>(-magnitude);
  else
    result.value = static_cast<std::int32_t>(
        magnitude > INT32_MAX ? std::int64_t{INT32_MAX} : magnitude);
  return result;
}

namespace {

// The value less its comment, for a tag whose first ":" is at colon.
std::string_view cut_comment(std::string_view tag, std::size_t colon,
                             std::string_view value) {
  // A length past the value's end disagrees with it, so reading the digits
  // stops there, before the number could wrap.
  std::size_t length = 0;
  std::size_t at = colon + 1;
  for (; at < tag.size() && tag[at] >= '0' && tag[at] <= '9'; ++at) {
    if (length > value.size() / 10)
      return value;
    length = length * 10 + static_cast<std::size_t>(tag[at] - '0');
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

// How much of a line's text tells whether it names a field: the "<", the
// longest name and the ":" after it.
constexpr std::size_t name_span = [] {
  std::size_t longest = 0;
  for (const std::string_view name : field_names)
    longest = std::max(longest, name.size());
  return longest + 2;
}();

// Whether the reading needs the line whose text begins with start, which
// may be all of it: a field it keeps, the count line, or, in the default
// mode once the own call has come, the unknown line that ends the reading
// and is shown. A start too short to tell is needed.
bool line_is_needed(const adif_reader& reader, std::string_view start) {
  if (start.size() < name_span)
    return true;
  if (!reader.count_announced &&
      begins_with(start, count_tag, reader.skip_unknown))
    return true;
  if (reader.skip_unknown)
    return match_exact_field(start.substr(0, start.find('>'))) != no_field;
  return reader.owncall_seen || match_field(start) != no_field;
}

// Whether a byte in [p, stop) ends a line's text.
bool holds_text_end(const char* p, const char* stop) {
  for (; p < stop; p += scan_width)
    if (find_line_marks(p, std::min(scan_width,
                                    static_cast<std::size_t>(stop - p)))
            .text_ends != 0)
      return true;
  return false;
}

// Reads more of the current line, whose text so far is text, behind the
// unread bytes, which move to the front, and puts the line feed back after
// them. False once nothing more can be read.
//
// Memory stays bounded by what the reading keeps. Leading carriage returns
// are let go. A line whose text has ended keeps only its text and the byte
// that ended it, or nothing when the line is not needed, and the rest of it
// is read and thrown away up to its line feed. A text that fills the buffer
// grows it by half when the line is needed, and is thrown away so when not:
// by half rather than twice, so that the buffer and the value's copy in the
// record stay within two and a half times the value. Each read takes at
// most read_size bytes, so that a buffer grown for one line holds little of
// the input after it and is given back at the next refill.
bool refill(adif_reader& reader, std::string_view text) {
  if (reader.at_eof)
    return false;
  std::vector<char>& buffer = reader.buffer;
  reader.begin = static_cast<std::size_t>(text.data() - buffer.data());
  const bool text_ended = reader.begin + text.size() != reader.end;
  bool passing_over = false;
  if (text_ended) {
    reader.end = line_is_needed(reader, text)
                     ? reader.begin + text.size() + 1
                     : reader.begin;
    passing_over = true;
  }
  if (reader.begin > 0) {
    std::memmove(buffer.data(), buffer.data() + reader.begin,
                 reader.end - reader.begin);
    reader.end -= reader.begin;
    reader.begin = 0;
  }
  if (buffer.size() - 1 > reader.read_size && reader.end <= reader.read_size) {
    buffer.resize(reader.read_size + 1);
    buffer.shrink_to_fit();
  }
  bool added = false;
  for (;;) {
    const std::size_t room = buffer.size() - 1;
    if (reader.end == room && !passing_over &&
        !line_is_needed(reader, std::string_view(buffer.data(), room))) {
      reader.end = 0;
      passing_over = true;
    }
    if (reader.end == room) {
      const std::size_t more = std::max<std::size_t>(room / 2, 1);
      if (more > buffer.max_size() - 1 - room)
        throw std::bad_alloc();
      // Growing by itself, the vector would take twice its size.
      buffer.reserve(room + more + 1);
      buffer.resize(room + more + 1);
    }
    char* const at = buffer.data() + reader.end;
    const std::size_t wanted =
        std::min(buffer.size() - 1 - reader.end, reader.read_size);
    const std::size_t got = std::fread(at, 1, wanted, reader.in);
    // A short read means the end of the input or a read error; the caller
    // tells them apart with ferror.
    if (got < wanted)
      reader.at_eof = true;
    if (passing_over) {
      const char* const feed =
          static_cast<const char*>(std::memchr(at, '\n', got));
      if (feed != nullptr) {
        const std::size_t kept = static_cast<std::size_t>(at + got - feed);
        if (feed != at)
          std::memmove(at, feed, kept);
        reader.end += kept;
        added = true;
        break;
      }
    } else {
      reader.end += got;
      added = added || got > 0;
      // Until its text ends, the line is all the buffer holds, and reading
      // on here spares taking it apart again after every read.
      if (holds_text_end(at, at + got))
        break;
    }
    if (reader.at_eof)
      break;
  }
  buffer[reader.end] = '\n';
  return added;
}

}  // namespace

std::string_view without_comment(std::string_view tag, std::string_view value) {
  const std::size_t colon = tag.find(':');
  return colon == std::string_view::npos ? value
                                         : cut_comment(tag, colon, value);
}

// Eight bytes at a time as one word, the bytes that remain one by one.
line_marks find_line_marks_portable(const char* block, std::size_t count) {
  line_marks marks;
  std::size_t i = 0;
  for (; count - i >= sizeof(std::uint64_t); i += sizeof(std::uint64_t)) {
    const std::uint64_t word = load_word(block + i);
    const std::uint64_t text_ends = zero_bytes(word ^ (low_bits * '\n')) |
                                    zero_bytes(word ^ (low_bits * '\r')) |
                                    zero_bytes(word);
    marks.text_ends |= byte_flags(text_ends) << i;
    marks.value_starts |= byte_flags(zero_bytes(word ^ (low_bits * '>'))) << i;
  }
  for (; i < count; ++i) {
    const char c = block[i];
    const bool text_end = c == '\n' || c == '\r' || c == '\0';
    marks.text_ends |= static_cast<std::uint32_t>(text_end) << i;
    marks.value_starts |= static_cast<std::uint32_t>(c == '>') << i;
  }
  return marks;
}

line_marks find_line_marks(const char* block, std::size_t count) {
#ifdef QSOFLAT_SSE2_SCAN
  if (sse2_scan && count == scan_width)
    return find_line_marks_sse2(block);
#endif
  return find_line_marks_portable(block, count);
}

bool line_scan_uses_sse2() { return sse2_scan; }

namespace {

// The reading loop, one copy for each mode, so that the default mode's
// lines pay nothing for the other's rules.
template <bool skip_unknown>
read_outcome read_lines(adif_reader& reader, qso_record& record) {
  line_text line;
  while (!reader.finished && next_line(reader, line)) {
    const auto [text, value_start] = line;
    if (text.empty())
      continue;
    if (is_marker(text, end_of_record, skip_unknown)) {
      reader.report_seen = true;
      reader.fields_pending = false;
      return read_outcome::record_complete;
    }
    if (is_marker(text, end_of_file, skip_unknown)) {
      reader.report_seen = true;
      break;
    }
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    std::size_t field = no_field;
    if constexpr (skip_unknown) {
      if (value_start != std::string_view::npos)
        field = match_exact_field(text.substr(0, value_start - 1));
    } else {
      field = match_field(text);
    }
    if (field != no_field && value_start != std::string_view::npos) {
      field_slot& slot = record.slots[field];
      std::string_view value(text.data() + value_start,
                             text.size() - value_start);
      if constexpr (skip_unknown)
        value = cut_comment(text.substr(0, value_start - 1),
                            field_names[field].size() + 1, value);
      // A value as long as the slot's last one, as most are, is copied over
      // it in place; the slot's storage is reused either way.
      std::string& copy = slot.value;
      if (copy.size() == value.size())
        std::memcpy(copy.data(), value.data(), value.size());
      else
        copy.assign(value.data(), value.size());
      slot.present = true;
      reader.report_seen = true;
      reader.fields_pending = true;
      if (field == owncall_field)
        reader.owncall_seen = true;
      continue;
    }
    if (!reader.count_announced && value_start != std::string_view::npos &&
        begins_with(text, count_tag, reader.skip_unknown)) {
      reader.count_announced = true;
      reader.announced_count =
          read_leading_integer(text.substr(value_start)).value;
    }
    if (skip_unknown || !reader.owncall_seen)
      continue;
    reader.stop_line.assign(text.data(), text.size());
    reader.stopped_at_unknown = true;
    break;
  }
  reader.finished = true;
  return read_outcome::input_finished;
}

}  // namespace

read_outcome read_record(adif_reader& reader, qso_record& record) {
  return reader.skip_unknown ? read_lines<true>(reader, record)
                             : read_lines<false>(reader, record);
}
