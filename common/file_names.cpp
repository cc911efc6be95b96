// The rules for names that come from data (see the header).
#include "common/file_names.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

#include "common/text.h"

namespace common {
namespace {

constexpr size_t kLongestFileName = 255;
constexpr size_t kLongestSafeName = 100;

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// ASCII only: a byte from 0x80 up may be half of a UTF-8 character, or a Windows-1252 one that
// is no UTF-8 at all, which some shares refuse in a name; and a share that ignores letter case
// may fold non-ASCII letters in ways a name of the list cannot foresee.
bool IsKept(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view(" ._-()&,+'").find(static_cast<char>(c)) != std::string_view::npos;
}

// Names Windows gives to devices in every folder, with or without an extension.
bool IsDeviceName(const std::string& name) {
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::array<const char*, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  if (std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

void TrimEnds(std::string& name) {
  auto trimmed = [](char c) { return c == ' ' || c == '.'; };
  while (!name.empty() && trimmed(name.back())) name.pop_back();
  size_t start = 0;
  while (start < name.size() && trimmed(name[start])) ++start;
  name.erase(0, start);
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kLongestFileName) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || IsControl(static_cast<unsigned char>(c));
  });
}

std::string SafeFileName(std::string_view name) {
  std::string safe;
  for (char c : name) safe += IsKept(static_cast<unsigned char>(c)) ? c : '_';
  TrimEnds(safe);
  if (safe.size() > kLongestSafeName) {
    safe.resize(kLongestSafeName);
    TrimEnds(safe);
  }
  if (safe.empty()) return "practice";
  if (IsDeviceName(safe)) safe.insert(0, "_");
  return safe;
}

std::vector<std::string> SafeFileNames(const std::vector<std::string>& names) {
  std::vector<std::string> safe;
  std::set<std::string> taken;  // upper case
  for (const std::string& name : names) {
    std::string base = SafeFileName(name);
    std::string candidate = base;
    for (int n = 2; taken.count(UpperCase(candidate)) != 0; ++n) {
      candidate = base + "-" + std::to_string(n);
    }
    taken.insert(UpperCase(candidate));
    safe.push_back(candidate);
  }
  return safe;
}

std::string EscapeControlCharacters(std::string_view text) {
  std::string shown;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\n':
        shown += "\\n";
        break;
      case '\r':
        shown += "\\r";
        break;
      case '\t':
        shown += "\\t";
        break;
      case '\\':
        shown += "\\\\";
        break;
      default:
        if (IsControl(byte)) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          shown += hex;
        } else {
          shown += c;
        }
    }
  }
  return shown;
}

}  // namespace common
