#include "qso/fields.h"

#include <algorithm>

namespace qsoflat {

column_kind column_kind_of(std::string_view name) {
  const auto field = std::find_if(field_names.begin(), field_names.end(),
                                  [name](const field_entry& entry) {
                                    return same_any_case(entry.name, name);
                                  });
  return field != field_names.end() ? field->column : column_kind::plain;
}

}  // namespace qsoflat
