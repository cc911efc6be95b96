#include "data/errors.h"

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

}  // namespace data
