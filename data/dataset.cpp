#include "data/dataset.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <exception>

namespace data {
namespace {

// Calls `visit` on each of `items` as they were when called: a visit may add or remove items
// (a link that unlinks itself, a source that closes its dataset). The copy is kept on the stack
// while the list is short, as it is for every dataset of the program, since notifications run on
// every move. A visit that fails does not keep the others from being told, or a follower after it
// would go on showing what belongs to the record left; the first failure is raised at the end.
template <typename T, typename Visit>
void ForEachOfCopy(const std::vector<T*>& items, Visit visit) {
  std::exception_ptr first_failure;
  auto tell = [&](T* item) {
    try {
      visit(item);
    } catch (...) {
      if (!first_failure) first_failure = std::current_exception();
    }
  };
  constexpr size_t kOnStack = 8;
  if (items.size() > kOnStack) {
    std::vector<T*> copy = items;
    for (T* item : copy) tell(item);
  } else {
    std::array<T*, kOnStack> copy{};
    std::copy(items.begin(), items.end(), copy.begin());
    size_t count = items.size();
    for (size_t i = 0; i < count; ++i) tell(copy[i]);
  }
  if (first_failure) std::rethrow_exception(first_failure);
}

}  // namespace

TDataSource::~TDataSource() {
  // Whatever still follows this source forgets it.
  std::vector<TDataLink*> links;
  links.swap(links_);
  for (TDataLink* link : links) link->SourceGone();
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset_ == dataset) return;
  if (dataset_) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_) dataset_->AddDataSource(this);
}

void TDataSource::AddLink(TDataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSource::NotifyActiveChanged(bool active) {
  ForEachOfCopy(links_, [&](TDataLink* link) { link->ActiveChanged(active); });
}

void TDataSource::NotifyRecordChanged() {
  ForEachOfCopy(links_, [](TDataLink* link) { link->RecordChanged(); });
}

void TDataSource::NotifyFieldChanged(TField& field) {
  ForEachOfCopy(links_, [&](TDataLink* link) { link->FieldChanged(field); });
}

bool TDataSource::AllLinksReadOnlyWhenNeeded() const {
  return std::all_of(links_.begin(), links_.end(),
                     [](const TDataLink* link) { return link->ReadsOnlyWhenNeeded(); });
}

TDataSet::TDataSet(TComponent* owner, const std::string& name) : TComponent(owner, name) {}

TDataSet::~TDataSet() {
  for (TDataSource* source : sources_) source->DataSetGone();
}

void TDataSet::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    Fire(BeforeOpen);
    InternalOpen();
    Fire(AfterOpen);
    NotifyActiveChanged(true);
  } else {
    Fire(BeforeClose);
    InternalClose();
    state_ = TDataSetState::dsInactive;
    eof_ = bof_ = true;
    Fire(AfterClose);
    NotifyActiveChanged(false);
  }
}

void TDataSet::CheckBrowseMode() {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  bool changed =
      std::any_of(fields_.begin(), fields_.end(), [](TField* f) { return f->Changed(); });
  if (changed)
    Post();
  else
    Cancel();
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset");
  field->AttachTo(this);
  fields_.push_back(field.get());
  declared_.push_back(std::move(field));
  return *declared_.back();
}

TField* TDataSet::FindField(std::string_view name) const {
  // Names are nearly always given as spelt: an exact match is looked for first, since it costs
  // less than comparing without regard to case.
  for (TField* f : fields_) {
    if (f->FieldName() == name) return f;
  }
  for (TField* f : fields_) {
    const std::string& own = f->FieldName();
    if (own.size() == name.size() && strncasecmp(own.data(), name.data(), name.size()) == 0) {
      return f;
    }
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError("Field '" + std::string(name) + "' not found");
  return *field;
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) {
    sources_.push_back(source);
  }
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

bool TDataSet::OnlyReadersOnDemandFollow() const {
  return std::all_of(sources_.begin(), sources_.end(), [](const TDataSource* source) {
    return source->AllLinksReadOnlyWhenNeeded();
  });
}

void TDataSet::FieldWritten(TField& field) {
  ForEachOfCopy(sources_, [&](TDataSource* source) { source->NotifyFieldChanged(field); });
}

void TDataSet::DatabaseError(const std::string& text) const {
  throw EDatabaseError(ErrorPrefix() + text);
}

void TDataSet::NotifyRecordChanged() {
  ForEachOfCopy(sources_, [](TDataSource* source) { source->NotifyRecordChanged(); });
}

void TDataSet::NotifyActiveChanged(bool active) {
  ForEachOfCopy(sources_, [&](TDataSource* source) { source->NotifyActiveChanged(active); });
}

void TDataSet::ClearMadeFields() {
  made_.clear();
  fields_.clear();
  for (auto& f : declared_) {
    f->Unbind();
    fields_.push_back(f.get());
  }
}

void TDataSet::AddMadeField(std::unique_ptr<TField> field) {
  field->AttachTo(this);
  fields_.push_back(field.get());
  made_.push_back(std::move(field));
}

}  // namespace data
