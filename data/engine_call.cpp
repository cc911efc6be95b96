#include "data/engine_call.h"

namespace data {

EngineError LastEngineError() {
  EngineError error;
  char text[600];
  uint16_t length = sizeof text;
  if (IsamGetLastError(&error.code, text, &length) == ISAM_SUCCESS) error.text.assign(text, length);
  return error;
}

std::string EngineErrorString(uint32_t code) {
  char text[600];
  uint16_t length = sizeof text;
  if (IsamGetErrorString(code, text, &length) != ISAM_SUCCESS) return "";
  return std::string(text, length);
}

}  // namespace data
