#include "app/window/file_version.h"

#include <fstream>
#include <iterator>

namespace app {

void GetVersionInfo(const std::string& file, std::string& file_version,
                    std::string& product_version) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Built from parts so that this function's own text is not taken for the data.
  const std::string marker = std::string("RIVENOAK-VERSION") + "-INFO[";
  size_t start = bytes.find(marker);
  if (start == std::string::npos) return;
  start += marker.size();
  size_t end = bytes.find(']', start);
  if (end == std::string::npos) return;
  std::string info = bytes.substr(start, end - start);
  auto value = [&](const std::string& name) -> std::string {
    size_t at = info.find(name + "=");
    if (at == std::string::npos) return "";
    at += name.size() + 1;
    return info.substr(at, info.find(';', at) - at);
  };
  std::string f = value("FileVersion"), p = value("ProductVersion");
  if (!f.empty()) file_version = f;
  if (!p.empty()) product_version = p;
}

}  // namespace app
