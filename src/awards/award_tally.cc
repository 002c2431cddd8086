#include "awards/award_tally.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <tuple>
#include <utility>

#include "awards/adif_tables.h"
#include "text/ascii.h"
#include "text/leading_integer.h"

namespace qsoflat {
namespace {

constexpr std::size_t no_slot = SIZE_MAX;
constexpr std::size_t no_column = SIZE_MAX;
// Column 0 of every award is Mixed: every QSO that counts marks it.
constexpr std::size_t mixed = 0;
constexpr std::size_t zone_count = 40;
// The grid squares AA00 to RR99, by key: the order of the keys is the order
// of their names.
constexpr std::size_t grid_count = std::size_t{18} * 18 * 100;
constexpr std::size_t no_grid = grid_count;
// The mode groups that come first, in this order; others follow
// alphabetically.
constexpr std::array<std::string_view, 4> first_mode_groups = {"CW", "PHONE",
                                                               "DATA", "IMAGE"};

std::string upper_text(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), upper_case);
  return out;
}

// The number that a value of decimal digits alone gives, leading zeros
// allowed; 0 for any other value, and for one of more than nine significant
// digits, which names no entity or zone.
std::uint32_t decimal(std::string_view text) {
  if (!all_digits(text))
    return 0;
  // The reading saturates, so a longer number stays past the bound.
  const std::int64_t value = read_leading_integer(text).value;
  return value > 999'999'999 ? 0 : static_cast<std::uint32_t>(value);
}

// The key of the grid square that a text's first four characters name, two
// letters A to R in any case and two digits; no_grid where they name none.
std::size_t grid_key(std::string_view text) {
  if (text.size() < 4)
    return no_grid;
  const char a = upper_case(text[0]);
  const char b = upper_case(text[1]);
  if (a < 'A' || a > 'R' || b < 'A' || b > 'R' || !is_digit(text[2]) ||
      !is_digit(text[3]))
    return no_grid;
  return (static_cast<std::size_t>(a - 'A') * 18 +
          static_cast<std::size_t>(b - 'A')) *
             100 +
         static_cast<std::size_t>(text[2] - '0') * 10 +
         static_cast<std::size_t>(text[3] - '0');
}

std::string grid_name(std::size_t key) {
  const char name[4] = {static_cast<char>('A' + key / 1800),
                        static_cast<char>('A' + key / 100 % 18),
                        static_cast<char>('0' + key / 10 % 10),
                        static_cast<char>('0' + key % 10)};
  return std::string(name, 4);
}

// A count column after Mixed: a mode group or a band, in upper case, with
// its place among its kind (the known ones first, in their order; the others
// after, by name).
struct count_column {
  std::string name;
  bool band = false;
  std::size_t rank = 0;
  bool from_6m = false;  // a band whose lower edge is 50 MHz or above
};

// The marks of one award, by column and then by slot. A column stays empty
// until a QSO marks it, and ends where its last marked slot does.
class award_marks {
 public:
  void mark(std::size_t slot, std::size_t column, award_mark m) {
    if (column >= by_column_.size())
      by_column_.resize(column + 1);
    std::vector<award_mark>& cells = by_column_[column];
    if (slot >= cells.size())
      cells.resize(slot + 1);
    cells[slot] = std::max(cells[slot], m);
  }
  award_mark at(std::size_t slot, std::size_t column) const {
    if (column >= by_column_.size() || slot >= by_column_[column].size())
      return award_mark::none;
    return by_column_[column][slot];
  }
  bool used(std::size_t column) const {
    return column < by_column_.size() && !by_column_[column].empty();
  }

 private:
  std::vector<std::vector<award_mark>> by_column_;
};

// The columns that one QSO marks in the slots it counts for.
struct qso_columns {
  award_mark mark;
  std::size_t mode;
  std::size_t band;
};

// A code that ADIF 3.1.6 does not know, named by the first COUNTRY that a
// QSO with it gives.
struct unknown_entity {
  std::uint32_t code;
  std::string name;
};

// What a row's cells are, before the marks.
struct row_start {
  std::size_t slot;
  std::vector<std::string> own;
  bool counted;
};

}  // namespace

struct award_tally::state {
  std::vector<count_column> columns{1};  // [mixed] has no name here
  std::array<award_marks, 4> marks;
  std::vector<std::uint16_t> entity_slot;  // by code: index in adif_entities
                                           // plus one, 0 for an unknown code
  std::map<std::uint32_t, std::size_t> unknown_slot;  // by code
  std::vector<unknown_entity> unknown;  // by slot after adif_entities'
  bool dxcc_seen = false;
  std::array<std::uint8_t, std::size_t{26} * 26>
      state_slot{};                         // by two letters: slot + 1
  std::vector<std::size_t> state_of_slot;   // index in adif_states
  std::vector<std::uint16_t> was_entities;  // the states' entities, once each
  std::vector<std::uint16_t> grid_slot;  // by key: slot + 1; empty until used
  std::vector<std::uint16_t> grid_of_slot;

  state();
  std::size_t column(std::string_view value, bool band);
  std::size_t new_column(std::string_view value, bool band);
  std::size_t dxcc_slot(std::uint32_t code, std::string_view country);
  std::size_t was_slot(std::uint32_t dxcc, std::string_view code) const;
  void count_grid(std::size_t key, const qso_columns& c);
  void count_grids(const award_qso& qso, const qso_columns& c);
  void count(award_kind award, std::size_t slot, const qso_columns& c);
  std::vector<std::size_t> column_order() const;
  award_sheet begin(award_kind award, std::string_view name,
                    std::vector<award_own_column> own,
                    const std::vector<std::size_t>& order,
                    std::vector<std::size_t>& used) const;
  void add_row(award_sheet& sheet, const std::vector<std::size_t>& used,
               row_start start) const;
  award_sheet dxcc_sheet(const std::vector<std::size_t>& order) const;
  award_sheet was_sheet(const std::vector<std::size_t>& order) const;
  award_sheet waz_sheet(const std::vector<std::size_t>& order) const;
  award_sheet vucc_sheet(const std::vector<std::size_t>& order) const;
};

// The lookups by code and by state are made once, so that a QSO finds its
// slots without a search.
award_tally::state::state() {
  std::uint16_t top = 0;
  for (const adif_entity& e : adif_entities)
    top = std::max(top, e.code);
  entity_slot.assign(std::size_t{top} + 1, 0);
  for (std::size_t i = 0; i < adif_entities.size(); ++i)
    entity_slot[adif_entities[i].code] = static_cast<std::uint16_t>(i + 1);
  for (std::size_t i = 0; i < adif_states.size(); ++i) {
    if (std::find(was_entities.begin(), was_entities.end(),
                  adif_states[i].dxcc) == was_entities.end())
      was_entities.push_back(adif_states[i].dxcc);
    if (adif_states[i].code == "DC")
      continue;
    state_of_slot.push_back(i);
  }
  std::sort(state_of_slot.begin(), state_of_slot.end(),
            [](std::size_t a, std::size_t b) {
              return adif_states[a].code < adif_states[b].code;
            });
  for (std::size_t slot = 0; slot < state_of_slot.size(); ++slot) {
    const std::string_view code = adif_states[state_of_slot[slot]].code;
    state_slot[static_cast<std::size_t>(code[0] - 'A') * 26 +
               static_cast<std::size_t>(code[1] - 'A')] =
        static_cast<std::uint8_t>(slot + 1);
  }
}

// The column of a mode group or band, in any case, made when first seen;
// no_column for an empty value.
std::size_t award_tally::state::column(std::string_view value, bool band) {
  if (value.empty())
    return no_column;
  for (std::size_t c = mixed + 1; c < columns.size(); ++c)
    if (columns[c].band == band && same_any_case(columns[c].name, value))
      return c;
  return new_column(value, band);
}

std::size_t award_tally::state::new_column(std::string_view value, bool band) {
  count_column c;
  c.name = upper_text(value);
  c.band = band;
  if (band) {
    c.rank = adif_bands.size();
    for (std::size_t i = 0; i < adif_bands.size(); ++i)
      if (adif_bands[i].name == c.name) {
        c.rank = i;
        c.from_6m = adif_bands[i].lower_mhz >= 50;
      }
  } else {
    c.rank = static_cast<std::size_t>(
        std::find(first_mode_groups.begin(), first_mode_groups.end(), c.name) -
        first_mode_groups.begin());
  }
  columns.push_back(std::move(c));
  return columns.size() - 1;
}

// The DXCC slot of a code other than 0: its entity's, or one made for it
// when first seen.
std::size_t award_tally::state::dxcc_slot(std::uint32_t code,
                                          std::string_view country) {
  if (code < entity_slot.size() && entity_slot[code] != 0)
    return entity_slot[code] - 1u;
  auto found = unknown_slot.find(code);
  if (found == unknown_slot.end()) {
    found =
        unknown_slot.emplace(code, adif_entities.size() + unknown.size()).first;
    unknown.push_back({code, std::string()});
  }
  std::string& name = unknown[found->second - adif_entities.size()].name;
  if (name.empty())
    name.assign(country);
  return found->second;
}

// The WAS slot of a QSO with the USA, Alaska or Hawaii, DC counting as MD;
// no_slot for any other.
std::size_t award_tally::state::was_slot(std::uint32_t dxcc,
                                         std::string_view code) const {
  if (std::find(was_entities.begin(), was_entities.end(), dxcc) ==
          was_entities.end() ||
      code.size() != 2)
    return no_slot;
  if (same_any_case(code, "DC"))
    code = "MD";
  const char a = upper_case(code[0]);
  const char b = upper_case(code[1]);
  if (a < 'A' || a > 'Z' || b < 'A' || b > 'Z')
    return no_slot;
  const std::uint8_t slot = state_slot[static_cast<std::size_t>(a - 'A') * 26 +
                                       static_cast<std::size_t>(b - 'A')];
  return slot == 0 ? no_slot : slot - 1u;
}

void award_tally::state::count(award_kind award, std::size_t slot,
                               const qso_columns& c) {
  award_marks& m = marks[static_cast<std::size_t>(award)];
  m.mark(slot, mixed, c.mark);
  if (c.mode != no_column)
    m.mark(slot, c.mode, c.mark);
  if (c.band != no_column)
    m.mark(slot, c.band, c.mark);
}

void award_tally::state::count_grid(std::size_t key, const qso_columns& c) {
  if (key == no_grid)
    return;
  if (grid_slot.empty())
    grid_slot.assign(grid_count, 0);
  if (grid_slot[key] == 0) {
    grid_of_slot.push_back(static_cast<std::uint16_t>(key));
    grid_slot[key] = static_cast<std::uint16_t>(grid_of_slot.size());
  }
  count(award_kind::vucc, grid_slot[key] - 1u, c);
}

// A QSO counts for the grids that VUCC_GRIDS lists, where it has the field,
// else for the one its GRIDSQUARE begins with.
void award_tally::state::count_grids(const award_qso& qso,
                                     const qso_columns& c) {
  if (qso.vucc_grids.empty())
    return count_grid(grid_key(qso.gridsquare), c);
  std::string_view list = qso.vucc_grids;
  for (;;) {
    const std::size_t comma = list.find(',');
    std::string_view grid = list.substr(0, comma);
    grid.remove_prefix(std::min(grid.find_first_not_of(' '), grid.size()));
    count_grid(grid_key(grid), c);
    if (comma == std::string_view::npos)
      break;
    list.remove_prefix(comma + 1);
  }
}

award_tally::award_tally() : state_(std::make_unique<state>()) {}
award_tally::~award_tally() = default;

void award_tally::add(const award_qso& qso) {
  state& s = *state_;
  const bool confirmed = qso.qsl_rcvd == "Y" || qso.qsl_rcvd == "V";
  const qso_columns c{confirmed ? award_mark::confirmed : award_mark::worked,
                      s.column(qso.mode_group, false),
                      s.column(qso.band, true)};
  const std::uint32_t dxcc = decimal(qso.dxcc);
  if (!qso.dxcc.empty())
    s.dxcc_seen = true;
  if (dxcc != 0)
    s.count(award_kind::dxcc, s.dxcc_slot(dxcc, qso.country), c);
  const std::size_t state_slot = s.was_slot(dxcc, qso.state);
  if (state_slot != no_slot)
    s.count(award_kind::was, state_slot, c);
  const std::uint32_t zone = decimal(qso.cqz);
  if (zone >= 1 && zone <= zone_count)
    s.count(award_kind::waz, zone - 1, c);
  if (c.band != no_column && s.columns[c.band].from_6m)
    s.count_grids(qso, c);
}

// Every column after Mixed, the mode groups before the bands, each kind in
// its order.
std::vector<std::size_t> award_tally::state::column_order() const {
  std::vector<std::size_t> order(columns.size() - 1);
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i + 1;
  std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    const count_column& x = columns[a];
    const count_column& y = columns[b];
    return std::tie(x.band, x.rank, x.name) < std::tie(y.band, y.rank, y.name);
  });
  return order;
}

// An award's sheet with its own columns and the count columns that its QSOs
// mark: Mixed, and of the others those marked, in order; used takes their
// columns.
award_sheet award_tally::state::begin(award_kind award, std::string_view name,
                                      std::vector<award_own_column> own,
                                      const std::vector<std::size_t>& order,
                                      std::vector<std::size_t>& used) const {
  award_sheet sheet;
  sheet.kind = award;
  sheet.name = name;
  sheet.own_columns = std::move(own);
  sheet.count_columns.push_back("Mixed");
  used.assign(1, mixed);
  const award_marks& m = marks[static_cast<std::size_t>(award)];
  sheet.first_band = 1;
  for (std::size_t c : order) {
    if (!m.used(c))
      continue;
    used.push_back(c);
    sheet.count_columns.push_back(columns[c].name);
    if (!columns[c].band)
      sheet.first_band = used.size();
  }
  sheet.confirmed.assign(used.size(), 0);
  sheet.worked.assign(used.size(), 0);
  return sheet;
}

// Adds a slot's row, and where it counts, its marks to the counts.
void award_tally::state::add_row(award_sheet& sheet,
                                 const std::vector<std::size_t>& used,
                                 row_start start) const {
  const award_marks& m = marks[static_cast<std::size_t>(sheet.kind)];
  award_row row;
  row.own = std::move(start.own);
  row.counted = start.counted;
  for (std::size_t i = 0; i < used.size(); ++i) {
    const award_mark mark = m.at(start.slot, used[i]);
    row.marks.push_back(mark);
    if (!row.counted || mark == award_mark::none)
      continue;
    ++sheet.worked[i];
    if (mark == award_mark::confirmed)
      ++sheet.confirmed[i];
  }
  sheet.rows.push_back(std::move(row));
}

// Every current entity, by name; then the codes that ADIF 3.1.6 does not
// know, by code; then the deleted entities that QSOs name, by name.
award_sheet award_tally::state::dxcc_sheet(
    const std::vector<std::size_t>& order) const {
  std::vector<std::size_t> used;
  award_sheet sheet = begin(award_kind::dxcc, "DXCC",
                            {{"DXCC", true}, {"Entity", false}}, order, used);
  if (!dxcc_seen) {
    sheet.nothing_to_count =
        "DXCC: nothing to count, since no QSO has a DXCC field; a LoTW "
        "download with QSL details has it";
    return sheet;
  }
  std::vector<std::size_t> by_name(adif_entities.size());
  for (std::size_t i = 0; i < by_name.size(); ++i)
    by_name[i] = i;
  std::stable_sort(by_name.begin(), by_name.end(),
                   [](std::size_t a, std::size_t b) {
                     return adif_entities[a].name < adif_entities[b].name;
                   });
  for (std::size_t i : by_name) {
    const adif_entity& e = adif_entities[i];
    if (!e.deleted)
      add_row(sheet, used,
              {i, {std::to_string(e.code), std::string(e.name)}, true});
  }
  for (const auto& [code, slot] : unknown_slot) {
    const std::string& name = unknown[slot - adif_entities.size()].name;
    add_row(sheet, used,
            {slot,
             {std::to_string(code),
              name.empty() ? "DXCC " + std::to_string(code) : name},
             true});
  }
  for (std::size_t i : by_name) {
    const adif_entity& e = adif_entities[i];
    if (e.deleted && marks[0].at(i, mixed) != award_mark::none)
      add_row(sheet, used,
              {i,
               {std::to_string(e.code), std::string(e.name) + " (deleted)"},
               false});
  }
  return sheet;
}

award_sheet award_tally::state::was_sheet(
    const std::vector<std::size_t>& order) const {
  std::vector<std::size_t> used;
  award_sheet sheet = begin(award_kind::was, "WAS",
                            {{"State", false}, {"Name", false}}, order, used);
  if (!marks[1].used(mixed)) {
    sheet.nothing_to_count =
        "WAS: nothing to count, since no QSO has a US state (a STATE with "
        "DXCC 291, 6 or 110); a LoTW download with QSL details has them";
    return sheet;
  }
  for (std::size_t slot = 0; slot < state_of_slot.size(); ++slot) {
    const adif_state& st = adif_states[state_of_slot[slot]];
    add_row(sheet, used,
            {slot, {std::string(st.code), std::string(st.name)}, true});
  }
  return sheet;
}

award_sheet award_tally::state::waz_sheet(
    const std::vector<std::size_t>& order) const {
  std::vector<std::size_t> used;
  award_sheet sheet =
      begin(award_kind::waz, "WAZ", {{"Zone", true}}, order, used);
  if (!marks[2].used(mixed)) {
    sheet.nothing_to_count =
        "WAZ: nothing to count, since no QSO has a CQ zone (CQZ 1 to 40); a "
        "LoTW download with QSL details has it";
    return sheet;
  }
  for (std::size_t slot = 0; slot < zone_count; ++slot)
    add_row(sheet, used, {slot, {std::to_string(slot + 1)}, true});
  return sheet;
}

award_sheet award_tally::state::vucc_sheet(
    const std::vector<std::size_t>& order) const {
  std::vector<std::size_t> used;
  award_sheet sheet =
      begin(award_kind::vucc, "VUCC", {{"Grid", false}}, order, used);
  if (grid_of_slot.empty()) {
    sheet.nothing_to_count =
        "VUCC: nothing to count, since no QSO from 6 m up has a grid square "
        "(GRIDSQUARE or VUCC_GRIDS); a LoTW download with QSL details has "
        "them";
    return sheet;
  }
  std::vector<std::uint16_t> keys = grid_of_slot;
  std::sort(keys.begin(), keys.end());
  for (std::uint16_t key : keys)
    add_row(sheet, used, {grid_slot[key] - 1u, {grid_name(key)}, true});
  return sheet;
}

std::array<award_sheet, 4> award_tally::sheets() const {
  const std::vector<std::size_t> order = state_->column_order();
  return {state_->dxcc_sheet(order), state_->was_sheet(order),
          state_->waz_sheet(order), state_->vucc_sheet(order)};
}

namespace {

std::string count_line(std::string_view name, std::size_t confirmed,
                       std::size_t worked, std::string_view tail) {
  std::string line(name);
  line += ": " + std::to_string(confirmed) + " confirmed, " +
          std::to_string(worked) + " worked";
  line += tail;
  return line;
}

}  // namespace

std::vector<std::string> award_summary(const award_sheet& sheet) {
  if (!sheet.nothing_to_count.empty())
    return {std::string(sheet.nothing_to_count)};
  std::vector<std::string> lines;
  if (sheet.kind == award_kind::vucc) {
    for (std::size_t c = sheet.first_band; c < sheet.count_columns.size(); ++c)
      lines.push_back(count_line("VUCC " + sheet.count_columns[c],
                                 sheet.confirmed[c], sheet.worked[c],
                                 " grids"));
    return lines;
  }
  const std::size_t of = static_cast<std::size_t>(
      std::count_if(sheet.rows.begin(), sheet.rows.end(),
                    [](const award_row& r) { return r.counted; }));
  lines.push_back(count_line(sheet.name, sheet.confirmed[mixed],
                             sheet.worked[mixed], " of " + std::to_string(of)));
  return lines;
}

}  // namespace qsoflat
