#include "rows/xlsx_readback.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

#include "rows/xlsx_library.h"

namespace qsoflat {

namespace {

constexpr std::uint64_t local_header = 0x04034b50;
constexpr std::uint64_t central_header = 0x02014b50;
constexpr std::uint64_t zip64_end = 0x06064b50;
constexpr std::uint64_t zip64_locator = 0x07064b50;
constexpr std::uint64_t directory_end = 0x06054b50;
// A field that holds this stands for a value in the ZIP64 extra field, the
// block of that number in a header's extra field.
constexpr std::uint64_t in_zip64 = 0xFFFFFFFF;
constexpr std::uint64_t zip64_block = 1;
constexpr std::uint64_t deflated = 8;
// The flags of an encrypted member and of one whose sizes follow its data,
// neither of which the library writes.
constexpr std::uint64_t unread_flags = 0x0001 | 0x0008;

// The file is read this much at a time, and each piece inflated into as
// much.
constexpr std::size_t piece_size = std::size_t{1} << 18;
// The bytes at the end of each inflated piece that the next one is seen
// with, so that a tag across the two is seen whole.
constexpr std::size_t carry_size = 64;
// The most bytes past its start that a tag the scan looks at spans: a row's
// start with its number (<row r="1048576"), <sheetData/>, </sheetData>.
constexpr std::size_t tag_span = 16;
// The bytes at a member's start that its root element's name is taken from.
constexpr std::size_t head_size = 256;

constexpr std::string_view sheet_prefix = "xl/worksheets/sheet";
constexpr std::string_view sheet_suffix = ".xml";
constexpr std::string_view white_space = " \t\r\n";

std::uint64_t little_endian(std::string_view bytes, std::size_t at,
                            std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i-- > 0;)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         text.substr(text.size() - end.size()) == end;
}

// The file read in order from its start, counting where it stands.
class zip_input {
 public:
  explicit zip_input(std::FILE* file) : file_(file) {}
  // Reads up to size bytes; fewer only where the file ends or fails.
  std::size_t read_some(char* to, std::size_t size) {
    const std::size_t got = std::fread(to, 1, size, file_);
    offset_ += got;
    return got;
  }
  // Reads exactly size bytes into out.
  bool read(std::size_t size, std::string& out) {
    out.resize(size);
    return read_some(out.data(), size) == size;
  }
  // Reads a little-endian field of size bytes.
  bool read(std::size_t size, std::uint64_t& value) {
    if (!read(size, field_))
      return false;
    value = little_endian(field_, 0, size);
    return true;
  }
  // Whether the file ends here, read without a failure.
  bool at_end() { return std::fgetc(file_) == EOF && std::ferror(file_) == 0; }
  std::uint64_t offset() const { return offset_; }

 private:
  std::FILE* file_;
  std::uint64_t offset_ = 0;
  std::string field_;
};

struct zip_entry {
  std::string name;
  std::uint64_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;  // of its local header
};

// Takes from the extra field's ZIP64 block the value of each field that
// holds in_zip64, in the order given, which is the format's. False where
// one is missing.
bool take_zip64(std::string_view extra,
                std::initializer_list<std::uint64_t*> fields) {
  std::size_t at = 0;
  while (at + 4 <= extra.size() && little_endian(extra, at, 2) != zip64_block)
    at += 4 + little_endian(extra, at + 2, 2);
  const std::size_t end =
      at + 4 <= extra.size() ? at + 4 + little_endian(extra, at + 2, 2) : 0;
  at += 4;
  for (std::uint64_t* field : fields) {
    if (*field != in_zip64)
      continue;
    if (at + 8 > std::min(end, extra.size()))
      return false;
    *field = little_endian(extra, at, 8);
    at += 8;
  }
  return true;
}

// The name of the element that the XML begins with, after its
// declaration; empty where the head shows none.
std::string_view root_of(std::string_view head) {
  std::size_t at = head.find_first_not_of(white_space);
  if (at != std::string_view::npos && head.substr(at, 2) == "<?") {
    at = head.find("?>", at);
    at = at == std::string_view::npos
             ? at
             : head.find_first_not_of(white_space, at + 2);
  }
  if (at == std::string_view::npos || head[at] != '<')
    return {};
  const std::size_t end = head.find_first_of(" \t\r\n/>", at + 1);
  return end == std::string_view::npos ? std::string_view()
                                       : head.substr(at + 1, end - at - 1);
}

// What an XML member shows as it is inflated, piece by piece: whether it
// ends by closing the element it begins with, and for a sheet, its rows and
// where their data begins and ends.
class xml_scan {
 public:
  explicit xml_scan(const sheet_facts* sheet) : sheet_(sheet) {}
  // Sees the member's bytes from start on, view, which begins with at
  // least tag_span bytes seen before, where there were as many; last for
  // the member's last piece.
  void see(std::string_view view, std::uint64_t start, bool last);
  // Whether the member, seen to its end, is whole.
  bool whole() const;

 private:
  void count_rows(std::string_view view, std::size_t from, std::size_t to);
  void find_data(std::string_view view, std::uint64_t start, std::size_t from,
                 std::size_t to);
  void check_data_end(std::string_view view, std::uint64_t start,
                      std::size_t from, std::size_t to);

  const sheet_facts* sheet_;  // null for a member that is no sheet
  std::string head_;
  std::uint64_t next_ = 0;  // the first byte whose tags are still unseen
  std::uint64_t rows_ = 0;
  std::uint64_t last_row_ = 0;
  bool data_found_ = false;
  bool data_empty_ = false;  // <sheetData/>, without rows
  std::uint64_t data_start_ = 0;
  bool data_ended_ = false;  // </sheetData> stands where the rows end
  bool closed_ = false;
};

void xml_scan::see(std::string_view view, std::uint64_t start, bool last) {
  if (head_.size() < head_size && start + view.size() > head_.size())
    head_.append(view.substr(head_.size() - start, head_size - head_.size()));
  const std::uint64_t end = start + view.size();
  const std::uint64_t limit =
      last ? end : std::max<std::uint64_t>(end, tag_span) - tag_span;
  if (sheet_ != nullptr && limit > next_) {
    const auto from = static_cast<std::size_t>(next_ - start);
    const auto to = static_cast<std::size_t>(limit - start);
    count_rows(view, from, to);
    find_data(view, start, from, to);
    check_data_end(view, start, from, to);
  }
  next_ = std::max(next_, limit);
  if (!last)
    return;
  const std::string_view root = root_of(head_);
  const std::string_view text =
      view.substr(0, view.find_last_not_of(white_space) + 1);
  closed_ = !root.empty() && ends_with(text, "</" + std::string(root) + ">");
}

// The decimal number at view[at], as far as its digits go.
std::uint64_t number_at(std::string_view view, std::size_t at) {
  std::uint64_t number = 0;
  for (; at < view.size() && view[at] >= '0' && view[at] <= '9'; ++at)
    number = number * 10 + static_cast<std::uint64_t>(view[at] - '0');
  return number;
}

// Counts the tags <row r="N"> that begin in [from, to), found by their
// "w", which is rare in a sheet, and keeps the last one's number.
void xml_scan::count_rows(std::string_view view, std::size_t from,
                          std::size_t to) {
  constexpr std::string_view before = "<ro";
  constexpr std::string_view after = "w r=\"";
  const std::size_t end = std::min(to + before.size(), view.size());
  for (std::size_t at = from + before.size(); at < end; ++at) {
    const auto* found =
        static_cast<const char*>(std::memchr(view.data() + at, 'w', end - at));
    if (found == nullptr)
      return;
    at = static_cast<std::size_t>(found - view.data());
    if (view.substr(at - before.size(), before.size()) == before &&
        view.substr(at, after.size()) == after) {
      ++rows_;
      last_row_ = number_at(view, at + after.size());
    }
  }
}

void xml_scan::find_data(std::string_view view, std::uint64_t start,
                         std::size_t from, std::size_t to) {
  constexpr std::string_view tag = "<sheetData";
  if (data_found_)
    return;
  const std::size_t at = view.find(tag, from);
  if (at >= to)
    return;
  const std::string_view rest = view.substr(at + tag.size(), 2);
  data_found_ = true;
  data_empty_ = rest == "/>";
  data_start_ = start + at + tag.size() + (data_empty_ ? 2 : 1);
  if (!data_empty_ && rest.substr(0, 1) != ">")
    data_found_ = false;
}

void xml_scan::check_data_end(std::string_view view, std::uint64_t start,
                              std::size_t from, std::size_t to) {
  if (!data_found_ || data_empty_ || data_ended_)
    return;
  const std::uint64_t end = data_start_ + sheet_->rows_bytes;
  if (end >= start + from && end < start + to)
    data_ended_ = view.substr(static_cast<std::size_t>(end - start), 12) ==
                  "</sheetData>";
}

bool xml_scan::whole() const {
  if (!closed_ || sheet_ == nullptr)
    return closed_;
  const bool data_whole =
      data_found_ && (data_empty_ ? sheet_->rows_bytes == 0 : data_ended_);
  return data_whole && rows_ == sheet_->rows && last_row_ == sheet_->last_row;
}

// Inflates a member's data, which follows its local header, handing each
// piece to the scan where there is one, and tells whether it came to the
// size and CRC-32 that its entry gives, with every byte of its data taken.
class member_reader {
 public:
  explicit member_reader(const xlsx_library& zlib)
      : zlib_(zlib),
        in_(piece_size, '\0'),
        out_(carry_size + piece_size, '\0') {}
  bool read(zip_input& input, const zip_entry& entry, xml_scan* scan);

 private:
  int step(zip_input& input, std::uint64_t& left);
  const xlsx_library& zlib_;
  std::string in_;
  std::string out_;
  z_stream stream_{};
  std::size_t kept_ = 0;  // bytes of the piece before, at out_'s start
};

// Inflates what the input holds of the data, reading more when the last is
// taken; zlib's status.
int member_reader::step(zip_input& input, std::uint64_t& left) {
  if (stream_.avail_in == 0 && left > 0) {
    const std::size_t got = input.read_some(
        in_.data(),
        static_cast<std::size_t>(std::min<std::uint64_t>(left, piece_size)));
    left -= got;
    stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
    stream_.avail_in = static_cast<uInt>(got);
  }
  stream_.next_out = reinterpret_cast<Bytef*>(out_.data() + kept_);
  stream_.avail_out = static_cast<uInt>(piece_size);
  const int status = zlib_.inflate(&stream_, Z_NO_FLUSH);
  if (status == Z_MEM_ERROR)
    throw std::bad_alloc();
  return status;
}

bool member_reader::read(zip_input& input, const zip_entry& entry,
                         xml_scan* scan) {
  stream_ = z_stream{};
  const int begun = zlib_.inflateInit2_(&stream_, -MAX_WBITS, ZLIB_VERSION,
                                        static_cast<int>(sizeof stream_));
  if (begun == Z_MEM_ERROR)
    throw std::bad_alloc();
  if (begun != Z_OK)
    return false;
  std::uint64_t left = entry.compressed;
  std::uint64_t size = 0;
  uLong crc = zlib_.crc32(0, nullptr, 0);
  kept_ = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    status = step(input, left);
    const std::size_t made = piece_size - stream_.avail_out;
    crc = zlib_.crc32(crc, reinterpret_cast<Bytef*>(out_.data() + kept_),
                      static_cast<uInt>(made));
    size += made;
    if (scan != nullptr)
      scan->see(std::string_view(out_.data(), kept_ + made),
                size - made - kept_, status == Z_STREAM_END);
    const std::size_t carried = std::min(carry_size, kept_ + made);
    std::memmove(out_.data(), out_.data() + kept_ + made - carried, carried);
    kept_ = carried;
  }
  const bool whole = status == Z_STREAM_END && left == 0 &&
                     stream_.avail_in == 0 && size == entry.size &&
                     crc == entry.crc && (scan == nullptr || scan->whole());
  (void)zlib_.inflateEnd(&stream_);
  return whole;
}

// Reads a local header, after its signature, into the entry. False where
// it cannot be read, or is of a member that the library never writes:
// encrypted, with its sizes after its data, or not deflated.
bool read_local_header(zip_input& input, zip_entry& entry) {
  std::string fixed;
  std::string extra;
  if (!input.read(26, fixed))
    return false;
  const auto field = [&](std::size_t at, std::size_t size) {
    return little_endian(fixed, at - 4, size);
  };
  entry.crc = field(14, 4);
  entry.compressed = field(18, 4);
  entry.size = field(22, 4);
  return (field(6, 2) & unread_flags) == 0 && field(8, 2) == deflated &&
         input.read(field(26, 2), entry.name) &&
         input.read(field(28, 2), extra) &&
         take_zip64(extra, {&entry.size, &entry.compressed});
}

// The number of the sheet that a member of that name holds, or 0 for a
// member that is no sheet.
std::size_t sheet_number(std::string_view name) {
  if (!(name.substr(0, sheet_prefix.size()) == sheet_prefix &&
        ends_with(name, sheet_suffix)))
    return 0;
  const std::string_view digits =
      name.substr(sheet_prefix.size(),
                  name.size() - sheet_prefix.size() - sheet_suffix.size());
  if (digits.empty() || digits.size() > 6 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  return static_cast<std::size_t>(number_at(digits, 0));
}

// Reads the members from the file's start up to the central directory,
// whose signature it reads too, each checked as it is inflated, and gives
// each one's entry.
bool read_members(const xlsx_library& zlib, zip_input& input,
                  const std::vector<sheet_facts>& sheets,
                  std::vector<zip_entry>& entries) {
  member_reader reader(zlib);
  std::vector<bool> seen(sheets.size(), false);
  for (;;) {
    zip_entry entry;
    entry.offset = input.offset();
    std::uint64_t signature = 0;
    if (!input.read(4, signature))
      return false;
    if (signature == central_header)
      break;
    if (signature != local_header || !read_local_header(input, entry))
      return false;
    const std::size_t sheet = sheet_number(entry.name);
    if (sheet > sheets.size() || (sheet > 0 && seen[sheet - 1]))
      return false;
    if (sheet > 0)
      seen[sheet - 1] = true;
    xml_scan scan(sheet > 0 ? &sheets[sheet - 1] : nullptr);
    const bool xml =
        ends_with(entry.name, ".xml") || ends_with(entry.name, ".rels");
    if (!reader.read(input, entry, xml ? &scan : nullptr))
      return false;
    entries.push_back(std::move(entry));
  }
  return std::find(seen.begin(), seen.end(), false) == seen.end();
}

// Reads an entry of the central directory, after its signature, and
// tells whether it is that of the member.
bool entry_matches(zip_input& input, const zip_entry& member) {
  std::string fixed;
  std::string name;
  std::string extra;
  std::string comment;
  if (!input.read(42, fixed))
    return false;
  const auto field = [&](std::size_t at, std::size_t size) {
    return little_endian(fixed, at - 4, size);
  };
  zip_entry entry;
  entry.crc = field(16, 4);
  entry.compressed = field(20, 4);
  entry.size = field(24, 4);
  entry.offset = field(42, 4);
  return field(10, 2) == deflated && field(34, 2) == 0 &&
         input.read(field(28, 2), name) && input.read(field(30, 2), extra) &&
         input.read(field(32, 2), comment) &&
         take_zip64(extra, {&entry.size, &entry.compressed, &entry.offset}) &&
         name == member.name && entry.crc == member.crc &&
         entry.compressed == member.compressed && entry.size == member.size &&
         entry.offset == member.offset;
}

// Where the central directory stands, and what follows it.
struct directory {
  std::uint64_t count = 0;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint64_t next_signature = 0;
};

// Reads the central directory, whose first signature has been read, each
// entry checked against its member, and the signature after it.
bool read_directory(zip_input& input, const std::vector<zip_entry>& entries,
                    directory& read) {
  read.count = entries.size();
  read.start = input.offset() - 4;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint64_t signature = central_header;
    if (i > 0 && !input.read(4, signature))
      return false;
    if (signature != central_header || !entry_matches(input, entries[i]))
      return false;
  }
  read.size = input.offset() - read.start;
  return input.read(4, read.next_signature);
}

// Reads the ZIP64 end of the central directory and its locator, after the
// record's signature, and the signature after them. The record is taken
// only without extensible data, as the library writes it, so that no size
// read from a damaged file sets how much is read.
bool read_zip64_end(zip_input& input, directory& read) {
  const std::uint64_t record = input.offset() - 4;
  std::string fixed;
  std::uint64_t signature = 0;
  std::string locator;
  if (!input.read(52, fixed))
    return false;
  const auto field = [&](std::size_t at, std::size_t size) {
    return little_endian(fixed, at - 4, size);
  };
  const std::uint64_t record_size = field(4, 8);
  return record_size == 44 && field(16, 4) == 0 && field(20, 4) == 0 &&
         field(24, 8) == read.count && field(32, 8) == read.count &&
         field(40, 8) == read.size && field(48, 8) == read.start &&
         input.read(4, signature) && signature == zip64_locator &&
         input.read(16, locator) && little_endian(locator, 0, 4) == 0 &&
         little_endian(locator, 4, 8) == record &&
         little_endian(locator, 12, 4) == 1 &&
         input.read(4, read.next_signature);
}

// Reads the end of the central directory, and of ZIP64's where it stands
// first, and tells whether the file ends there with them.
bool read_end(zip_input& input, directory& read) {
  const bool zip64 = read.next_signature == zip64_end;
  if (zip64 && !read_zip64_end(input, read))
    return false;
  std::string fixed;
  std::string comment;
  if (read.next_signature != directory_end || !input.read(18, fixed))
    return false;
  const auto field = [&](std::size_t at, std::size_t size) {
    return little_endian(fixed, at - 4, size);
  };
  // With ZIP64, the fields too small for their value hold their largest.
  const auto holds = [&](std::uint64_t value, std::size_t at,
                         std::size_t size) {
    const std::uint64_t largest = (std::uint64_t{1} << (8 * size)) - 1;
    return field(at, size) == value || (zip64 && field(at, size) == largest);
  };
  return field(4, 2) == 0 && field(6, 2) == 0 && holds(read.count, 8, 2) &&
         holds(read.count, 10, 2) && holds(read.size, 12, 4) &&
         holds(read.start, 16, 4) && input.read(field(20, 2), comment) &&
         input.at_end();
}

}  // namespace

bool workbook_is_whole(const xlsx_library& library, std::FILE* file,
                       const std::vector<sheet_facts>& sheets) {
  zip_input input(file);
  std::vector<zip_entry> entries;
  directory read;
  return read_members(library, input, sheets, entries) &&
         read_directory(input, entries, read) && read_end(input, read);
}

}  // namespace qsoflat
