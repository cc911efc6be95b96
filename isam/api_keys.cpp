// The engine's C interface, keys and scopes: an index's segments and key length, raw keys built
// from the index's key buffer, seeks, scopes that limit an order's moves and counts, and filter
// expressions, which this engine refuses.
#include <cstring>
#include <string>
#include <vector>

#include "isam/api_handles.h"
#include "isam/codepage.h"
#include "isam/guard.h"
#include "isam/isam.h"

using namespace isam;

extern "C" {

IsamResult IsamGetNumSegments(IsamHandle index, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    OrderRef o = R().GetIndex(index);
    *count = static_cast<uint16_t>(
        o.table->schema().indexes[static_cast<size_t>(o.index)].segments.size());
  });
}

IsamResult IsamGetSegmentFieldname(IsamHandle index, uint16_t segment, char* buffer,
                                   uint16_t* length) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    const IndexDef& def = o.table->schema().indexes[static_cast<size_t>(o.index)];
    if (segment < 1 || segment > def.segments.size()) {
      Fail(ISAM_ERR_INVALID_ARGUMENT,
           "No segment " + std::to_string(segment) + " in the index " + AnsiFromUtf8(def.name));
    }
    const FieldDef& field =
        o.table->schema().fields[static_cast<size_t>(def.segments[segment - 1u])];
    CopyOut(AnsiFromUtf8(field.name), buffer, length);
  });
}

IsamResult IsamGetKeyLength(IsamHandle index, uint16_t* length) {
  return Guard([&] {
    Need(length, "output");
    OrderRef o = R().GetIndex(index);
    size_t key_length = o.table->schema().indexes[static_cast<size_t>(o.index)].key_length;
    if (key_length > UINT16_MAX) {
      Fail(ISAM_ERR_NOT_SUPPORTED, "The keys of an index of " + o.table->path() + " are " +
                                       std::to_string(key_length) +
                                       " bytes long, more than a key length can say");
    }
    *length = static_cast<uint16_t>(key_length);
  });
}

IsamResult IsamInitRawKey(IsamHandle index) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    o.table->InitKey(o.index);
  });
}

IsamResult IsamBuildRawKey(IsamHandle index, uint8_t* key, uint16_t* length) {
  return Guard([&] {
    Need(key, "buffer");
    Need(length, "length");
    OrderRef o = R().GetIndex(index);
    std::vector<uint8_t> built = o.table->BuildKey(o.index);
    if (built.size() > *length) {
      Fail(ISAM_ERR_BUFFER_TOO_SMALL, "The key takes " + std::to_string(built.size()) + " bytes");
    }
    if (!built.empty()) std::memcpy(key, built.data(), built.size());
    *length = static_cast<uint16_t>(built.size());
  });
}

IsamResult IsamSeek(IsamHandle index, const uint8_t* key, uint16_t length, uint16_t key_type,
                    uint16_t seek_type, uint16_t* found) {
  return Guard([&] {
    Need(found, "output");
    if (length) Need(key, "key");
    if (key_type != ISAM_RAW_KEY) Fail(ISAM_ERR_NOT_SUPPORTED, "Only raw keys are supported");
    if (seek_type != ISAM_SEEK_SOFT && seek_type != ISAM_SEEK_EXACT) {
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid seek type " + std::to_string(seek_type));
    }
    OrderRef o = R().GetIndex(index);
    *found = o.table->Seek(o.index, key, length, seek_type == ISAM_SEEK_EXACT) ? 1 : 0;
  });
}

IsamResult IsamSetScope(IsamHandle index, uint16_t which, const uint8_t* key, uint16_t length,
                        uint16_t key_type) {
  return Guard([&] {
    if (length) Need(key, "key");
    if (key_type != ISAM_RAW_KEY) Fail(ISAM_ERR_NOT_SUPPORTED, "Only raw keys are supported");
    if (which != ISAM_SCOPE_TOP && which != ISAM_SCOPE_BOTTOM) {
      Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid scope " + std::to_string(which));
    }
    OrderRef o = R().GetIndex(index);
    o.table->SetScope(o.index, which == ISAM_SCOPE_TOP, key, length);
  });
}

IsamResult IsamClearScope(IsamHandle index, uint16_t which) {
  return Guard([&] {
    OrderRef o = R().GetIndex(index);
    o.table->ClearScope(o.index, which == ISAM_SCOPE_TOP);
  });
}

IsamResult IsamClearAllScopes(IsamHandle table) {
  return Guard([&] { TableOf(table).ClearAllScopes(); });
}

IsamResult IsamSetFilter(IsamHandle order, const char*) {
  return Guard([&] {
    R().GetOrder(order);
    Fail(ISAM_ERR_NOT_SUPPORTED, "Filter expressions are not supported by this engine");
  });
}

IsamResult IsamSetOptFilter(IsamHandle order, const char* expression, uint16_t) {
  return IsamSetFilter(order, expression);
}

IsamResult IsamClearFilter(IsamHandle order) {
  return Guard([&] {
    R().GetOrder(order);
    Fail(ISAM_ERR_NO_FILTER, "No filter is set");
  });
}

IsamResult IsamClearOptFilter(IsamHandle order) {
  return IsamClearFilter(order);
}

}  // extern "C"
