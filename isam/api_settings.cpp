// The engine's C interface, settings: the date format, decimals, deleted records, server types and
// the cache sizes callers may set, the engine's version and count of calls, and dates converted
// with the date format set. Settings are process-wide and hold for every connection.
#include <string>

#include "isam/api_handles.h"
#include "isam/guard.h"
#include "isam/isam.h"

namespace isam {
namespace {

constexpr uint32_t kVersionMajor = 1;
constexpr uint32_t kVersionMinor = 0;

}  // namespace
}  // namespace isam

using namespace isam;

extern "C" {

IsamResult IsamSetDateFormat(const char* format) {
  return Guard([&] {
    Need(format, "date format");
    auto parsed = DateFormat::Parse(format);
    if (!parsed)
      Fail(ISAM_ERR_INVALID_ARGUMENT, std::string("Unknown date format '") + format + "'");
    R().settings().date_format = *parsed;
  });
}

IsamResult IsamGetDateFormat(char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(R().settings().date_format.text(), buffer, length); });
}

IsamResult IsamSetDecimals(uint16_t decimals) {
  return Guard([&] {
    if (decimals > 15) Fail(ISAM_ERR_INVALID_ARGUMENT, "At most 15 decimals");
    R().settings().decimals = decimals;
  });
}

IsamResult IsamGetDecimals(uint16_t* decimals) {
  return Guard([&] {
    Need(decimals, "output");
    *decimals = R().settings().decimals;
  });
}

IsamResult IsamShowDeleted(uint16_t show) {
  return Guard([&] { R().settings().show_deleted = show != 0; });
}

IsamResult IsamGetDeleted(uint16_t* show) {
  return Guard([&] {
    Need(show, "output");
    *show = R().settings().show_deleted ? 1 : 0;
  });
}

IsamResult IsamSetServerType(uint16_t mask) {
  return Guard([&] {
    // Local and network folders are served alike, so a valid mask leaves nothing to choose.
    if (mask == 0 || mask > 7) Fail(ISAM_ERR_INVALID_ARGUMENT, "Invalid server type mask");
  });
}

IsamResult IsamCacheOpenTables(uint16_t count) {
  return Guard([&] { R().settings().cached_tables = count; });
}

IsamResult IsamCacheOpenCursors(uint16_t count) {
  return Guard([&] { R().settings().cached_cursors = count; });
}

IsamResult IsamCacheRecords(IsamHandle table, uint16_t) {
  return Guard([&] { R().GetTable(table); });
}

IsamResult IsamGetVersion(uint32_t* major, uint32_t* minor, char* letter) {
  return Guard([&] {
    Need(major, "output");
    Need(minor, "output");
    *major = kVersionMajor;
    *minor = kVersionMinor;
    if (letter) *letter = ' ';
  });
}

IsamResult IsamGetCallCount(uint64_t* calls) {
  return Guard([&] {
    Need(calls, "output");
    *calls = R().calls();
  });
}

IsamResult IsamConvertStringToJulian(const char* text, int32_t* julian) {
  return Guard([&] {
    Need(text, "date text");
    Need(julian, "output");
    auto day = R().settings().date_format.ParseDate(text);
    if (!day) Fail(ISAM_ERR_INVALID_VALUE, std::string("'") + text + "' is not a valid date");
    *julian = *day;
  });
}

}  // extern "C"
