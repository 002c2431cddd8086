// The tally of the DXCC, WAS, WAZ and VUCC awards over one report: it is
// told each QSO's values as they are read, and gives at the end each award's
// sheet as plain data, for a writer to lay out.
#ifndef QSOFLAT_AWARDS_AWARD_TALLY_H_
#define QSOFLAT_AWARDS_AWARD_TALLY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qsoflat {

// The values of one QSO that the awards read, each as the report gives it;
// empty where the QSO lacks the field. The views need to live only for the
// call that is given them.
struct award_qso {
  std::string_view dxcc;
  std::string_view country;
  std::string_view state;
  std::string_view cqz;
  std::string_view gridsquare;
  std::string_view vucc_grids;
  std::string_view band;
  std::string_view mode_group;  // APP_LoTW_MODEGROUP
  std::string_view qsl_rcvd;
};

// What a slot's cell says of one count column.
enum class award_mark : std::uint8_t { none, worked, confirmed };

enum class award_kind { dxcc, was, waz, vucc };

// One of the columns that are a slot's own, before the count columns.
struct award_own_column {
  std::string_view title;
  bool number;  // its cells hold decimal numbers, to be written as numbers
};

// One slot of an award: an entity, a state, a zone or a grid square.
struct award_row {
  std::vector<std::string> own;   // one text for each own column
  std::vector<award_mark> marks;  // one for each count column
  bool counted = true;  // false for a deleted entity, left out of the counts
};

// An award's sheet. Where nothing_to_count is not empty, the report holds
// nothing this award counts, and that line is all the sheet says; the
// columns and rows are then empty.
struct award_sheet {
  award_kind kind = award_kind::dxcc;
  std::string_view name;  // the sheet's name: "DXCC", "WAS", "WAZ" or "VUCC"
  std::string_view nothing_to_count;
  std::vector<award_own_column> own_columns;
  // "Mixed", then the mode groups, then the bands from first_band on.
  std::vector<std::string> count_columns;
  std::size_t first_band = 0;
  std::vector<award_row> rows;
  // For each count column, how many counted rows hold a C, and how many a C
  // or a W.
  std::vector<std::size_t> confirmed;
  std::vector<std::size_t> worked;
};

// The lines that tell the user how an award stands: for DXCC, WAS and WAZ
// one, "DXCC: 212 confirmed, 245 worked of 340"; for VUCC one for each band,
// "VUCC 6M: 104 confirmed, 131 worked grids"; or the line that says that
// there is nothing to count.
std::vector<std::string> award_summary(const award_sheet& sheet);

// Holds, for each slot of each award and each column, whether a QSO there is
// worked or confirmed, and no more: its memory grows with the distinct
// values a report holds, never with its QSOs.
class award_tally {
 public:
  award_tally();
  ~award_tally();
  award_tally(const award_tally&) = delete;
  award_tally& operator=(const award_tally&) = delete;

  // Counts one QSO for every award and slot that its values name.
  void add(const award_qso& qso);

  // The four sheets, in the order DXCC, WAS, WAZ, VUCC.
  std::array<award_sheet, 4> sheets() const;

 private:
  struct state;
  std::unique_ptr<state> state_;
};

}  // namespace qsoflat

#endif  // QSOFLAT_AWARDS_AWARD_TALLY_H_
