// The practice list of a root data folder, read the one way (see the header).
#include "app/practice/practice_list.h"

#include <filesystem>

#include "common/file_names.h"

namespace app {

std::string FormatDataPath(const std::string& path) {
  if (path.empty()) return path;
#ifdef _WIN32
  std::string out = path;
  if (out.back() != '\\') out += '\\';
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
#else
  // Letter case names different folders here, so it is kept.
  if (path.back() == '/' || path.back() == '\\') return path;
  return path + "/";
#endif
}

std::string PracticeDataPath(const std::string& root, const std::string& listed) {
  std::filesystem::path path(listed);
  if (listed.empty() || path.is_absolute()) return listed;
  return (std::filesystem::path(root) / path).lexically_normal().string();
}

void OpenPracticeList(data::TIsamConnection& connection, data::TIsamTable& list,
                      const std::string& root) {
  connection.SetIsConnected(false);
  connection.SetConnectPath(FormatDataPath(root));
  connection.SetIsConnected(true);
  list.Open();
}

PracticeEntry ListedPractice(const data::TDataSet& list, const std::string& root) {
  // The Data Path first: a list without it is refused naming that field, whichever front reads.
  std::string data_path = PracticeDataPath(root, list.FieldByName("Data Path").AsString());
  return {list.FieldByName("Dataset Name").AsString(), data_path};
}

std::vector<PracticeEntry> ReadPracticeList(const std::string& root) {
  data::TComponent owner(nullptr, "PracticeList");
  data::TIsamConnection connection(&owner, "ListConnection");
  connection.IsamServerTypes = data::stISAM_REMOTE | data::stISAM_LOCAL;
  data::TIsamTable list(&owner, "MWdblist");
  list.SetIsamConnection(&connection);
  list.SetTableName(kPracticeListTable);
  OpenPracticeList(connection, list, root);
  std::vector<PracticeEntry> practices;
  for (list.First(); !list.Eof(); list.Next()) practices.push_back(ListedPractice(list, root));
  list.Close();
  return practices;
}

std::vector<std::string> PracticeFileNames(const std::vector<PracticeEntry>& practices) {
  std::vector<std::string> names;
  for (const PracticeEntry& practice : practices) names.push_back(practice.name);
  return common::SafeFileNames(names);
}

}  // namespace app
