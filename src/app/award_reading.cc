#include "app/award_reading.h"

#include <string_view>

namespace qsoflat {

namespace {

// The fields that the award tally counts by, in the order of award_qso's
// members.
constexpr std::array<std::string_view, 9> award_fields = {
    "DXCC",       "COUNTRY",    "STATE", "CQZ",
    "GRIDSQUARE", "VUCC_GRIDS", "BAND",  "APP_LoTW_MODEGROUP",
    "QSL_RCVD"};

}  // namespace

column_list fixed_column_list() {
  column_list fixed;
  for (std::size_t i = first_column; i < field_count; ++i)
    (void)fixed.add(field_names[i].name);
  return fixed;
}

column_list with_award_fields(column_list chosen) {
  // A field the user chose already is not added again.
  for (const std::string_view name : award_fields)
    (void)chosen.add(name);
  return chosen;
}

award_reading::award_reading(const column_list& read) {
  for (std::size_t i = 0; i < award_fields.size(); ++i)
    slots_[i] = read.match_tag("<" + std::string(award_fields[i]) + ":");
}

void award_reading::add(const qso_record& record) {
  std::array<std::string_view, 9> values;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const field_slot& slot = record.slots[slots_[i]];
    values[i] =
        record.holds(slot) ? std::string_view(slot.value) : std::string_view();
  }
  tally_.add({values[0], values[1], values[2], values[3], values[4], values[5],
              values[6], values[7], values[8]});
}

std::string award_reading::summary(const std::array<award_sheet, 4>& sheets) {
  std::string lines;
  for (const award_sheet& sheet : sheets)
    for (const std::string& line : award_summary(sheet))
      lines += line + "\n";
  return lines;
}

}  // namespace qsoflat
