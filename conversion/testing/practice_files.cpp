#include "conversion/testing/practice_files.h"

#include "data/date_time.h"
#include "isam/testing/practice_layouts.h"

namespace conversion::testing {

void FakeGauge::SetMax(int max) {
  max_ = max < 0 ? 0 : max;
  if (position_ > max_) position_ = max_;
}

void FakeGauge::SetPosition(int position) {
  position_ = position < 0 ? 0 : (position > max_ ? max_ : position);
  positions.push_back(position);
}

void FakeView::ProcessMessages() {
  if (++messages == stop_at_message) stop = true;
}

void FakeView::SetTitle(const std::string& text) {
  title = text;
  titles.push_back(text);
}

void FakeView::ShowPlain(const std::string& text) {
  if (boxes_fail) ADD_FAILURE() << text;
}

void FakeView::ShowInformation(const std::string& text) {
  if (boxes_fail) ADD_FAILURE() << text;
}

void FakeView::ShowError(const std::string& text) {
  errors.push_back(text);
  if (boxes_fail) ADD_FAILURE() << text;
}

bool FakeView::AskYesNo(const std::string& text) {
  questions.push_back(text);
  return answer;
}

std::string Quote(const std::string& text) {
  return text.empty() ? "NULL" : "'" + text + "'";
}

const Strings kUnpaid = {"", "", "", "", "", ""};
const Strings kNoFlags = {"", "", "", "", ""};
const Strings kAllFlags = {"T", "T", "T", "T", "T"};

void PracticeFilesTest::SetUp() {
  // The tests' own layouts, not the program's: a practice the phases are tested on must not take
  // its layout from the code under test.
  for (const isam::testing::PracticeTableLayout& table : isam::testing::kPracticeLayouts) {
    isam::testing::WriteTableFile(folder_.File(table.file), table.fields, table.indexes,
                                  GetParam());
  }
}

void PracticeFilesTest::Add(const Trn& t) {
  std::string columns =
      "\"_recno\", \"Entry Number\", \"Chart Number\", \"Document Number\", "
      "\"Transaction Type\", \"Amount\", \"Who Paid\", \"Date Created\"";
  std::string values = std::to_string(t.entry) + ", " + std::to_string(t.entry) + ", " +
                       Quote(t.chart) + ", " + Quote(t.doc) + ", " + Quote(t.type) + ", " +
                       t.amount + ", " + Quote(t.who) + ", " + Quote(t.created);
  for (const auto& [field, literal] : t.more) {
    columns += ", \"" + field + "\"";
    values += ", " + literal;
  }
  isam::testing::RunSql(folder_.File("MWTRN.ADT"),
                        "INSERT INTO records (" + columns + ") VALUES (" + values + ")");
}

void PracticeFilesTest::AddPax(int payment, int charge, const std::string& amount,
                               const std::string& who) {
  isam::testing::RunSql(
      folder_.File("Mwpax.adt"),
      "INSERT INTO records (\"Payment Reference\", \"Charge Reference\", \"Payment Amount\", "
      "\"Who Paid\") VALUES (" +
          std::to_string(payment) + ", " + std::to_string(charge) + ", " + amount + ", " +
          Quote(who) + ")");
}

void PracticeFilesTest::WithPractice(const std::function<void(PracticeDatasets&)>& phases) {
  PracticeDatasets practice;
  practice.IsamConnection2.SetConnectPath(folder_.path() + "/");
  practice.IsamConnection2.SetIsConnected(true);
  practice.OpenTables();
  practice.BeginDate = data::EncodeDate(2024, 3, 1);
  practice.EndDate = data::EncodeDate(2024, 3, 31);
  phases(practice);
}

std::string PracticeFilesTest::Get(int entry, const std::string& field) {
  isam::testing::ScopedConnection connection(folder_.path());
  IsamHandle table = connection.Open("MWTRN.ADT");
  EXPECT_EQ(IsamGotoRecord(table, entry), 0u);
  return isam::testing::FieldText(table, isam::testing::FieldNumber(table, field));
}

Strings PracticeFilesTest::Get(int entry, const Strings& fields) {
  Strings out;
  for (const std::string& field : fields) out.push_back(Get(entry, field));
  return out;
}

Strings PracticeFilesTest::Paid(int entry) {
  return Get(entry,
             {"Insurance 1 Amount Paid", "Insurance 2 Amount Paid", "Insurance 3 Amount Paid",
              "Guarantor Amount Paid", "Attorney Amount Paid", "Adjustment Amount"});
}

Strings PracticeFilesTest::Flags(int entry) {
  return Get(entry, {"Insurance 1 Paid", "Insurance 2 Paid", "Insurance 3 Paid", "Guarantor Paid",
                     "Attorney Paid"});
}

Strings PracticeFilesTest::Pax() {
  isam::testing::ScopedConnection connection(folder_.path());
  IsamHandle table = connection.Open("Mwpax.adt");
  Strings rows;
  for (int64_t recno : isam::testing::WalkForward(table)) {
    IsamGotoRecord(table, recno);
    std::string row;
    for (const char* f : {"Payment Reference", "Charge Reference", "Payment Amount", "Who Paid"}) {
      if (!row.empty()) row += " ";
      row += isam::testing::FieldText(table, isam::testing::FieldNumber(table, f));
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace conversion::testing
