#include "data/errors.h"

#include <algorithm>
#include <cctype>

#include "common/text.h"

namespace data {
namespace {

thread_local bool building_database_error = false;

}  // namespace

EIsamDatabaseError::EIsamDatabaseError(const std::string& message, DatabaseErrorContext context)
    : EDatabaseError(message), context_(std::move(context)) {
  building_database_error = false;
}

EIsamDatabaseError::~EIsamDatabaseError() {
  building_database_error = false;
}

bool BuildingDatabaseError() {
  return building_database_error;
}
void SetBuildingDatabaseError(bool building) {
  building_database_error = building;
}

std::string ColumnNameFromText(uint32_t code, const std::string& text) {
  if (code < 5147 || code > 5149) return "";
  const std::string marker = "column \"";
  size_t start = text.find(marker);
  if (start == std::string::npos) return "";
  start += marker.size();
  size_t end = text.find('"', start);
  return end == std::string::npos ? "" : text.substr(start, end - start);
}

int32_t NativeErrorFromText(const std::string& text) {
  std::string upper = common::UpperCase(text);
  const std::string marker = "NATIVEERROR = ";
  size_t at = upper.find(marker);
  if (upper.find("ERROR 7200:") == std::string::npos || at == std::string::npos) return 0;
  at += marker.size();
  size_t end = upper.find(';', at);
  std::string digits = upper.substr(at, end == std::string::npos ? std::string::npos : end - at);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return 0;
  }
  try {
    return std::stoi(digits);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace data
