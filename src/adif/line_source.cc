#include "adif/line_source.h"

#include <cstring>
#include <new>

namespace qsoflat {

namespace {

// The offset of the first byte in [p, p + size) whose mark is in the mask
// that pick takes from each block's marks, or size when none is.
template <class Pick>
std::size_t first_marked(const char* p, std::size_t size, Pick pick) {
  for (std::size_t at = 0; at < size; at += scan_width) {
    const std::uint32_t bits =
        pick(find_line_marks(p + at, std::min(scan_width, size - at)));
    if (bits != 0)
      return at + static_cast<std::size_t>(lowest_bit(bits));
  }
  return size;
}

std::size_t first_text_end(const char* p, std::size_t size) {
  return first_marked(p, size, [](line_marks m) { return m.text_ends; });
}

std::size_t first_text_end_or_value(const char* p, std::size_t size) {
  return first_marked(
      p, size, [](line_marks m) { return m.text_ends | m.value_starts; });
}

}  // namespace

line_source::line_source(std::FILE* input, std::size_t buffer_size,
                         std::size_t head_size)
    : in_(input),
      buffer_(std::max<std::size_t>(buffer_size, 1) + 1, '\n'),
      read_size_(buffer_.size() - 1),
      head_size_(head_size) {}

line line_source::held_text() const {
  const void* const value = std::memchr(buffer_.data(), '>', end_);
  return {std::string_view(buffer_.data(), end_),
          value == nullptr
              ? std::string_view::npos
              : static_cast<std::size_t>(static_cast<const char*>(value) + 1 -
                                         buffer_.data())};
}

void line_source::roll(std::size_t from, std::size_t size) {
  std::memmove(buffer_.data(), buffer_.data() + from, size);
  begin_ = 0;
  end_ = size;
  if (capacity() > read_size_ && end_ <= read_size_) {
    buffer_.resize(read_size_ + 1);
    buffer_.shrink_to_fit();
  }
}

// By half rather than twice, so that the buffer and the copy of the value
// it holds stay within two and a half times the value.
void line_source::grow() {
  const std::size_t room = capacity();
  const std::size_t more = std::max<std::size_t>(room / 2, 1);
  if (more > buffer_.max_size() - 1 - room)
    throw std::bad_alloc();
  // Growing by itself, the vector would take twice its size.
  buffer_.reserve(room + more + 1);
  buffer_.resize(room + more + 1);
}

bool line_source::read_more(filling& mode) {
  char* const at = buffer_.data() + end_;
  const std::size_t wanted = std::min(capacity() - end_, read_size_);
  const std::size_t got = std::fread(at, 1, wanted, in_);
  // A short read means the end of the input or a read error; the caller
  // tells them apart with ferror.
  if (got < wanted)
    at_eof_ = true;
  // What is kept of the bytes read starts at their offset from, which is
  // moved to end_.
  std::size_t from = 0;
  switch (mode) {
    case filling::text:
      break;
    case filling::to_value:
      from = first_text_end_or_value(at, got);
      if (from < got && at[from] == '>')
        mode = filling::text;
      else if (from < got)
        mode = filling::to_line_feed;
      break;
    case filling::to_line_feed: {
      const void* const feed = std::memchr(at, '\n', got);
      from =
          feed == nullptr
              ? got
              : static_cast<std::size_t>(static_cast<const char*>(feed) - at);
      break;
    }
  }
  if (from == got)
    return false;
  std::memmove(at, at + from, got - from);
  end_ += got - from;
  // Until its text ends, the line is all the buffer holds, and reading on
  // here spares taking it apart again after every read.
  return mode == filling::to_line_feed ||
         first_text_end(at, got - from) < got - from;
}

}  // namespace qsoflat
