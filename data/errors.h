// The exceptions of the data access layer. Every failure of a dataset, engine or layer, is an
// EIsamDatabaseError whose message is the dataset's name, ": " and the text; connections and
// settings raise their own kinds.
#ifndef RIVENOAK_DATA_ERRORS_H_
#define RIVENOAK_DATA_ERRORS_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace data {

// The base of every exception the layer raises; message() is what an error box shows.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string message() const { return what(); }
};

// A text that cannot be read as a value of the type asked for ("'%s' is not a valid date").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The framework's database error: misuse of a dataset or a field.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// What a dataset records about the failure, beside its message.
struct DatabaseErrorContext {
  uint32_t error_code = 0;
  std::string dataset_name;
  std::string owner_name;
  std::string database_name;
  std::string database_path;
  std::string table_name;
};

class EIsamDatabaseError : public EDatabaseError {
 public:
  EIsamDatabaseError(const std::string& message, DatabaseErrorContext context);
  ~EIsamDatabaseError() override;
  EIsamDatabaseError(const EIsamDatabaseError&) = default;

  uint32_t error_code() const { return context_.error_code; }
  const DatabaseErrorContext& context() const { return context_; }

 private:
  DatabaseErrorContext context_;
};

// An engine failure of a connection or of the settings: the engine's text for the code.
class IsamError : public Exception {
 public:
  IsamError(const std::string& message, uint32_t code) : Exception(message), code_(code) {}
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

class IsamConnectionError : public Exception {
 public:
  using Exception::Exception;
};

class IsamSettingsError : public Exception {
 public:
  using Exception::Exception;
};

// The layer's own misuse code, and the code of permission texts posted to the engine.
constexpr uint32_t kLayerErrorCode = 5121;
constexpr uint32_t kPermissionErrorCode = 5054;

}  // namespace data

#endif  // RIVENOAK_DATA_ERRORS_H_
