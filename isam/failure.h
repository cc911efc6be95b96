// Failures inside the engine travel as exceptions and become an error code and a text at the
// interface (api_*.cpp), so that no exception ever crosses it.
#ifndef RIVENOAK_ISAM_FAILURE_H_
#define RIVENOAK_ISAM_FAILURE_H_

#include "isam/internal_header.h"

#include <stdexcept>
#include <string>

#include "isam/errors.h"

namespace isam {

class Failure : public std::runtime_error {
 public:
  Failure(IsamResult code, const std::string& text) : std::runtime_error(text), code_(code) {}
  IsamResult code() const { return code_; }

 private:
  IsamResult code_;
};

[[noreturn]] inline void Fail(IsamResult code, const std::string& text) {
  throw Failure(code, text);
}

}  // namespace isam

#endif  // RIVENOAK_ISAM_FAILURE_H_
