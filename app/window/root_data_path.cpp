#include "app/window/root_data_path.h"

#include <QSettings>
#include <cstdlib>

#include "app/opening/practice_opening.h"

namespace app {
namespace {

std::string& RootOverride() {
  static std::string root;
  return root;
}

}  // namespace

void SetRootOverride(const std::string& root) {
  RootOverride() = root;
}

std::string GetRootDataPath() {
  std::string root = RootOverride();
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
