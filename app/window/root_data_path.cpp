// Where the root data folder comes from (see the header).
#include "app/window/root_data_path.h"

#include <QSettings>
#include <cstdlib>
#include <mutex>

#include "app/practice/practice_list.h"

namespace app {
namespace {

// The --root given at start, process-wide for the reason the header gives, with the lock that
// guards every read and write of it.
struct RootOverride {
  std::mutex lock;
  std::string root;
};

RootOverride& GivenRoot() {
  static RootOverride given;
  return given;
}

}  // namespace

void SetRootOverride(const std::string& root) {
  RootOverride& given = GivenRoot();
  std::lock_guard<std::mutex> hold(given.lock);
  given.root = root;
}

std::string GetRootDataPath() {
  std::string root;
  {
    RootOverride& given = GivenRoot();
    std::lock_guard<std::mutex> hold(given.lock);
    root = given.root;
  }
  if (root.empty()) {
    if (const char* env = std::getenv("RIVENOAK_ROOT")) root = env;
  }
  if (root.empty()) {
    QSettings settings("Medisoft", "Medisoft");
    root = settings.value("Root Data Path").toString().toStdString();
  }
  return FormatDataPath(root);
}

}  // namespace app
