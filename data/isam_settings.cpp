#include "data/isam_settings.h"

#include <mutex>

#include "common/text.h"

#include "data/date_time.h"
#include "data/engine_call.h"
#include "data/errors.h"
#include "isam/isam.h"

namespace data {
namespace {

constexpr int8_t kCachedCursorsAtStart = 25;

// How many settings components live: at most one. Process-wide because what the component
// changes is (the engine's date format, decimals and caches, and the process's date format), so
// that two would undo each other. Guarded by settings_count_mutex, held while the count is
// tested and changed, as a component may be made on any thread.
std::mutex settings_count_mutex;
int settings_count = 0;

// The process format that an engine date format stands for: C and Y (any case) become y, and
// everything but C, Y, M and D becomes the date separator.
std::string ProcessFormatOf(const std::string& engine_format, char separator) {
  std::string out;
  for (char c : engine_format) {
    char u = common::UpperCase(c);
    if (u == 'C' || u == 'Y')
      out += 'y';
    else if (u == 'M' || u == 'D')
      out += c;
    else
      out += separator;
  }
  return out;
}

}  // namespace

TIsamSettings::TIsamSettings(TComponent* owner, const std::string& name) : TComponent(owner, name) {
  {
    std::lock_guard<std::mutex> lock(settings_count_mutex);
    if (settings_count > 0) {
      throw IsamSettingsError("Only one IsamSettings component is allowed per application");
    }
    ++settings_count;
  }
  set_process_date_format_ = true;
  cached_tables_ = 0;
  cached_cursors_ = kCachedCursorsAtStart;
  IsamCacheOpenCursors(kCachedCursorsAtStart);
  saved_short_date_format_ = ShortDateFormat();
  saved_date_separator_ = DateSeparator();
  std::string process = ShortDateFormat();
  std::string engine_format = process;
  if (IsamSetDateFormat(process.c_str()) != ISAM_SUCCESS) {
    engine_format = "MM/dd/ccyy";
    uint32_t rc = IsamSetDateFormat(engine_format.c_str());
    if (rc != ISAM_SUCCESS) {
      std::lock_guard<std::mutex> lock(settings_count_mutex);
      --settings_count;
      RaiseEngineError(rc);
    }
  }
  date_format_ = engine_format;
  uint16_t decimals = 2;
  IsamGetDecimals(&decimals);
  num_decimals_ = static_cast<uint8_t>(decimals);
  uint16_t deleted = 0;
  IsamGetDeleted(&deleted);
  show_deleted_ = deleted != 0;
  server_types_ = stISAM_REMOTE | stISAM_INET;
}

TIsamSettings::~TIsamSettings() {
  std::lock_guard<std::mutex> lock(settings_count_mutex);
  --settings_count;
}

void TIsamSettings::RaiseEngineError(uint32_t code) {
  EngineError error = LastEngineError();
  std::string text = error.text.empty() ? EngineErrorString(code) : error.text;
  throw IsamError(text, code);
}

void TIsamSettings::SetDateFormat(const std::string& format) {
  std::string value = format.empty() ? "MM/dd/ccyy" : format.substr(0, 11);
  uint32_t rc = IsamSetDateFormat(value.c_str());
  if (rc != ISAM_SUCCESS) RaiseEngineError(rc);
  date_format_ = value;
  if (set_process_date_format_) {
    SetShortDateFormat(ProcessFormatOf(value, DateSeparator()));
  }
}

void TIsamSettings::SetNumDecimals(uint8_t decimals) {
  uint32_t rc = IsamSetDecimals(decimals);
  if (rc != ISAM_SUCCESS) RaiseEngineError(rc);
  num_decimals_ = decimals;
}

void TIsamSettings::SetSetProcessDateFormat(bool value) {
  if (!value && loading_) {
    SetShortDateFormat(saved_short_date_format_);
    SetDateSeparator(saved_date_separator_);
  }
  set_process_date_format_ = value;
}

void TIsamSettings::SetShowDeleted(bool show) {
  uint32_t rc = IsamShowDeleted(show ? 1 : 0);
  if (rc != ISAM_SUCCESS) RaiseEngineError(rc);
  show_deleted_ = show;
}

void TIsamSettings::SetIsamServerTypes(TIsamServerTypes types) {
  if (types == server_types_) return;
  TIsamServerTypes previous = server_types_ ? server_types_ : stISAM_REMOTE;
  uint16_t mask = static_cast<uint16_t>(types & 7u);
  if (mask == 0) {
    server_types_ = previous;
    throw IsamSettingsError("At least one server type must be selected.");
  }
  uint32_t rc = IsamSetServerType(mask);
  if (rc != ISAM_SUCCESS) {
    server_types_ = previous;
    RaiseEngineError(rc);
  }
  server_types_ = types;
}

void TIsamSettings::SetNumCachedTables(int value) {
  if (value < 0) throw Exception("NumCachedTables value must be greater than zero.");
  if (value == cached_tables_) return;
  uint32_t rc = IsamCacheOpenTables(static_cast<uint16_t>(value));
  if (rc != ISAM_SUCCESS) RaiseEngineError(rc);
  cached_tables_ = static_cast<int8_t>(value);
}

void TIsamSettings::SetNumCachedCursors(int value) {
  if (value < 0) throw Exception("NumCachedCursors value must be greater than zero.");
  if (value == cached_cursors_) return;
  uint32_t rc = IsamCacheOpenCursors(static_cast<uint16_t>(value));
  if (rc != ISAM_SUCCESS) RaiseEngineError(rc);
  cached_cursors_ = static_cast<int8_t>(value);
}

}  // namespace data
