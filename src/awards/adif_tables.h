// The facts of ADIF 3.1.6 that the award sheets count by: its DXCC
// entities, its bands and the states of the USA.
#ifndef QSOFLAT_AWARDS_ADIF_TABLES_H_
#define QSOFLAT_AWARDS_ADIF_TABLES_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace qsoflat {

// A DXCC entity by its code, its name as ADIF 3.1.6 spells it (upper case),
// and whether it is deleted.
struct adif_entity {
  std::uint16_t code;
  std::string_view name;
  bool deleted;
};

// A band by its name (upper case) and its edges in MHz.
struct adif_band {
  std::string_view name;
  double lower_mhz;
  double upper_mhz;
};

// A state, or DC, by its two letters, its name and its DXCC entity.
struct adif_state {
  std::string_view code;
  std::string_view name;
  std::uint16_t dxcc;
};

// adif_entities (by code, without 0, which names no entity), adif_bands (in
// frequency order) and adif_states (by code), made from data/adif-3.1.6 when
// the program is built, so that a newer ADIF release changes those files
// alone.
#include "awards/adif_3_1_6_tables.inc"

}  // namespace qsoflat

#endif  // QSOFLAT_AWARDS_ADIF_TABLES_H_
