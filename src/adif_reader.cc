#include "adif_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";

// Refills the buffer behind the unread bytes, moving them to the front and
// doubling the buffer when a single line fills it. False once nothing more
// can be read.
bool refill(adif_reader& reader) {
  if (reader.at_eof)
    return false;
  std::vector<char>& buffer = reader.buffer;
  if (reader.begin > 0) {
    std::memmove(buffer.data(), buffer.data() + reader.begin,
                 reader.end - reader.begin);
    reader.end -= reader.begin;
    reader.scanned -= reader.begin;
    reader.begin = 0;
  }
  if (reader.end == buffer.size()) {
    if (buffer.size() > buffer.max_size() / 2)
      throw std::bad_alloc();
    buffer.resize(buffer.size() * 2);
  }
  const std::size_t wanted = buffer.size() - reader.end;
  const std::size_t got =
      std::fread(buffer.data() + reader.end, 1, wanted, reader.in);
  reader.end += got;
  // A short read means the end of the input or a read error; the caller
  // tells them apart with ferror.
  if (got < wanted)
    reader.at_eof = true;
  return got > 0;
}

// The next line, without its line feed: everything up to a line feed or to
// the end of the input, however long.
bool next_line(adif_reader& reader, std::string_view& line) {
  for (;;) {
    const char* data = reader.buffer.data();
    const void* feed = std::memchr(data + reader.scanned, '\n',
                                   reader.end - reader.scanned);
    if (feed != nullptr) {
      const std::size_t stop = static_cast<const char*>(feed) - data;
      line = std::string_view(data + reader.begin, stop - reader.begin);
      reader.begin = reader.scanned = stop + 1;
      return true;
    }
    reader.scanned = reader.end;
    if (!refill(reader)) {
      if (reader.begin == reader.end)
        return false;
      line = std::string_view(reader.buffer.data() + reader.begin,
                              reader.end - reader.begin);
      reader.begin = reader.scanned = reader.end;
      return true;
    }
  }
}

// The high bit of each byte of the word that equals b. Only the lowest such
// bit is sure to mark a real match: a borrow can mark bytes above one.
constexpr std::uint64_t low_bits = 0x0101010101010101u;
constexpr std::uint64_t bytes_equal(std::uint64_t word, unsigned char b) {
  const std::uint64_t x = word ^ (low_bits * b);
  return (x - low_bits) & ~x & (low_bits << 7);
}

// The first carriage return or NUL in [p, end), or the first ">" too when
// asked. Eight bytes are tested at a time while they lie before limit, which
// may be past end: bytes beyond end are read but never taken.
const char* find_text_end(const char* p, const char* end, const char* limit,
                          bool or_gt) {
  while (p < end && limit - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    std::uint64_t hits = bytes_equal(word, '\r') | bytes_equal(word, '\0');
    if (or_gt)
      hits |= bytes_equal(word, '>');
    if (hits != 0) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      const char* found = p + (__builtin_ctzll(hits) >> 3);
      return found < end ? found : end;
#else
      break;
#endif
    }
    p += 8;
  }
  if (p > end)
    return end;
  while (p < end && *p != '\r' && *p != '\0' && !(or_gt && *p == '>'))
    ++p;
  return p;
}

// A line's text: leading carriage returns skipped, then cut at the first
// carriage return or NUL byte. The same scan finds the first ">", where a
// field's value begins. Bytes up to limit may be read.
struct line_text {
  std::string_view text;
  std::size_t value_start = std::string_view::npos;
};

line_text text_of(std::string_view line, const char* limit) {
  const char* first = line.data();
  const char* const end = first + line.size();
  while (first < end && *first == '\r')
    ++first;
  const char* last = find_text_end(first, end, limit, true);
  line_text result;
  if (last < end && *last == '>') {
    result.value_start = static_cast<std::size_t>(last + 1 - first);
    last = find_text_end(last + 1, end, limit, false);
  }
  result.text = std::string_view(first, static_cast<std::size_t>(last - first));
  return result;
}

// Each name is compared with its length known when compiling, which lets
// the compiler turn every comparison into a few word compares; the first
// match in table order wins.
template <std::size_t... index>
std::optional<std::size_t> match_in_table_order(
    std::string_view rest, std::index_sequence<index...>) {
  std::optional<std::size_t> found;
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
      buffer(std::max<std::size_t>(buffer_size, 1)) {}

std::optional<std::size_t> match_field(std::string_view text) {
  if (text.size() < 2)
    return std::nullopt;
  // No name is a single byte repeated, so a name that stands at offset 1
  // cannot also stand at offset 0: there, its first occurrence is at offset
  // 1, and a prefix test of the rest is enough.
  return match_in_table_order(text.substr(1),
                              std::make_index_sequence<field_count>());
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  std::string_view line;
  while (!reader.finished && next_line(reader, line)) {
    const char* const limit = reader.buffer.data() + reader.end;
    const auto [text, value_start] = text_of(line, limit);
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
    const std::optional<std::size_t> field = match_field(text);
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    if (field && value_start != std::string_view::npos) {
      field_slot& slot = record.slots[*field];
      // Clearing first lets the copy reuse the slot's storage without the
      // general replace path.
      slot.value.clear();
      slot.value.append(text.substr(value_start));
      slot.present = true;
      reader.report_seen = true;
      if (*field == owncall_field)
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
