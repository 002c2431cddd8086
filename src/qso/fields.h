// The fields the program knows and the record of one QSO's values, which the
// reader fills and the writers read.
#ifndef QSOFLAT_QSO_FIELDS_H_
#define QSOFLAT_QSO_FIELDS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/ascii.h"

namespace qsoflat {

// How a field's value is written as a column.
enum class column_kind {
  plain,   // as it stands, quoted only when it holds a comma or a quote
  date,    // YYYYMMDD as day, month name and year
  time,    // HHMMSS or HHMM as HHMM
  county,  // always quoted
  number,  // as plain; a spreadsheet cell holds it as a number
};

struct field_entry {
  std::string_view name;
  column_kind column;
};

// The fields the program knows. The first field_count are those that a
// reading without a chosen column list takes: an index below field_count
// names such a field everywhere, its record slot and, from first_column on,
// its output column. The entries after them only say how the columns of
// further date, time and number fields are written when the user chooses
// them.
inline constexpr std::size_t field_count = 17;
inline constexpr std::array<field_entry, 37> field_names = {{
    {"APP_LoTW_OWNCALL", column_kind::plain},
    {"STATION_CALLSIGN", column_kind::plain},
    {"CALL", column_kind::plain},
    {"BAND", column_kind::plain},
    {"MODE", column_kind::plain},
    {"QSO_DATE", column_kind::date},
    {"TIME_ON", column_kind::time},
    {"QSL_RCVD", column_kind::plain},
    {"QSLRDATE", column_kind::date},
    {"DXCC", column_kind::number},
    {"PFX", column_kind::plain},
    {"CQZ", column_kind::number},
    {"ITUZ", column_kind::number},
    {"IOTA", column_kind::plain},
    {"GRIDSQUARE", column_kind::plain},
    {"STATE", column_kind::plain},
    {"CNTY", column_kind::county},
    {"QSO_DATE_OFF", column_kind::date},
    {"TIME_OFF", column_kind::time},
    {"QSLSDATE", column_kind::date},
    {"LOTW_QSLRDATE", column_kind::date},
    {"LOTW_QSLSDATE", column_kind::date},
    {"EQSL_QSLRDATE", column_kind::date},
    {"EQSL_QSLSDATE", column_kind::date},
    {"DCL_QSLRDATE", column_kind::date},
    {"DCL_QSLSDATE", column_kind::date},
    {"CLUBLOG_QSO_UPLOAD_DATE", column_kind::date},
    {"HRDLOG_QSO_UPLOAD_DATE", column_kind::date},
    {"QRZCOM_QSO_UPLOAD_DATE", column_kind::date},
    {"QRZCOM_QSO_DOWNLOAD_DATE", column_kind::date},
    {"HAMLOGEU_QSO_UPLOAD_DATE", column_kind::date},
    {"HAMQTH_QSO_UPLOAD_DATE", column_kind::date},
    {"FREQ", column_kind::number},
    {"FREQ_RX", column_kind::number},
    {"MY_DXCC", column_kind::number},
    {"MY_CQ_ZONE", column_kind::number},
    {"MY_ITU_ZONE", column_kind::number},
}};
inline constexpr std::size_t owncall_field = 0;
// The own call and the station's call sign come before the columns and are
// never written.
inline constexpr std::size_t first_column = 2;
// What the matchers give for a text that names no field.
inline constexpr std::size_t no_field = field_count;

// A slot holds a value of the record's QSO when it was filled in the
// record's current round, an empty value too: the writers tell it from a
// field that never came. A slot of an earlier round keeps its bytes, which
// nothing reads, and its storage, so that filling the next record allocates
// nothing once values of its size have been seen.
struct field_slot {
  std::uint64_t round = 0;  // the record's round when it was last filled
  std::string value;
};

// The QSO being assembled: a slot for each field the reading takes, by its
// index, or for each chosen column. The reader empties it before each QSO,
// and the writers only read it.
class qso_record {
 public:
  explicit qso_record(std::size_t slot_count = field_count)
      : slots(slot_count) {}

  // Whether the slot, one of this record's, holds a value of its QSO.
  bool holds(const field_slot& slot) const { return slot.round == round_; }
  // Makes the slot, one of this record's, hold its value for the QSO.
  void fill(field_slot& slot) const { slot.round = round_; }
  // Gives slot i that value for the QSO.
  void set(std::size_t i, std::string_view value) {
    slots[i].value.assign(value.data(), value.size());
    fill(slots[i]);
  }
  // Empties every slot. It begins a new round rather than passing over the
  // slots, so that a QSO costs the same however many slots there are.
  void clear() { ++round_; }
  // The current round, for a writer that compares many slots' rounds with
  // it and must not read it again after every byte it writes.
  std::uint64_t round() const { return round_; }

  std::vector<field_slot> slots;

 private:
  // Slots begin in round 0, before the first, and are empty; 2^64 rounds
  // are never reached.
  std::uint64_t round_ = 1;
};

// How the column of the field of that name, in any case, is written: as
// the table says, or as it stands for a name not in it.
column_kind column_kind_of(std::string_view name);

}  // namespace qsoflat

#endif  // QSOFLAT_QSO_FIELDS_H_
