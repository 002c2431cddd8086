#include "adif_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__) && !defined(QSOFLAT_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

namespace {

constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";

// Refills the buffer behind the unread bytes, moving them to the front and
// doubling the buffer when a single line fills it, and puts the line feed
// back after them. False once nothing more can be read.
bool refill(adif_reader& reader) {
  if (reader.at_eof)
    return false;
  std::vector<char>& buffer = reader.buffer;
  if (reader.begin > 0) {
    std::memmove(buffer.data(), buffer.data() + reader.begin,
                 reader.end - reader.begin);
    reader.end -= reader.begin;
    reader.begin = 0;
  }
  const std::size_t room = buffer.size() - 1;
  if (reader.end == room) {
    if (room > (buffer.max_size() - 1) / 2)
      throw std::bad_alloc();
    buffer.resize(2 * room + 1);
  }
  const std::size_t wanted = buffer.size() - 1 - reader.end;
  const std::size_t got =
      std::fread(buffer.data() + reader.end, 1, wanted, reader.in);
  reader.end += got;
  buffer[reader.end] = '\n';
  // A short read means the end of the input or a read error; the caller
  // tells them apart with ferror.
  if (got < wanted)
    reader.at_eof = true;
  return got > 0;
}

bool is_line_mark(char c) {
  return c == '\n' || c == '\r' || c == '\0' || c == '>';
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

// The marks of the buffered input, taken in order, each block of scan_width
// bytes scanned once. Invariant: every mark before block has been taken, and
// pending holds exactly the marks in [block, block + scan_width) up to and
// including end that have not been taken yet, bit i for block[i]. The byte
// at end is the line feed that the reader keeps after its input, so a line
// always ends before the scan runs out.
struct mark_cursor {
  const char* block;
  const char* end;
  std::uint32_t pending;
};

std::uint32_t marks_at(const char* block, const char* end) {
  return find_line_marks(
      block,
      std::min(scan_width, static_cast<std::size_t>(end - block) + 1));
}

mark_cursor scan_from(const char* p, const char* end) {
  return {p, end, marks_at(p, end)};
}

// The next mark; end once every mark before it has been taken.
const char* next_mark(mark_cursor& marks) {
  while (marks.pending == 0) {
    if (static_cast<std::size_t>(marks.end - marks.block) < scan_width)
      return marks.end;
    marks.block += scan_width;
    marks.pending = marks_at(marks.block, marks.end);
  }
  const char* const mark = marks.block + lowest_bit(marks.pending);
  marks.pending &= marks.pending - 1;
  return mark;
}

// A line's text: leading carriage returns skipped, then cut at the first
// carriage return or NUL byte. The first ">" in it is where a field's value
// begins.
struct line_text {
  std::string_view text;
  std::size_t value_start = std::string_view::npos;
};

// Takes the marks of the line that starts at first and returns its line
// feed, or end when no line feed comes before end.
const char* cut_line(mark_cursor& marks, const char* first, line_text& line) {
  const char* mark = next_mark(marks);
  while (mark == first && *mark == '\r') {
    ++first;
    mark = next_mark(marks);
  }
  line.value_start = std::string_view::npos;
  if (*mark == '>') {
    line.value_start = static_cast<std::size_t>(mark + 1 - first);
    do
      mark = next_mark(marks);
    while (*mark == '>');
  }
  line.text = std::string_view(first, static_cast<std::size_t>(mark - first));
  while (*mark != '\n')
    mark = next_mark(marks);
  return mark;
}

// The next line, which ends at a line feed or at the end of the input,
// however long it is. A line that the buffer holds only in part is taken
// apart again from its start once more has been read, since a refill moves
// the bytes.
bool next_line(adif_reader& reader, mark_cursor& marks, line_text& line) {
  bool more = true;
  for (;;) {
    const char* const data = reader.buffer.data();
    const char* const feed = cut_line(marks, data + reader.begin, line);
    if (feed != marks.end) {
      reader.begin = static_cast<std::size_t>(feed + 1 - data);
      return true;
    }
    if (!more) {
      if (reader.begin == reader.end)
        return false;
      reader.begin = reader.end;
      return true;
    }
    more = refill(reader);
    marks = scan_from(reader.buffer.data() + reader.begin,
                      reader.buffer.data() + reader.end);
  }
}

// Each name is compared with its length known when compiling, which lets
// the compiler turn every comparison into a few word compares; the first
// match in table order wins.
template <std::size_t... index>
std::size_t match_in_table_order(std::string_view rest,
                                 std::index_sequence<index...>) {
  std::size_t found = no_field;
  (void)((rest[0] == field_names[index][0] &&
          rest.size() >= field_names[index].size() &&
          std::memcmp(rest.data(), field_names[index].data(),
                      field_names[index].size()) == 0 &&
          (found = index, true)) ||
         ...);
  return found;
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, std::FILE* message_stream,
                         std::size_t buffer_size)
    : in(input),
      messages(message_stream),
      buffer(std::max<std::size_t>(buffer_size, 1) + 1, '\n') {}

std::size_t match_field(std::string_view text) {
  if (text.size() < 2)
    return no_field;
  // No name is a single byte repeated, so a name that stands at offset 1
  // cannot also stand at offset 0: there, its first occurrence is at offset
  // 1, and a prefix test of the rest is enough.
  return match_in_table_order(text.substr(1),
                              std::make_index_sequence<field_count>());
}

std::uint32_t find_line_marks_portable(const char* block, std::size_t count) {
  std::uint32_t marks = 0;
  for (std::size_t i = 0; i < count; ++i)
    marks |= static_cast<std::uint32_t>(is_line_mark(block[i])) << i;
  return marks;
}

std::uint32_t find_line_marks(const char* block, std::size_t count) {
#if defined(__SSE2__) && !defined(QSOFLAT_PORTABLE_SCAN)
  if (count == scan_width) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const __m128i marks = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>'))));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(marks));
  }
#endif
  return find_line_marks_portable(block, count);
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  const char* const data = reader.buffer.data();
  mark_cursor marks = scan_from(data + reader.begin, data + reader.end);
  line_text line;
  while (!reader.finished && next_line(reader, marks, line)) {
    const auto [text, value_start] = line;
    if (text.empty())
      continue;
    if (text == end_of_record) {
      reader.report_seen = true;
      return read_outcome::record_complete;
    }
    if (text == end_of_file) {
      reader.report_seen = true;
      break;
    }
    const std::size_t field = match_field(text);
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    if (field != no_field && value_start != std::string_view::npos) {
      field_slot& slot = record.slots[field];
      const std::string_view value = text.substr(value_start);
      std::string& copy = slot.value;
      if (copy.size() == value.size())
        std::memcpy(copy.data(), value.data(), value.size());
      else
        copy.assign(value.data(), value.size());
      slot.present = true;
      reader.report_seen = true;
      if (field == owncall_field)
        reader.owncall_seen = true;
      continue;
    }
    if (!reader.owncall_seen)
      continue;
    (void)std::fputs("Unrecognized ADIF field ", reader.messages);
    (void)std::fwrite(text.data(), 1, text.size(), reader.messages);
    (void)std::fputc('\n', reader.messages);
    reader.stopped_at_unknown = true;
    break;
  }
  reader.finished = true;
  return read_outcome::input_finished;
}
