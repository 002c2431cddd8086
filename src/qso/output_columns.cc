#include "qso/output_columns.h"

namespace qsoflat {

output_columns fixed_columns() {
  output_columns fixed;
  for (std::size_t i = first_column; i < field_count; ++i)
    fixed.columns.push_back(
        {std::string(field_names[i].name), field_names[i].column});
  fixed.first_slot = first_column;
  fixed.fixed = true;
  return fixed;
}

}  // namespace qsoflat
