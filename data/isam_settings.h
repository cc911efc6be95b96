// TIsamSettings: the engine's process-wide settings (date format, decimals, deleted records,
// server types, caches), and the process's short date format that follows the date format. One
// per process.
#ifndef RIVENOAK_DATA_ISAM_SETTINGS_H_
#define RIVENOAK_DATA_ISAM_SETTINGS_H_

#include <cstdint>
#include <string>

#include "data/component.h"
#include "data/isam_connection.h"

namespace data {

class TIsamSettings : public TComponent {
 public:
  explicit TIsamSettings(TComponent* owner = nullptr, const std::string& name = "");
  ~TIsamSettings() override;

  const std::string& DateFormat() const { return date_format_; }
  void SetDateFormat(const std::string& format);
  uint8_t NumDecimals() const { return num_decimals_; }
  void SetNumDecimals(uint8_t decimals);
  bool SetProcessDateFormat() const { return set_process_date_format_; }
  void SetSetProcessDateFormat(bool value);
  bool ShowDeleted() const { return show_deleted_; }
  void SetShowDeleted(bool show);
  TIsamServerTypes IsamServerTypes() const { return server_types_; }
  void SetIsamServerTypes(TIsamServerTypes types);
  int8_t NumCachedTables() const { return cached_tables_; }
  void SetNumCachedTables(int value);
  int8_t NumCachedCursors() const { return cached_cursors_; }
  void SetNumCachedCursors(int value);

  // While loading from a stored form, turning SetProcessDateFormat off restores the format.
  void BeginLoading() { loading_ = true; }
  void EndLoading() { loading_ = false; }

 private:
  [[noreturn]] static void RaiseEngineError(uint32_t code);

  std::string date_format_;
  uint8_t num_decimals_ = 2;
  bool set_process_date_format_ = false;
  bool show_deleted_ = false;
  TIsamServerTypes server_types_ = 0;
  int8_t cached_tables_ = 0;
  int8_t cached_cursors_ = 0;
  std::string saved_short_date_format_;
  char saved_date_separator_ = '/';
  bool loading_ = false;
};

}  // namespace data

#endif  // RIVENOAK_DATA_ISAM_SETTINGS_H_
