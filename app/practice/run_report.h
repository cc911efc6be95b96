// The report of one run (`rivenoak run --report FILE.html`, also with --dry-run): a single HTML
// page that needs nothing from the network, with the practice, the range, the options and the
// timings, the run's summary as a table, charts drawn as inline SVG (amount applied per payer
// column, documents applied per month of "Date Created", time per phase), and the records the run
// changed. Every text on the page is valid UTF-8 without control characters (but tab and line
// feed), whatever bytes the tables and folder names it comes from hold.
#ifndef RIVENOAK_APP_PRACTICE_RUN_REPORT_H_
#define RIVENOAK_APP_PRACTICE_RUN_REPORT_H_

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/practice/change_report.h"
#include "conversion/run_counts.h"

namespace app {

struct PhaseTime {
  std::string name;
  double seconds = 0;
};

// A record the run added, removed or changed, with its changed fields.
struct ChangedRecord {
  std::string table;
  int64_t recno = 0;
  std::string key;
  std::string change;  // "added", "removed" or "changed"
  std::vector<FieldChange> fields;
};

// Collects the change report's lines as records: the first `limit` records kept, the rest
// counted.
class ChangedRecords {
 public:
  static constexpr size_t kLimit = 1000;
  explicit ChangedRecords(size_t limit = kLimit) : limit_(limit) {}
  void Take(const FieldChange& change);
  const std::vector<ChangedRecord>& Kept() const { return kept_; }
  // Every record seen, kept or not.
  long long Total() const { return total_; }

 private:
  size_t limit_;
  std::vector<ChangedRecord> kept_;
  long long total_ = 0;
  std::string last_table_;
  int64_t last_recno_ = -1;
};

struct RunRecord {
  std::string practice;
  std::string data_path;  // the practice's folder, also for a dry run
  // A dry run worked on a temporary copy of the practice, which it left as it was; the page says
  // so at its top, in its outcome and over its list of changes.
  bool dry_run = false;
  std::string date_from, date_to;
  std::vector<std::pair<std::string, std::string>> options;
  std::string started;  // local time the run began, as text
  double seconds = 0;   // the whole run
  std::string outcome;  // "finished", "stopped" or "error: ..."
  std::vector<PhaseTime> phases;
  conversion::RunCounts counts;
};

void WriteRunReport(const RunRecord& run, const ChangedRecords& changes, std::ostream& out);

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_RUN_REPORT_H_
