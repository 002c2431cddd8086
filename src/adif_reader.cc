#include "adif_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "leading_integer.h"

namespace {

constexpr std::string_view end_of_record = "<eor>";
constexpr std::string_view end_of_file = "<APP_LoTW_EOF>";
constexpr std::string_view end_of_header = "<eoh>";
constexpr std::string_view count_tag = "<APP_LoTW_NUMREC:";

// Of a tag only its first bytes are read, so that a line with a huge tag
// before its value is held in little memory, and read the same however
// much of it the buffer held.
constexpr std::size_t tag_head = 64;
static_assert(tag_head >= name_span && tag_head >= count_tag.size() &&
                  tag_head >= longest_name + 2,
              "the head of a tag tells its field and the count line");

// Whether text begins with prefix, in any case of ASCII letters if asked.
bool begins_with(std::string_view text, std::string_view prefix, bool any_case) {
  if (text.size() < prefix.size())
    return false;
  return any_case ? same_any_case(text.substr(0, prefix.size()), prefix)
                  : text.substr(0, prefix.size()) == prefix;
}

// A marker is the whole text; with skip_unknown, in any case. Inline, and
// forced to be, as each reading loop asks it of every line.
[[gnu::always_inline]] inline bool is_marker(std::string_view text, std::string_view marker, bool any_case) {
  return any_case ? same_any_case(text, marker) : text == marker;
}

// The tag of a line that holds a value: its text up to its first ">", of
// which only the head is read.
std::string_view tag_of(std::string_view text, std::size_t value_start) {
  return text.substr(0, std::min(value_start - 1, tag_head));
}

// The text of a tag between its "<" and its first ":", or nothing.
std::string_view name_in(std::string_view tag) {
  const std::size_t colon = tag.find(':');
  if (tag.empty() || tag[0] != '<' || colon == std::string_view::npos)
    return {};
  return tag.substr(1, colon - 1);
}

}  // namespace

adif_reader::adif_reader(std::FILE* input, bool skip_unknown,
                         std::size_t buffer_size)
    : lines_(input, buffer_size, tag_head),
      mode_(skip_unknown ? reading::skip_unknown : reading::fields) {}

adif_reader::adif_reader(std::FILE* input, const column_list& columns,
                         std::size_t buffer_size)
    : lines_(input, buffer_size, tag_head),
      mode_(reading::columns),
      columns_(&columns) {}

// Whether a tag names a field or column that the reading takes, in a
// reading that matches whole names.
bool adif_reader::takes(std::string_view tag) const {
  if (mode_ == reading::columns)
    return columns_->match_tag(tag) != column_list::no_column;
  return match_exact_field(tag) != no_field;
}

// What the reading needs of a line too long for the buffer, whose text
// begins with start: a field it keeps or the count line, their head and
// value; in the default mode once the own call has come, all of it, since
// the unknown line that ends the reading is shown. A start too short to
// tell is kept.
line_keep adif_reader::keep_of(const line& start) const {
  // A column's name may be as long as a tag's head.
  if (start.text.size() < (mode_ == reading::columns ? tag_head : name_span))
    return line_keep::all;
  const bool has_value = start.value_start != std::string_view::npos;
  const line_keep field = has_value ? line_keep::all : line_keep::head_and_value;
  const bool any_case = mode_ != reading::fields;
  // Any line may then end the reading and be shown, the count line too.
  if (!any_case && owncall_seen_)
    return line_keep::all;
  if (!summary_.count_announced && begins_with(start.text, count_tag, any_case))
    return field;
  if (any_case) {
    const std::string_view tag =
        start.text.substr(0, has_value ? start.value_start - 1 : start.text.size());
    return takes(tag) ? field : line_keep::none;
  }
  return match_field(start.text) != no_field ? field : line_keep::none;
}

// The reading loop, one copy for each mode, so that the default mode's
// lines pay nothing for the others' rules.
template <adif_reader::reading mode, bool in_report_order>
read_outcome adif_reader::read_lines(qso_record& record) {
  constexpr bool any_case = mode != reading::fields;
  // What the matching gives for a tag that names nothing the reading takes.
  constexpr std::size_t none =
      mode == reading::columns ? column_list::no_column : no_field;
  const auto keep = [this](const line& start) { return keep_of(start); };
  line current;
  while (!finished_ && lines_.next(current, keep)) {
    const auto [text, value_start] = current;
    if (text.empty())
      continue;
    // A line that names a field but holds no ">" carries no value, so it is
    // not taken for one.
    const bool has_value = value_start != std::string_view::npos;
    std::size_t field = none;
    std::string_view tag;
    if constexpr (mode == reading::skip_unknown) {
      if (has_value) {
        tag = tag_of(text, value_start);
        field = match_exact_field(tag);
      }
    } else if constexpr (mode == reading::columns) {
      if (has_value) {
        tag = tag_of(text, value_start);
        if constexpr (in_report_order) {
          field = columns_->match_tag(tag, likely_column_);
          if (field != none)
            likely_column_ = field + 1;
        } else {
          field = columns_->match_tag(tag);
        }
      }
    } else {
      field = match_field(text);
    }
    // No marker names a field, so a line that does is no marker: most lines
    // are fields, and skip the marker compares.
    if (field == none) {
      if (is_marker(text, end_of_record, any_case)) {
        summary_.report_seen = true;
        summary_.qso_cut_off = false;
        in_header_ = false;
        return read_outcome::record_complete;
      }
      if (is_marker(text, end_of_file, any_case)) {
        summary_.report_seen = true;
        break;
      }
      if constexpr (mode == reading::columns) {
        // The fields of the header were taken only until it was known to be
        // one.
        if (in_header_ && is_marker(text, end_of_header, true)) {
          in_header_ = false;
          summary_.qso_cut_off = false;
          for (field_slot& slot : record.slots)
            slot.present = false;
          continue;
        }
      }
    }
    if (field != none && has_value) {
      std::string_view value = text.substr(value_start);
      if constexpr (mode == reading::skip_unknown)
        value = without_comment(tag, field_names[field].name.size(), value);
      else if constexpr (mode == reading::columns)
        value = without_comment(tag, columns_->name(field).size(), value);
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
      if constexpr (mode != reading::columns) {
        if (field == owncall_field)
          owncall_seen_ = true;
        continue;
      }
      // A column may be the count line's own field, which still counts.
      if (summary_.count_announced)
        continue;
    }
    if (!summary_.count_announced && has_value &&
        begins_with(text, count_tag, any_case)) {
      summary_.count_announced = true;
      summary_.announced_count =
          read_leading_integer(text.substr(value_start)).value;
    }
    if (mode != reading::fields || !owncall_seen_)
      continue;
    summary_.stop_line.assign(text.data(), text.size());
    summary_.stopped_at_unknown = true;
    break;
  }
  finished_ = true;
  return read_outcome::input_finished;
}

read_outcome adif_reader::read(qso_record& record) {
  switch (mode_) {
    case reading::fields:
      return read_lines<reading::fields>(record);
    case reading::skip_unknown:
      return read_lines<reading::skip_unknown>(record);
    case reading::columns:
      break;
  }
  if (columns_->in_report_order())
    return read_lines<reading::columns, true>(record);
  return read_lines<reading::columns>(record);
}

read_outcome read_record(adif_reader& reader, qso_record& record) {
  return reader.read(record);
}

column_list columns_of(std::FILE* input, std::size_t buffer_size) {
  column_list columns;
  line_source lines(input, buffer_size, tag_head);
  // A long line that names a field is kept by its head, which holds the
  // name, and its value, as the reading keeps it; any other is passed over.
  const auto keep = [](const line& start) {
    if (start.text.size() < tag_head)
      return line_keep::all;
    const std::size_t value_start = start.value_start;
    const std::string_view head = tag_of(
        start.text, value_start == std::string_view::npos ? tag_head + 1 : value_start);
    return is_field_name(name_in(head)) ? line_keep::head_and_value
                                        : line_keep::none;
  };
  bool in_header = true;
  std::size_t likely = column_list::no_column;
  line current;
  while (lines.next(current, keep)) {
    const auto [text, value_start] = current;
    // A line that names a column already taken, as most do, is passed before
    // the markers are compared, since a marker names no column: compared
    // first, they cost --columns all half a percent more.
    const std::string_view tag =
        value_start == std::string_view::npos ? std::string_view()
                                               : tag_of(text, value_start);
    const std::size_t known = columns.match_tag(tag, likely);
    if (known != column_list::no_column) {
      likely = known + 1;
      continue;
    }
    if (is_marker(text, end_of_record, true)) {
      in_header = false;
      continue;
    }
    if (is_marker(text, end_of_file, true))
      break;
    // The names that the header held are not the QSOs'.
    if (in_header && is_marker(text, end_of_header, true)) {
      in_header = false;
      columns = column_list();
      continue;
    }
    if (value_start == std::string_view::npos)
      continue;
    const std::string_view name = name_in(tag);
    if (is_field_name(name) && columns.add(name))
      likely = columns.size();
  }
  columns.set_in_report_order();
  return columns;
}
