#include "adif_reader.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::size_t initial_buffer_size = 64 * 1024;
constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";

// Refills the buffer behind the unread bytes, moving them to the front and
// doubling the buffer when a single line fills it. A NUL always follows the
// data, so that every line in the buffer ends in a line feed or a NUL. False
// once nothing more can be read.
bool refill(adif_reader& reader) {
  if (reader.at_eof)
    return false;
  std::vector<char>& buffer = reader.buffer;
  const std::size_t capacity = buffer.size() - 1;
  if (reader.begin > 0) {
    std::memmove(buffer.data(), buffer.data() + reader.begin,
                 reader.end - reader.begin);
    reader.end -= reader.begin;
    reader.scanned -= reader.begin;
    reader.begin = 0;
  }
  if (reader.end == capacity) {
    if (capacity > buffer.max_size() / 2)
      throw std::bad_alloc();
    buffer.resize(capacity * 2 + 1);
  }
  const std::size_t wanted = buffer.size() - 1 - reader.end;
  const std::size_t got =
      std::fread(buffer.data() + reader.end, 1, wanted, reader.in);
  reader.end += got;
  buffer[reader.end] = '\0';
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

// A line's text: leading carriage returns skipped, then cut at the first
// carriage return or NUL byte. The same scan finds the first ">", where a
// field's value begins. The line feed or NUL that follows every buffered line
// stops the scans at the line's end.
struct line_text {
  std::string_view text;
  std::size_t value_start = std::string_view::npos;
};

line_text text_of(std::string_view line) {
  const char* first = line.data();
  while (*first == '\r')
    ++first;
  const char* last = first + std::strcspn(first, "\r\n>");
  line_text result;
  if (*last == '>') {
    result.value_start = static_cast<std::size_t>(last + 1 - first);
    last += 1 + std::strcspn(last + 1, "\r\n");
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
  (void)((rest.size() >= field_names[index].size() &&
          std::memcmp(rest.data(), field_names[index].data(),
                      field_names[index].size()) == 0 &&
          (found = index, true)) ||
         ...);
  return found;
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, std::FILE* message_stream)
    : in(input), messages(message_stream), buffer(initial_buffer_size + 1) {}

std::optional<std::size_t> match_field(std::string_view text) {
  if (text.size() < 2)
    return std::nullopt;
  // No name repeats its first byte, so a name that stands at offset 1 has
  // no earlier occurrence: a prefix test of the rest is enough.
  return match_in_table_order(text.substr(1),
                              std::make_index_sequence<field_count>());
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  std::string_view line;
  while (!reader.finished && next_line(reader, line)) {
    const auto [text, value_start] = text_of(line);
    if (text.empty())
      continue;
    if (text == end_of_record)
      return read_outcome::record_complete;
    if (text == end_of_file)
      break;
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
      if (*field == owncall_field)
        reader.owncall_seen = true;
      continue;
    }
    if (!reader.owncall_seen)
      continue;
    std::fputs("Unrecognized ADIF field ", reader.messages);
    std::fwrite(text.data(), 1, text.size(), reader.messages);
    std::fputc('\n', reader.messages);
    break;
  }
  reader.finished = true;
  return read_outcome::input_finished;
}
