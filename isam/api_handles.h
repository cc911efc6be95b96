// What the C interface's functions share: the registry of handles, and the table or field a
// handle and field number name, each refused with an error that says what is wrong.
#ifndef RIVENOAK_ISAM_API_HANDLES_H_
#define RIVENOAK_ISAM_API_HANDLES_H_

#include "isam/internal_header.h"

#include <string>

#include "isam/failure.h"
#include "isam/isam.h"
#include "isam/registry.h"

namespace isam {

inline Registry& R() {
  return Registry::Get();
}

// A field by its number (1 is the first) in the table's fields.
inline const FieldDef& FieldOf(Table& table, uint16_t field) {
  const auto& fields = table.schema().fields;
  if (field < 1 || field > fields.size()) {
    Fail(ISAM_ERR_FIELD_NOT_FOUND, "No field number " + std::to_string(field) + " in " +
                                       table.Title() + " (it has " + std::to_string(fields.size()) +
                                       ")");
  }
  return fields[field - 1u];
}

// The table of a table, cursor or index handle.
inline Table& TableOf(IsamHandle handle) {
  return R().TableOf(handle);
}

}  // namespace isam

#endif  // RIVENOAK_ISAM_API_HANDLES_H_
