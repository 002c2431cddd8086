#include "adif_reader.h"

#include <cstring>

namespace {

constexpr std::size_t initial_buffer_size = 64 * 1024;
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
  if (reader.end == buffer.size())
    buffer.resize(buffer.size() * 2);
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

// A line's text: leading carriage returns skipped, then cut at the first
// carriage return or NUL byte.
std::string_view line_text(std::string_view line) {
  std::size_t first = 0;
  while (first < line.size() && line[first] == '\r')
    ++first;
  std::size_t last = first;
  while (last < line.size() && line[last] != '\r' && line[last] != '\0')
    ++last;
  return line.substr(first, last - first);
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, std::FILE* message_stream)
    : in(input), messages(message_stream), buffer(initial_buffer_size) {}

std::optional<std::size_t> match_field(std::string_view text) {
  if (text.size() < 2)
    return std::nullopt;
  const std::string_view rest = text.substr(1);
  // No name repeats its first byte, so a name that stands at offset 1 has
  // no earlier occurrence: a prefix test of the rest is enough.
  for (std::size_t i = 0; i < field_count; ++i) {
    const std::string_view name = field_names[i];
    if (rest[0] == name[0] && rest.compare(0, name.size(), name) == 0)
      return i;
  }
  return std::nullopt;
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  std::string_view line;
  while (!reader.finished && next_line(reader, line)) {
    const std::string_view text = line_text(line);
    if (text.empty())
      continue;
    if (text == end_of_record)
      return read_outcome::record_complete;
    if (text == end_of_file)
      break;
    const std::optional<std::size_t> field = match_field(text);
    const std::size_t value_start = text.find('>');
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    if (field && value_start != std::string_view::npos) {
      field_slot& slot = record.slots[*field];
      slot.value.assign(text.substr(value_start + 1));
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
