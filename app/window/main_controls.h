// The controls of the main window that start-up and the run read and set: labels, the date
// range, the option boxes and the two buttons. The desktop window maps them to its widgets; the
// headless runner keeps them as values set from the command line.
#ifndef RIVENOAK_APP_WINDOW_MAIN_CONTROLS_H_
#define RIVENOAK_APP_WINDOW_MAIN_CONTROLS_H_

#include <string>

namespace app {

// The empty text of a masked date field.
inline constexpr const char* kEmptyDateText = "  /  /    ";

class MainControls {
 public:
  virtual ~MainControls() = default;
  virtual void SetPracticeNameText(const std::string& text) = 0;    // Label4
  virtual void SetDataPathText(const std::string& text) = 0;        // Label5
  virtual void SetConnectionText(const std::string& text) = 0;      // Label6
  virtual void SetConversionDateText(const std::string& text) = 0;  // Label7
  virtual std::string DateFromText() const = 0;
  virtual std::string DateToText() const = 0;
  virtual void SetDateFromText(const std::string& text) = 0;
  virtual void SetDateToText(const std::string& text) = 0;
  virtual void SetDateFieldsEnabled(bool enabled) = 0;
  // "Specify Date Range" (CheckBox4).
  virtual void SetSpecifyDateRange(bool checked, bool enabled) = 0;
  virtual bool MatchTransactionTypes() const = 0;               // CheckBox1
  virtual bool ApplyPayments() const = 0;                       // CheckBox3
  virtual bool OverApply() const = 0;                           // CheckBox2
  virtual bool AdjustPaymentAmounts() const = 0;                // CheckBox5
  virtual bool StrictTypeRules() const = 0;                     // CheckBox6
  virtual void SetExitCaption(const std::string& caption) = 0;  // Button1
  virtual void SetStartEnabled(bool enabled) = 0;               // Button2
};

}  // namespace app

#endif  // RIVENOAK_APP_WINDOW_MAIN_CONTROLS_H_
