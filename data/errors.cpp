// The data layer's exceptions (errors.h): a dataset error keeps what it records beside its
// message.
#include "data/errors.h"

#include <utility>

namespace data {

EIsamDatabaseError::EIsamDatabaseError(const std::string& message, DatabaseErrorContext context)
    : EDatabaseError(message), context_(std::move(context)) {}

EIsamDatabaseError::~EIsamDatabaseError() = default;

}  // namespace data
