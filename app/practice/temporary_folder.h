// Files and folders a command makes for itself alone (a copy of a practice taken before a run, a
// report not yet given its name) and removes when it is done with them: at the end of the object
// that owns them, and also when SIGHUP, SIGINT, SIGTERM or SIGPIPE ends the process, so that an
// interrupted `run --report` or backup, a dry run whose reader went away (`| head -1`) or whose
// terminal closed, or a run of `run --all` ended by its parent leaves no copy of a practice
// behind. After removing them the
// signal ends the process as it would have without them. A signal the process ignores stays
// ignored. SIGKILL, of course, leaves them.
#ifndef RIVENOAK_APP_PRACTICE_TEMPORARY_FOLDER_H_
#define RIVENOAK_APP_PRACTICE_TEMPORARY_FOLDER_H_

#include <functional>
#include <string>

namespace app {

// A file or folder of this process's own, removed with everything in it when the object ends or
// one of the signals ends the process.
class ScratchPath {
 public:
  // Makes the file or folder with `make`, which returns its path (absolute, so that the removal
  // does not depend on the working folder) or throws; the signals wait until it is known, so
  // that no signal comes between its making and its removal being arranged.
  explicit ScratchPath(const std::function<std::string()>& make);
  ~ScratchPath();  // removes the path, then forgets it
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;
  const std::string& path() const { return path_; }
  // The path has been given another name or use: it is left where it is from now on.
  void Keep();

 private:
  std::string path_;
  int slot_ = -1;
};

// A new folder under the system's temporary folder (TMPDIR, else /tmp), named `prefix-XXXXXX`,
// that only this user may enter (mode 0700): the copies made in it are of patients' accounts.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& prefix);
  const std::string& path() const { return folder_.path(); }

 private:
  ScratchPath folder_;
};

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_TEMPORARY_FOLDER_H_
