// The engine's C interface, moves and reads: moves in an order (a table's natural order or an
// index), the ends of an order, counts and relative places, and the current record read whole
// (its record image) or field by field, as text, raw bytes or the empty mark.
#include <cstring>
#include <string>

#include "isam/api_handles.h"
#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/guard.h"
#include "isam/isam.h"

using namespace isam;

extern "C" {

IsamResult IsamGotoTop(IsamHandle order) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->GotoTop(o.index);
  });
}

IsamResult IsamGotoBottom(IsamHandle order) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->GotoBottom(o.index);
  });
}

IsamResult IsamSkip(IsamHandle order, int32_t count) {
  return Guard([&] {
    OrderRef o = R().GetOrder(order);
    o.table->Skip(o.index, count);
  });
}

IsamResult IsamAtEOF(IsamHandle order, uint16_t* at_eof) {
  return Guard([&] {
    Need(at_eof, "output");
    *at_eof = R().GetOrder(order).table->at_eof() ? 1 : 0;
  });
}

IsamResult IsamAtBOF(IsamHandle order, uint16_t* at_bof) {
  return Guard([&] {
    Need(at_bof, "output");
    *at_bof = R().GetOrder(order).table->at_bof() ? 1 : 0;
  });
}

IsamResult IsamIsRecordVisible(IsamHandle order, uint16_t* visible) {
  return Guard([&] {
    Need(visible, "output");
    OrderRef o = R().GetOrder(order);
    *visible = o.table->IsVisible(o.index) ? 1 : 0;
  });
}

IsamResult IsamGetRecord(IsamHandle order, uint8_t* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    uint32_t needed = t.schema().record_length;
    if (*length < needed) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL,
           "A record of " + t.Title() + " takes " + std::to_string(needed) + " bytes");
    }
    t.RecordImage(buffer);
    *length = needed;
  });
}

IsamResult IsamGetRecordNum(IsamHandle order, uint16_t, int64_t* record_number) {
  return Guard([&] {
    Need(record_number, "output");
    *record_number = R().GetOrder(order).table->RecordNumber();
  });
}

IsamResult IsamGotoRecord(IsamHandle table, int64_t record_number) {
  return Guard([&] { TableOf(table).GotoRecord(record_number); });
}

IsamResult IsamGetRecordCount(IsamHandle order, uint16_t option, uint32_t* count) {
  return Guard([&] {
    Need(count, "output");
    if ((option & 3) == 0) Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid count option");
    if (R().KindOf(order) == ISAM_HANDLE_STATEMENT) {
      auto rows = R().GetStatement(order).rows_affected();
      if (!rows) Fail(ISAM_ERR_NO_ROW_COUNT, "The statement gives no row count");
      *count = static_cast<uint32_t>(*rows);
      return;
    }
    OrderRef o = R().GetOrder(order);
    *count = o.table->Count(o.index, option);
  });
}

IsamResult IsamGetRelKeyPos(IsamHandle order, double* position) {
  return Guard([&] {
    Need(position, "output");
    OrderRef o = R().GetOrder(order);
    *position = o.table->RelativePosition(o.index);
  });
}

IsamResult IsamRefreshRecord(IsamHandle order) {
  return Guard([&] { R().GetOrder(order).table->Refresh(); });
}

IsamResult IsamGetField(IsamHandle order, uint16_t field, char* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    const FieldDef& def = FieldOf(t, field);
    std::string text = TextFromStored(def, t.Values()[field - 1u], R().settings().date_format,
                                      R().settings().decimals);
    if (text.size() + 1 > *length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The value of '" + AnsiFromUtf8(def.name) + "' takes " +
                                          std::to_string(text.size() + 1) + " bytes");
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<uint32_t>(text.size());
  });
}

IsamResult IsamGetFieldRaw(IsamHandle order, uint16_t field, uint8_t* buffer, uint32_t* length) {
  return Guard([&] {
    Need(buffer, "buffer");
    Need(length, "length");
    Table& t = *R().GetOrder(order).table;
    const FieldDef& def = FieldOf(t, field);
    if (*length < def.length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The field '" + AnsiFromUtf8(def.name) + "' takes " +
                                          std::to_string(def.length) + " bytes");
    }
    RawFromStored(def, t.Values()[field - 1u], buffer);
    *length = def.length;
  });
}

IsamResult IsamIsEmpty(IsamHandle order, uint16_t field, uint16_t* empty) {
  return Guard([&] {
    Need(empty, "output");
    Table& t = *R().GetOrder(order).table;
    *empty = IsEmptyStored(FieldOf(t, field), t.Values()[field - 1u]) ? 1 : 0;
  });
}

}  // extern "C"
