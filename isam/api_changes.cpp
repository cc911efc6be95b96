// The engine's C interface, changes: record locks, the pending change (an append or an edit of the
// current record) assigned field by field and written or cancelled. A field assigned on an index
// handle goes to that index's key buffer instead, and on a statement handle empties a parameter.
#include <string>

#include "isam/api_handles.h"
#include "isam/field.h"
#include "isam/guard.h"
#include "isam/isam.h"

namespace isam {
namespace {

// A field assignment on a table (the pending change) or on an index (its key buffer).
void AssignField(IsamHandle handle, uint16_t field, const Value& stored) {
  uint16_t kind = R().KindOf(handle);
  if (kind == ISAM_HANDLE_INDEX) {
    OrderRef order = R().GetIndex(handle);
    FieldOf(*order.table, field);
    order.table->SetKeyField(order.index, field - 1, stored);
    return;
  }
  Table& table = R().GetTable(handle);
  FieldOf(table, field);
  table.SetField(field - 1, stored);
}

}  // namespace
}  // namespace isam

using namespace isam;

extern "C" {

IsamResult IsamLockRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).Lock(record_number); });
}

IsamResult IsamUnlockRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).Unlock(record_number); });
}

IsamResult IsamIsRecordLocked(IsamHandle table, int64_t record_number, uint16_t* locked) {
  return Guard([&] {
    Need(locked, "output");
    *locked = TableOf(table).LockedElsewhere(record_number) ? 1 : 0;
  });
}

IsamResult IsamAppendRecord(IsamHandle table) {
  return Guard([&] { TableOf(table).Append(); });
}

IsamResult IsamClearRecordBuffer(IsamHandle table) {
  return Guard([&] { TableOf(table).ClearBuffer(); });
}

IsamResult IsamSetField(IsamHandle handle, uint16_t field, const char* text) {
  return Guard([&] {
    Need(text, "value");
    Table& t = TableOf(handle);
    Value stored = StoredFromText(FieldOf(t, field), text, R().settings().date_format, t.Title());
    AssignField(handle, field, stored);
  });
}

IsamResult IsamSetFieldRaw(IsamHandle handle, uint16_t field, const uint8_t* data,
                           uint32_t length) {
  return Guard([&] {
    Need(data, "value");
    Table& t = TableOf(handle);
    AssignField(handle, field, StoredFromRaw(FieldOf(t, field), data, length, t.Title()));
  });
}

IsamResult IsamSetEmpty(IsamHandle handle, uint16_t field) {
  return Guard([&] {
    if (R().KindOf(handle) == ISAM_HANDLE_STATEMENT) {
      R().GetStatement(handle).SetParameter(field, ParamValue{});
      return;
    }
    AssignField(handle, field, Value{});
  });
}

IsamResult IsamWriteRecord(IsamHandle table) {
  return Guard([&] { TableOf(table).Write(); });
}

IsamResult IsamCancelUpdate(IsamHandle table) {
  return Guard([&] { TableOf(table).CancelUpdate(); });
}

}  // extern "C"
