// The practice list of a root data folder: the table MWDBList.ADT in that folder, one record per
// practice with its "Dataset Name" and its "Data Path". The chooser window and `rivenoak run
// --all` read it through this module alone, so that one list names the same folders in both.
//
// The one rule for a practice's folder (PracticeDataPath): an empty Data Path names none; an
// absolute one is taken as written; a relative one is taken against the root folder the list
// lives in, never against the program's working folder, and made lexically normal ("A/../B" is
// B). No link is followed to find it: the path is data until whoever opens the folder checks it
// as any other data path. A Dataset Name is data too: it is printed with its control characters
// escaped, and becomes a file name only through PracticeFileNames.
//
// Qt-free; a list that cannot be read throws data::Exception with the engine's text.
#ifndef RIVENOAK_APP_PRACTICE_PRACTICE_LIST_H_
#define RIVENOAK_APP_PRACTICE_PRACTICE_LIST_H_

#include <string>
#include <vector>

#include "data/isam_connection.h"
#include "data/isam_dataset.h"

namespace app {

// The list's table in the root folder.
inline constexpr char kPracticeListTable[] = "MWDBList.ADT";

struct PracticeEntry {
  std::string name;       // "Dataset Name"
  std::string data_path;  // "Data Path" by PracticeDataPath: a relative one against the root
};

// The folder normalised: a separator at its end (on Windows, also upper case). Every data path
// the program connects to, a root's or a practice's, takes this form.
std::string FormatDataPath(const std::string& path);

// Where the Data Path `listed` of the list in `root` puts the practice (see the top of this file).
std::string PracticeDataPath(const std::string& root, const std::string& listed);

// Connects `connection` to the root folder `root` (again, when it was connected) and opens
// `list`, a table of kPracticeListTable bound to it, there.
void OpenPracticeList(data::TIsamConnection& connection, data::TIsamTable& list,
                      const std::string& root);

// The practice at the current record of `list`, opened on `root` by OpenPracticeList.
PracticeEntry ListedPractice(const data::TDataSet& list, const std::string& root);

// The practices of ROOT/MWDBList.ADT in the table's order.
std::vector<PracticeEntry> ReadPracticeList(const std::string& root);

// The name of each practice's own files (presses, report, backup): common::SafeFileNames over
// the whole list's Dataset Names, so that each is one plain name, and no two are the same
// without regard to letter case.
std::vector<std::string> PracticeFileNames(const std::vector<PracticeEntry>& practices);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_PRACTICE_LIST_H_
