// The who-paid check and the "Correct Who Paid Fields" dialog's logic: payments and
// adjustments without a payer are offered one after the other, in the order of their procedure
// codes, and each press of a payer button writes a payer to the current one, or to it and the
// following ones of the same code. The dialog has its own connection to the practice.
#ifndef RIVENOAK_CONVERSION_WHO_PAID_H_
#define RIVENOAK_CONVERSION_WHO_PAID_H_

#include <array>
#include <string>

#include "conversion/codes.h"
#include "conversion/run_view.h"
#include "data/isam_connection.h"
#include "data/isam_dataset.h"
#include "data/isam_query.h"

namespace conversion {

// What the dialog's logic needs of the window that shows it.
class WhoPaidWindow {
 public:
  virtual ~WhoPaidWindow() = default;
  virtual void ProcessMessages() = 0;
  // Closes the dialog; the window runs FormClose as it closes.
  virtual void CloseDialog() = 0;
  // The error box "Could Not Update Record." with one OK button.
  virtual void ShowCouldNotUpdate() = 0;
  // The buttons' enabled states changed.
  virtual void ButtonsChanged() = 0;
};

// The payer buttons, Button2 to Button6, and the letters they write.
enum PayerButton { kPrimary, kSecondary, kTertiary, kGuarantor, kAttorney };
inline constexpr std::array<const char*, 5> kPayerCaptions = {"Primary", "Secondary", "Tertiary",
                                                              "Guarantor", "Attorney"};

// The radio group's items.
enum ApplyChoice { kApplyToAll = 0, kApplyToThis = 1, kApplyToNone = -1 };
inline constexpr const char* kApplyToAllCaption = "Apply to ALL occurrences of this procdure.";
inline constexpr const char* kApplyToThisCaption = "Apply to THIS occurrence ONLY.";

class WhoPaidDialog : public data::TComponent {
 public:
  WhoPaidDialog();
  ~WhoPaidDialog() override;

  // Runs the check for the practice at `path` and answers whether the run may go on.
  bool GetNoWhoPaid(const std::string& path, RunView& view);
  void VerifyWhoPaid(const std::string& path, RunView& view);

  // The window that shows the dialog calls these.
  void SetWindow(WhoPaidWindow* window) { window_ = window; }
  void FormShow();
  void FormClose();
  void SetAvailableButtons();
  void ChangeWhoPaid(const std::string& letter);
  void Button1Click();
  void PayerButtonClick(PayerButton button) { ChangeWhoPaid(kPayerLetters[button]); }

  bool PayerEnabled(PayerButton button) const { return payer_enabled_[button]; }
  bool CloseEnabled() const { return close_enabled_; }
  // Kept for the program's life: the radio group's chosen item.
  int Choice = kApplyToThis;
  bool Result() const { return result_; }

  data::TIsamConnection IsamConnection3;
  data::TIsamQuery WhoPaidQuery;
  data::TDataSource DataSourceWhoPaidQuery;
  data::TIsamTable MWtrnWhoPaid;
  data::TDataSource DataSourceMWtrnWhoPaid;

 private:
  void SetPayerButtons(bool insurance, bool others);
  void WriteCurrent(const std::string& letter);

  WhoPaidWindow* window_ = nullptr;
  RunCounts* counts_ = nullptr;  // the run's, from the last check
  bool result_ = true;
  std::array<bool, 5> payer_enabled_ = {false, false, false, false, false};
  bool close_enabled_ = true;
};

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_WHO_PAID_H_
