// Hands out the input's lines one at a time, however long, holding no more
// of a line than its caller says it keeps.
#ifndef QSOFLAT_ADIF_LINE_SOURCE_H_
#define QSOFLAT_ADIF_LINE_SOURCE_H_

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

#include "adif/line_scan.h"

namespace qsoflat {

// A line's text: leading carriage returns skipped, then cut at the first
// line feed, carriage return or NUL byte. value_start is the offset just
// past the text's first ">", or npos when it holds none.
struct line {
  std::string_view text;
  std::size_t value_start = std::string_view::npos;
};

// What the caller keeps of a line too long for the buffer, asked with the
// line's text so far: all of it; none, so that it is passed over; or its
// head (the source's head_size first bytes) and its text from its first ">"
// on, which a line whose text so far holds no ">" can be cut to.
enum class line_keep { all, none, head_and_value };

inline constexpr std::size_t initial_buffer_size = std::size_t{64} * 1024;

class line_source {
 public:
  // The buffer starts at buffer_size bytes; a small one lets tests and the
  // fuzzer reach refills and growth with short inputs.
  line_source(std::FILE* input, std::size_t buffer_size, std::size_t head_size);

  // Sets the next line and returns true, or returns false at the end of the
  // input. keep(const line&) -> line_keep is asked only about a line that
  // does not fit the buffer, or whose text ends before a line feed that the
  // buffer does not hold; the text it is given stays valid until the next
  // call.
  template <class Keep>
  bool next(line& out, Keep&& keep);

  // The bytes the buffer holds now, for tests of its bounds.
  std::size_t capacity() const { return buffer_.size() - 1; }

 private:
  // How the bytes still to be read belong to the line being filled in.
  enum class filling {
    text,         // they continue its text, which is kept
    to_value,     // they are dropped up to its first ">" or its text's end
    to_line_feed  // they are dropped up to its line feed
  };

  // Takes apart the line at begin_ and returns its line feed, or the end of
  // the bytes held when none comes before it.
  const char* cut(line& out);
  // Whether a byte before the end of the bytes held ended the text of the
  // line, which cut took apart: its text then stops short of that end.
  bool text_ended(const line& cut_line) const {
    return cut_line.text.data() + cut_line.text.size() != buffer_.data() + end_;
  }
  // Rolls what is kept of the line, whose text so far is partial, to the
  // front and reads until its text ends, a line feed comes after what is
  // kept, or the input ends.
  template <class Keep>
  void fill(const line& partial, Keep& keep);
  // The steps of a fill: move the size bytes at from to the front, grow by
  // half, and read once, keeping of what was read what the mode keeps, and
  // saying whether the fill is done.
  void roll(std::size_t from, std::size_t size);
  void grow();
  bool read_more(filling& mode);
  // The whole buffer as a line's text so far, with its first ">".
  line held_text() const;
  // Whether the buffer's invariant below holds; asserted after each fill.
  bool holds_invariant() const {
    return begin_ <= end_ && end_ < buffer_.size() && buffer_[end_] == '\n';
  }

  std::FILE* in_;  // borrowed; a read error stays visible via ferror
  // Invariant: the unread input is [begin_, end_), buffer_[end_] is a line
  // feed that is not input, so that every scan stops at end_ at the latest,
  // and end_ < buffer_.size(). The buffer grows only for a line kept whole
  // that does not fit, and goes back to read_size_ + 1 bytes once what is
  // kept fits in that again.
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // Each read asks for at most read_size_ bytes, the first buffer's room, so
  // that a buffer grown for one line holds little of the input after it.
  const std::size_t read_size_;
  // The bytes of a line's start that line_keep::head_and_value keeps.
  const std::size_t head_size_;
  bool at_eof_ = false;  // a short read came: the input ended or failed
};

[[gnu::always_inline]] inline const char* line_source::cut(line& out) {
  const char* first = buffer_.data() + begin_;
  const char* const end = buffer_.data() + end_;
  while (*first == '\r')
    ++first;
  // Invariant: no byte in [first, block) ends the text, and value is the
  // first ">" among them, if there is one. The line feed kept at end ends
  // the loop at the latest in the block that holds end.
  const char* block = first;
  const char* value = nullptr;
  for (;;) {
    const std::size_t count =
        std::min(scan_width, static_cast<std::size_t>(end - block) + 1);
    const line_marks marks = find_line_marks(block, count);
    if (value == nullptr && marks.value_starts != 0)
      value = block + lowest_bit(marks.value_starts);
    if (marks.text_ends != 0) {
      block += lowest_bit(marks.text_ends);
      break;
    }
    block += scan_width;
  }
  const char* const text_end = block;
  out.text =
      std::string_view(first, static_cast<std::size_t>(text_end - first));
  out.value_start = value != nullptr && value < text_end
                        ? static_cast<std::size_t>(value + 1 - first)
                        : std::string_view::npos;
  // Past the text only the line feed matters, and nearly always it ends the
  // text or follows the carriage return that does.
  if (*text_end == '\n' || text_end[1] == '\n')
    return *text_end == '\n' ? text_end : text_end + 1;
  const std::string_view rest(text_end + 1,
                              static_cast<std::size_t>(end - text_end));
  return rest.data() + rest.find('\n');
}

template <class Keep>
[[gnu::always_inline]] inline bool line_source::next(line& out, Keep&& keep) {
  for (;;) {
    const char* const feed = cut(out);
    if (feed != buffer_.data() + end_) {
      begin_ = static_cast<std::size_t>(feed + 1 - buffer_.data());
      return true;
    }
    if (at_eof_) {
      // The last line needs no line feed.
      if (begin_ == end_)
        return false;
      begin_ = end_;
      return true;
    }
    fill(out, keep);
  }
}

template <class Keep>
void line_source::fill(const line& partial, Keep& keep) {
  // A line whose text has ended keeps at most its text and the byte that
  // ended it, which the buffer already holds, and the rest of it is dropped.
  const std::size_t start =
      static_cast<std::size_t>(partial.text.data() - buffer_.data());
  filling mode = filling::text;
  std::size_t kept = end_ - start;
  if (text_ended(partial)) {
    mode = filling::to_line_feed;
    kept = keep(partial) == line_keep::none ? 0 : partial.text.size() + 1;
  }
  roll(start, kept);
  do {
    if (end_ == capacity() && mode == filling::text) {
      const line held = held_text();
      const line_keep what = keep(held);
      if (what == line_keep::none) {
        end_ = 0;
        mode = filling::to_line_feed;
      } else if (what == line_keep::head_and_value && end_ > head_size_ &&
                 held.value_start == std::string_view::npos) {
        end_ = head_size_;
        mode = filling::to_value;
      }
    }
    if (end_ == capacity())
      grow();
  } while (!read_more(mode) && !at_eof_);
  buffer_[end_] = '\n';
  assert(holds_invariant());
}

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_LINE_SOURCE_H_
