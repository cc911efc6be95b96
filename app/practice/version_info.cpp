#include "app/practice/version_info.h"

#include <cstring>

namespace app {
namespace {

// Kept in the executable as it stands, so that reading the program file finds it.
[[gnu::used]] const char kVersionInfo[] =
    "RIVENOAK-VERSION-INFO[FileVersion=" RIVENOAK_VERSION ".0;ProductVersion=" RIVENOAK_VERSION "]";

}  // namespace

const char* ProductVersion() {
  return RIVENOAK_VERSION;
}

}  // namespace app
