// Raw keys and scopes of an index: the key buffer filled field by field, keys built from it and
// read back into values, seeks (exact or to the next key) and the top and bottom scopes that
// limit every move, count and seek in the order. A raw key covers the leading segments that were
// assigned; the rest of the order is left open.
#include "isam/table.h"

#include <cstring>

#include "isam/codepage.h"
#include "isam/field.h"
#include "isam/isam.h"

namespace isam {

void Table::InitKey(int index) {
  IndexState& state = IndexAt(index);
  state.key.assign(schema().indexes[static_cast<size_t>(index)].segments.size(), std::nullopt);
}

void Table::SetKeyField(int index, int field, std::optional<Value> stored) {
  IndexState& state = IndexAt(index);
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  assert(field >= 0 && static_cast<size_t>(field) < schema().fields.size());
  if (state.key.size() != def.segments.size()) InitKey(index);
  for (size_t j = 0; j < def.segments.size(); ++j) {
    if (def.segments[j] == field) {
      state.key[j] = stored.value_or(Value{});
      return;
    }
  }
  Fail(ISAM_ERR_FIELD_NOT_FOUND,
       "The field '" + AnsiFromUtf8(schema().fields[static_cast<size_t>(field)].name) +
           "' is not a key field of the index " + AnsiFromUtf8(def.name) + " of " + Title());
}

std::vector<uint8_t> Table::BuildKey(int index) const {
  const IndexState& state = IndexAt(index);
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  std::vector<uint8_t> key;
  for (size_t j = 0; j < state.key.size() && state.key[j]; ++j) {
    const FieldDef& field = schema().fields[static_cast<size_t>(def.segments[j])];
    size_t at = key.size();
    key.resize(at + 1 + field.length);
    key[at] = IsNull(*state.key[j]) ? 1 : 0;
    RawFromStored(field, *state.key[j], key.data() + at + 1);
  }
  return key;
}

std::vector<Value> Table::DecodeKey(int index, const uint8_t* key, uint16_t length) const {
  assert(index >= 0 && static_cast<size_t>(index) < indexes_.size());
  const IndexDef& def = schema().indexes[static_cast<size_t>(index)];
  std::vector<Value> values;
  size_t pos = 0;
  for (size_t j = 0; j < def.segments.size() && pos < length; ++j) {
    const FieldDef& field = schema().fields[static_cast<size_t>(def.segments[j])];
    if (pos + 1 + field.length > length || key[pos] > 1) {
      Fail(ISAM_ERR_INVALID_KEY, "A key of " + std::to_string(length) +
                                     " bytes does not fit the index " + AnsiFromUtf8(def.name) +
                                     " of " + Title());
    }
    if (key[pos] == 1)
      values.emplace_back();
    else
      values.push_back(StoredFromRaw(field, key + pos + 1, field.length, Title()));
    pos += 1 + field.length;
  }
  if (pos != length) {
    Fail(ISAM_ERR_INVALID_KEY, "A key of " + std::to_string(length) +
                                   " bytes does not fit the index " + AnsiFromUtf8(def.name) +
                                   " of " + Title());
  }
  return values;
}

bool Table::Seek(int index, const uint8_t* key, uint16_t length, bool exact) {
  std::vector<Value> wanted = DecodeKey(index, key, length);
  DropPending();
  MarkBof(false);
  const IndexState& state = IndexAt(index);
  const std::vector<Value>* bound = &wanted;
  if (state.top) {
    // A key that sorts before the top scope, or is a shorter start of it, searches from the top.
    int c = CompareKeys(wanted, *state.top, std::min(wanted.size(), state.top->size()));
    if (c < 0 || (c == 0 && wanted.size() < state.top->size())) bound = &*state.top;
  }
  // The record stood on is kept for the move back to it, while the shortcuts serve.
  before_seek_.reset();
  if (OnRecord() && standing_ != Standing::kGone && shortcuts_.Serve()) {
    before_seek_ = StoodOn{recno_, std::move(values_), read_};
    values_.clear();
  }
  Read read = Read::kNone;
  try {
    read = FirstFrom(index, *bound);
  } catch (...) {
    if (before_seek_ && values_.empty()) values_ = std::move(before_seek_->values);
    before_seek_.reset();
    throw;
  }
  // An exact seek that finds nothing leaves the handle at the end.
  if (read != Read::kFound) {
    PassEnd();
    return false;
  }
  bool found = CompareRowWithKey(index, values_, recno_, wanted, wanted.size()) == 0;
  if (!found && exact) PassEnd();
  return found;
}

void Table::ScopeChanging() {
  shortcuts_.StopStream();
  shortcuts_.ForgetEmptyTop();
  // The record a move to the top found need not be the first of the new scope: records before it
  // may now lie inside.
  first_of_order_ = kNoOrder;
}

void Table::SetScope(int index, bool top, const uint8_t* key, uint16_t length) {
  std::vector<Value> values = DecodeKey(index, key, length);
  ScopeChanging();
  IndexState& state = IndexAt(index);
  (top ? state.top : state.bottom) = std::move(values);
  state.Rehash();
}

void Table::ClearScope(int index, bool top) {
  ScopeChanging();
  IndexState& state = IndexAt(index);
  auto& scope = top ? state.top : state.bottom;
  if (!scope) Fail(ISAM_ERR_NO_SCOPE, "No scope is set on the index of " + Title());
  scope.reset();
  state.Rehash();
}

void Table::ClearAllScopes() {
  ScopeChanging();
  for (IndexState& state : indexes_) {
    state.top.reset();
    state.bottom.reset();
    state.Rehash();
  }
}

bool Table::HasScope(int index) const {
  const IndexState& state = IndexAt(index);
  return state.top || state.bottom;
}

}  // namespace isam
