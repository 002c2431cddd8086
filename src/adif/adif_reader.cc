#include "adif/adif_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "text/leading_integer.h"

namespace qsoflat {

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
bool begins_with(std::string_view text, std::string_view prefix,
                 bool any_case) {
  if (text.size() < prefix.size())
    return false;
  return any_case ? same_any_case(text.substr(0, prefix.size()), prefix)
                  : text.substr(0, prefix.size()) == prefix;
}

// A marker is the whole text; with skip_unknown, in any case. Inline, and
// forced to be, as each reading loop asks it of every line.
[[gnu::always_inline]] inline bool is_marker(std::string_view text,
                                             std::string_view marker,
                                             bool any_case) {
  return any_case ? same_any_case(text, marker) : text == marker;
}

// The tag of a line that holds a value: its text up to its first ">", of
// which only the head is read.
std::string_view tag_of(std::string_view text, std::size_t value_start) {
  return text.substr(0, std::min(value_start - 1, tag_head));
}

// What a tag's head names, by the rules that both readings with columns
// follow: a field, when "<", a name of bytes that is_name_byte takes and
// ":" begin it; a field whose name is longer than a column's may be, when
// the head is "<" and more such bytes than that, and so cannot tell where
// the name ends; or nothing.
enum class tag_name { none, field, too_long };

tag_name name_of_tag(std::string_view head) {
  if (head.size() < 2 || head[0] != '<')
    return tag_name::none;
  std::size_t at = 1;
  while (at < head.size() && is_name_byte(head[at]))
    ++at;
  if (at - 1 > longest_name)
    return tag_name::too_long;
  return at > 1 && at < head.size() && head[at] == ':' ? tag_name::field
                                                       : tag_name::none;
}

// How the first reading keeps a long line: one that may name a field by its
// head, which holds the name, and its value, as the reading keeps it; any
// other is passed over.
line_keep keep_for_columns(const line& start) {
  if (start.text.size() < tag_head)
    return line_keep::all;
  return name_of_tag(start.text.substr(0, tag_head)) != tag_name::none
             ? line_keep::head_and_value
             : line_keep::none;
}

// The name in a tag that name_of_tag finds a field.
std::string_view name_in(std::string_view tag) {
  return tag.substr(1, tag.find(':') - 1);
}

// The marker that a line's text is, by the rules of every reading:
// "<eor>" and "<APP_LoTW_EOF>" as the text whole, in any case where the
// reading compares in any case; with the header rule of the readings with
// columns, "<eoh>" in any case while in the header. Inline, and forced to
// be, as the reading asks it of every line that names no field.
template <bool any_case, bool with_header>
[[gnu::always_inline]] inline marker marker_in(std::string_view text,
                                               bool in_header) {
  if (is_marker(text, end_of_record, any_case))
    return marker::end_of_record;
  if (is_marker(text, end_of_file, any_case))
    return marker::end_of_file;
  if (with_header && in_header && is_marker(text, end_of_header, true))
    return marker::end_of_header;
  return marker::none;
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
// tell is kept. A field line that no column takes is passed over, and
// counted as the short ones are.
line_keep adif_reader::keep_of(const line& start) {
  // A column's name may be as long as a tag's head.
  if (start.text.size() < (mode_ == reading::columns ? tag_head : name_span))
    return line_keep::all;
  const bool has_value = start.value_start != std::string_view::npos;
  const line_keep field =
      has_value ? line_keep::all : line_keep::head_and_value;
  const bool any_case = mode_ != reading::fields;
  // Any line may then end the reading and be shown, the count line too.
  if (!any_case && owncall_seen_)
    return line_keep::all;
  if (!summary_.count_announced && begins_with(start.text, count_tag, any_case))
    return field;
  if (any_case) {
    const std::string_view tag = start.text.substr(
        0, has_value ? start.value_start - 1 : start.text.size());
    if (takes(tag))
      return field;
    // A field line that no column takes is counted as a short one is, for
    // which its value must be known to come: only a tag longer than the
    // buffer keeps its head and value for that.
    if (mode_ == reading::columns &&
        name_of_tag(start.text.substr(0, tag_head)) != tag_name::none) {
      if (!has_value)
        return line_keep::head_and_value;
      (void)unmatched_field(tag_of(start.text, start.value_start));
    }
    return line_keep::none;
  }
  return match_field(start.text) != no_field ? field : line_keep::none;
}

// A field line that no column takes still belongs to the QSO being read,
// which is cut off if no "<eor>" follows. With the columns of the report,
// which the first reading took from every field after the header, such a
// line means the report changed since: false, and the reading ends.
bool adif_reader::unmatched_field(std::string_view tag) {
  if (name_of_tag(tag) == tag_name::none)
    return true;
  summary_.qso_cut_off = true;
  if (in_header_ || !columns_->in_report_order())
    return true;
  summary_.changed = true;
  finished_ = true;
  return false;
}

// The field or column that a line names, in the mode's own way, and its
// tag where the mode reads one. Inline, and forced to be, in each mode's
// copy of the reading loop.
template <adif_reader::reading mode, bool in_report_order>
[[gnu::always_inline]] inline std::size_t adif_reader::field_of(
    const line& current, std::string_view& tag) {
  const auto [text, value_start] = current;
  if constexpr (mode == reading::fields) {
    return match_field(text);
  } else {
    constexpr std::size_t none =
        mode == reading::columns ? column_list::no_column : no_field;
    // A line that names a field but holds no ">" carries no value, so it
    // is not taken for one.
    if (value_start == std::string_view::npos)
      return none;
    tag = tag_of(text, value_start);
    if constexpr (mode == reading::skip_unknown)
      return match_exact_field(tag);
    if constexpr (!in_report_order)
      return columns_->match_tag(tag);
    const std::size_t column = columns_->match_tag(tag, likely_column_);
    if (column != none)
      likely_column_ = column + 1;
    return column;
  }
}

// What a line that names no field does as a marker: ends the record, ends
// the reading, ends the header (with columns), or nothing.
template <adif_reader::reading mode>
[[gnu::always_inline]] inline marker adif_reader::take_marker(
    std::string_view text, qso_record& record) {
  constexpr bool columns = mode == reading::columns;
  const marker found =
      marker_in<mode != reading::fields, columns>(text, in_header_);
  switch (found) {
    case marker::end_of_record:
      summary_.report_seen = true;
      summary_.qso_cut_off = false;
      in_header_ = false;
      break;
    case marker::end_of_file:
      summary_.report_seen = true;
      // Fields that no "<eoh>" or "<eor>" came after were a header's.
      if (columns && in_header_)
        summary_.qso_cut_off = false;
      finished_ = true;
      break;
    case marker::end_of_header:
      // The fields of the header were taken only until it was known to be
      // one.
      in_header_ = false;
      summary_.qso_cut_off = false;
      record.clear();
      break;
    case marker::none:
      break;
  }
  return found;
}

// Puts the line's value into the field's slot.
template <adif_reader::reading mode>
[[gnu::always_inline]] inline void adif_reader::take_value(const line& current,
                                                           std::string_view tag,
                                                           std::size_t field,
                                                           qso_record& record) {
  std::string_view value = current.text.substr(current.value_start);
  if constexpr (mode == reading::skip_unknown)
    value = without_comment(tag, field_names[field].name.size(), value);
  else if constexpr (mode == reading::columns)
    value = without_comment(tag, columns_->name(field).size(), value);
  // A value as long as the slot's last one, as most are, is copied over it
  // in place, which spares assign's general path.
  field_slot& slot = record.slots[field];
  if (slot.value.size() == value.size())
    std::memcpy(slot.value.data(), value.data(), value.size());
  else
    slot.value.assign(value.data(), value.size());
  record.fill(slot);
  summary_.report_seen = true;
  summary_.qso_cut_off = true;
  // The own call begins the QSO part.
  if (mode != reading::columns && field == owncall_field)
    owncall_seen_ = true;
}

// The first count line's count.
void adif_reader::take_count(const line& current) {
  summary_.count_announced = true;
  summary_.announced_count =
      read_leading_integer(current.text.substr(current.value_start)).value;
}

// The line that ends the reading in the default mode, kept for the run to
// show.
void adif_reader::stop_at_unknown(const line& current) {
  summary_.stop_line.assign(current.text.data(), current.text.size());
  summary_.stopped_at_unknown = true;
}

// The reading loop, one copy for each mode, so that the default mode's
// lines pay nothing for the others' rules.
template <adif_reader::reading mode, bool in_report_order>
read_outcome adif_reader::read_lines(qso_record& record) {
  constexpr bool any_case = mode != reading::fields;
  constexpr bool columns = mode == reading::columns;
  // What the matching gives for a tag that names nothing the reading takes.
  constexpr std::size_t none = columns ? column_list::no_column : no_field;
  const auto keep = [this](const line& start) { return keep_of(start); };
  line current;
  while (!finished_ && lines_.next(current, keep)) {
    if (current.text.empty())
      continue;
    const bool has_value = current.value_start != std::string_view::npos;
    std::string_view tag;
    const std::size_t field = field_of<mode, in_report_order>(current, tag);
    // No marker names a field, so a line that does is no marker: most lines
    // are fields, and skip the marker compares.
    if (field == none) {
      const marker found = take_marker<mode>(current.text, record);
      if (found == marker::end_of_record)
        return read_outcome::record_complete;
      if (found != marker::none)
        continue;
    }
    if (field != none && has_value) {
      take_value<mode>(current, tag, field, record);
      // A column may be the count line's own field, which still counts.
      if (!columns || summary_.count_announced)
        continue;
    }
    if (!summary_.count_announced && has_value &&
        begins_with(current.text, count_tag, any_case))
      take_count(current);
    if constexpr (columns) {
      // Once its QSO holds a field, a line that names no column tells no
      // more, but with the report's own columns, where none should come.
      if ((in_report_order || !summary_.qso_cut_off) && field == none &&
          has_value && !unmatched_field(tag))
        break;
      continue;
    }
    if (mode != reading::fields || !owncall_seen_)
      continue;
    stop_at_unknown(current);
    break;
  }
  finished_ = true;
  return read_outcome::input_finished;
}

read_outcome adif_reader::read_record(qso_record& record) {
  record.clear();
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

report_columns columns_of(std::FILE* input, std::size_t buffer_size) {
  report_columns found;
  column_list& columns = found.columns;
  line_source lines(input, buffer_size, tag_head);
  const auto keep = [](const line& start) { return keep_for_columns(start); };
  bool in_header = true;
  bool too_long = false;  // a field's name was, since the header
  std::size_t likely = column_list::no_column;
  line current;
  while (lines.next(current, keep)) {
    const auto [text, value_start] = current;
    // A line that names a column already taken, as most do, is passed before
    // the markers are compared, since a marker names no column: compared
    // first, they cost --columns all half a percent more.
    const std::string_view tag = value_start == std::string_view::npos
                                     ? std::string_view()
                                     : tag_of(text, value_start);
    const std::size_t known = columns.match_tag(tag, likely);
    if (known != column_list::no_column) {
      likely = known + 1;
      continue;
    }
    const marker found_marker = marker_in<true, true>(text, in_header);
    if (found_marker == marker::end_of_record)
      in_header = false;
    // The names that the header held are not the QSOs'.
    if (in_header && found_marker != marker::none) {
      columns = column_list();
      too_long = false;
    }
    if (found_marker == marker::end_of_file)
      break;
    if (found_marker == marker::end_of_header)
      in_header = false;
    if (found_marker != marker::none)
      continue;
    const tag_name name = name_of_tag(tag);
    if (name == tag_name::too_long)
      too_long = true;
    if (name == tag_name::field && columns.add(name_in(tag)))
      likely = columns.size();
  }
  columns.set_in_report_order();
  found.name_too_long = too_long;
  return found;
}

}  // namespace qsoflat
