// A named part of a window: connections, settings, datasets and data sources are components
// with a name and an owner (the window), whose names their errors and look-ups use. The owner
// holds its components as members; a component does not own its owner.
#ifndef RIVENOAK_DATA_COMPONENT_H_
#define RIVENOAK_DATA_COMPONENT_H_

#include <string>

namespace data {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr, std::string name = "")
      : owner_(owner), name_(std::move(name)) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name) { name_ = name; }
  TComponent* Owner() const { return owner_; }
  std::string OwnerName() const { return owner_ ? owner_->Name() : ""; }

 private:
  TComponent* owner_;
  std::string name_;
};

}  // namespace data

#endif  // RIVENOAK_DATA_COMPONENT_H_
