// Shared by the parts of TIsamDataSet (isam_dataset*.cpp): name lists, case-blind comparison of
// names, a master value copied into a detail field, the record-number kind asked of the engine,
// and the link through which a detail follows its master. Internal to the data layer.
#ifndef RIVENOAK_DATA_ISAM_DATASET_PARTS_H_
#define RIVENOAK_DATA_ISAM_DATASET_PARTS_H_

#include <strings.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data/field.h"
#include "data/isam_dataset.h"

namespace data::isam_dataset_parts {

inline std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t semi = text.find(';', pos);
    std::string part = text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
    size_t b = part.find_first_not_of(' ');
    if (b != std::string::npos) out.push_back(part.substr(b, part.find_last_not_of(' ') - b + 1));
    if (semi == std::string::npos) break;
    pos = semi + 1;
  }
  return out;
}

inline bool SameText(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Copies a master field's value into a detail field (which writes into a key buffer).
inline void CopyValue(TField& to, const TField& from) {
  if (from.IsNull()) {
    to.Clear();
    return;
  }
  switch (to.DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      to.SetAsString(from.AsString());
      break;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      to.SetAsInteger(from.AsInteger());
      break;
    case TFieldType::ftBoolean:
      to.SetAsBoolean(from.AsBoolean());
      break;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      to.SetAsDateTime(from.AsDateTime());
      break;
    default:
      to.SetAsFloat(from.AsFloat());
      break;
  }
}

}  // namespace data::isam_dataset_parts

namespace data {

// The link of a detail to its master: master changes set the detail's range.
class TIsamDataSet::MasterLink : public TDataLink {
 public:
  explicit MasterLink(TIsamDataSet* detail) : detail_(detail) {}
  void ActiveChanged(bool active) override {
    if (!detail_->Active()) return;
    if (active)
      detail_->MasterChanged();
    else
      detail_->MasterDisabled();
  }
  void RecordChanged() override {
    if (detail_->Active() && detail_->State() != TDataSetState::dsSetKey) detail_->MasterChanged();
  }
  void SourceGone() override { detail_->master_source_ = nullptr; }
  bool ReadsOnlyWhenNeeded() const override { return true; }
  void FieldChanged(TField& field) override {
    if (!detail_->Active()) return;
    // A value written to the master's key buffer (set-key state) changes none of its records.
    TDataSet* master = detail_->master_source_ ? detail_->master_source_->DataSet() : nullptr;
    if (master && master->State() == TDataSetState::dsSetKey) return;
    for (TField* f : detail_->MasterFieldList()) {
      if (f == &field) {
        detail_->MasterChanged();
        return;
      }
    }
  }

 private:
  TIsamDataSet* detail_;
};

}  // namespace data

#endif  // RIVENOAK_DATA_ISAM_DATASET_PARTS_H_
