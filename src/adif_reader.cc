#include "adif_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "leading_integer.h"

namespace {

constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";
constexpr std::string_view count_tag = "<APP_LoTW_NUMREC:";

// Of a tag only its first bytes are read, so that a line with a huge tag
// before its value is held in little memory, and read the same however
// much of it the buffer held.
constexpr std::size_t tag_head = 64;
static_assert(tag_head >= name_span && tag_head >= count_tag.size(),
              "the head of a tag tells its field and the count line");

// Whether text begins with prefix, in any case of ASCII letters if asked.
bool begins_with(std::string_view text, std::string_view prefix, bool any_case) {
  if (text.size() < prefix.size())
    return false;
  return any_case ? same_any_case(text.substr(0, prefix.size()), prefix)
                  : text.substr(0, prefix.size()) == prefix;
}

// A marker is the whole text; with skip_unknown, in any case.
bool is_marker(std::string_view text, std::string_view marker, bool any_case) {
  return any_case ? same_any_case(text, marker) : text == marker;
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, bool skip_unknown,
                         std::size_t buffer_size)
    : lines_(input, buffer_size, tag_head), skip_unknown_(skip_unknown) {}

// What the reading needs of a line too long for the buffer, whose text
// begins with start: a field it keeps or the count line, their head and
// value; in the default mode once the own call has come, all of it, since
// the unknown line that ends the reading is shown. A start too short to
// tell is kept.
line_keep adif_reader::keep_of(const line& start) const {
  if (start.text.size() < name_span)
    return line_keep::all;
  const bool has_value = start.value_start != std::string_view::npos;
  const line_keep field = has_value ? line_keep::all : line_keep::head_and_value;
  if (!summary_.count_announced &&
      begins_with(start.text, count_tag, skip_unknown_))
    return field;
  if (skip_unknown_) {
    const std::string_view tag =
        start.text.substr(0, has_value ? start.value_start - 1 : start.text.size());
    return match_exact_field(tag) != no_field ? field : line_keep::none;
  }
  if (owncall_seen_)
    return line_keep::all;
  return match_field(start.text) != no_field ? field : line_keep::none;
}

// The reading loop, one copy for each mode, so that the default mode's
// lines pay nothing for the other's rules.
template <bool skip_unknown>
read_outcome adif_reader::read_lines(qso_record& record) {
  const auto keep = [this](const line& start) { return keep_of(start); };
  line current;
  while (!finished_ && lines_.next(current, keep)) {
    const auto [text, value_start] = current;
    if (text.empty())
      continue;
    if (is_marker(text, end_of_record, skip_unknown)) {
      summary_.report_seen = true;
      summary_.qso_cut_off = false;
      return read_outcome::record_complete;
    }
    if (is_marker(text, end_of_file, skip_unknown)) {
      summary_.report_seen = true;
      break;
    }
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    const bool has_value = value_start != std::string_view::npos;
    std::size_t field = no_field;
    std::string_view tag;
    if constexpr (skip_unknown) {
      if (has_value) {
        tag = text.substr(0, std::min(value_start - 1, tag_head));
        field = match_exact_field(tag);
      }
    } else {
      field = match_field(text);
    }
    if (field != no_field && has_value) {
      std::string_view value = text.substr(value_start);
      if constexpr (skip_unknown)
        value = without_comment(tag, field, value);
      // A value as long as the slot's last one, as most are, is copied over
      // it in place, which spares assign's general path.
      field_slot& slot = record.slots[field];
      if (slot.value.size() == value.size())
        std::memcpy(slot.value.data(), value.data(), value.size());
      else
        slot.value.assign(value.data(), value.size());
      slot.present = true;
      summary_.report_seen = true;
      summary_.qso_cut_off = true;
      if (field == owncall_field)
        owncall_seen_ = true;
      continue;
    }
    if (!summary_.count_announced && has_value &&
        begins_with(text, count_tag, skip_unknown)) {
      summary_.count_announced = true;
      summary_.announced_count =
          read_leading_integer(text.substr(value_start)).value;
    }
    if (skip_unknown || !owncall_seen_)
      continue;
    summary_.stop_line.assign(text.data(), text.size());
    summary_.stopped_at_unknown = true;
    break;
  }
  finished_ = true;
  return read_outcome::input_finished;
}

read_outcome adif_reader::read(qso_record& record) {
  return skip_unknown_ ? read_lines<true>(record) : read_lines<false>(record);
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  return reader.read(record);
}

namespace {

std::string_view trimmed(std::string_view line) {
  constexpr std::string_view blanks = " \t\r";
  const std::size_t first = line.find_first_not_of(blanks);
  if (first == std::string_view::npos)
    return {};
  return line.substr(first, line.find_last_not_of(blanks) + 1 - first);
}

bool is_field_line(std::string_view line) {
  std::size_t at = 1;
  while (at < line.size() && (std::isalnum(static_cast<unsigned char>(line[at])) != 0 || line[at] == '_'))
    ++at;
  return line.size() > at && line[0] == '<' && at > 1 && line[at] == ':';
}

}  // namespace

bool looks_like_report(std::string_view head) {
  for (std::size_t at = head.find('<'); at != std::string_view::npos;
       at = head.find('<', at + 1))
    if (begins_with(head.substr(at), end_of_file, true))
      return true;
  constexpr std::string_view end_of_header = "<eoh>";
  bool header_ended = false;
  while (!head.empty()) {
    const std::size_t end = std::min(head.find('\n'), head.size());
    const std::string_view line = trimmed(head.substr(0, end));
    head.remove_prefix(std::min(end + 1, head.size()));
    if (header_ended && is_field_line(line))
      return true;
    if (line.size() >= end_of_header.size() &&
        same_any_case(line.substr(line.size() - end_of_header.size()),
                      end_of_header))
      header_ended = true;
  }
  return false;
}
