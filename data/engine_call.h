// Reading the engine's last error after a failing call.
#ifndef RIVENOAK_DATA_ENGINE_CALL_H_
#define RIVENOAK_DATA_ENGINE_CALL_H_

#include <cstdint>
#include <string>

#include "isam/isam.h"

namespace data {

struct EngineError {
  uint32_t code = 0;
  std::string text;
};

// The engine's last error (code and text, at most 600 characters).
EngineError LastEngineError();
// The engine's text for a code.
std::string EngineErrorString(uint32_t code);

}  // namespace data

#endif  // RIVENOAK_DATA_ENGINE_CALL_H_
