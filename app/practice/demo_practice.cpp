#include "app/practice/demo_practice.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "app/practice/practice_list.h"
#include "common/calendar.h"
#include "conversion/codes.h"
#include "conversion/practice_tables.h"
#include "data/date_time.h"
#include "data/engine_call.h"
#include "data/errors.h"
#include "isam/isam.h"

namespace app {
namespace {

// A small generator whose sequence is the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

void Check(IsamResult rc) {
  if (rc != ISAM_SUCCESS) throw data::Exception(data::LastEngineError().text);
}

std::vector<const char*> CStrings(const std::vector<std::string>& texts) {
  std::vector<const char*> pointers;
  for (const std::string& text : texts) pointers.push_back(text.c_str());
  return pointers;
}

void Create(const std::string& path, const std::vector<std::string>& field_texts,
            const std::vector<std::string>& index_texts) {
  std::vector<const char*> fields = CStrings(field_texts), indexes = CStrings(index_texts);
  Check(IsamCreateTable(path.c_str(), static_cast<uint16_t>(fields.size()), fields.data(),
                        static_cast<uint16_t>(indexes.size()), indexes.data()));
}

// Appends records to one table, all in one transaction.
class Writer {
 public:
  Writer(const std::string& folder, const std::string& file) {
    Check(IsamConnect(folder.c_str(), &connection_));
    Check(IsamOpenTable(connection_, file.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                        ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &table_));
    Check(IsamBeginTransaction(connection_));
  }
  ~Writer() {
    if (connection_) IsamDisconnect(connection_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Begin() { Check(IsamAppendRecord(table_)); }
  void Set(const char* field, const std::string& text) {
    uint16_t number = 0;
    Check(IsamGetFieldNum(table_, field, &number));
    Check(text.empty() ? IsamSetEmpty(table_, number) : IsamSetField(table_, number, text.c_str()));
  }
  void End() { Check(IsamWriteRecord(table_)); }
  void Commit() { Check(IsamCommitTransaction(connection_)); }

 private:
  IsamHandle connection_ = 0;
  IsamHandle table_ = 0;
};

struct Code {
  const char* code;
  const char* type;
  const char* description;
};

const Code kCodes[] = {
    {"99211", "A", "Office visit, minimal"},
    {"99213", "A", "Office visit, established"},
    {"99215", "A", "Office visit, complex"},
    {"90658", "B", "Flu vaccine"},
    {"71020", "C", "Chest x-ray"},
    {"80050", "D", "General health panel"},
    {"H0001", "H", "Alcohol assessment"},
    {"INSPAY", "I", "Insurance payment"},
    {"PATPAY", "J", "Patient payment"},
    {"COPAY", "K", "Copayment"},
    {"ATTPAY", "O", "Attorney payment"},
    {"WRITEOFF", "S", "Write-off"},
    {"DISC", "T", "Discount"},
    {"REFUND", "U", "Refund"},
};
// Codes transactions use that the procedure-code table lacks, with the type they carry.
const Code kMissingCodes[] = {{"99999", "A", "Unlisted service"}, {"MISCPAY", "J", "Misc payment"}};

std::string Money(int cents) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%d.%02d", cents < 0 ? "-" : "", std::abs(cents) / 100,
                std::abs(cents) % 100);
  return buf;
}

void MakeTables(const std::string& folder) {
  for (const conversion::TableLayout& table : conversion::PracticeTables())
    Create(folder + "/" + table.file, table.fields, table.indexes);
}

void FillCodes(const std::string& folder) {
  Writer w(folder, "Mwpro.adt");
  for (const Code& c : kCodes) {
    w.Begin();
    for (const char* field : {"Code 1", "Code 2", "Code 3"}) w.Set(field, c.code);
    w.Set("Type", c.type);
    w.Set("Description", c.description);
    w.Set("Type Of Service", "1");
    w.Set("Default Place Service 1", "11");
    w.Set("Insurance Category", "A");
    for (const char* flag : {"Patient Only Responsible", "Inactive", "Taxable",
                             "Adjustment Amount Negativ", "Prepayment"}) {
      w.Set(flag, "F");
    }
    w.End();
  }
  w.Commit();
}

// Documents of charges, then payments and adjustments that settle part of them. Answers the
// procedure codes of the payments left without a payer, each with its transaction type.
std::map<std::string, std::string> FillTransactions(const std::string& folder, int transactions,
                                                    Random& random,
                                                    data::TDateTime conversion_day) {
  std::map<std::string, std::string> without_payer;
  Writer w(folder, "MWTRN.ADT");
  int written = 0;
  for (int document = 1; written < transactions; ++document) {
    char chart[16], number[16];
    std::snprintf(chart, sizeof chart, "%c%c%c%05d", 'A' + random.Below(26), 'A' + random.Below(26),
                  'A' + random.Below(26), random.Below(1000));
    std::snprintf(number, sizeof number, "%010d", 100000 + document);
    // Most documents fall on the conversion day, the others in the weeks before it.
    data::TDateTime created = conversion_day - (random.Chance(70) ? 0 : random.Below(40));
    std::string created_text = common::StoredDateText(data::JulianFromDate(created));
    auto common = [&](const Code& code, const std::string& type, int cents) {
      w.Begin();
      w.Set("Chart Number", chart);
      w.Set("Case Number", std::to_string(1 + random.Below(5)));
      w.Set("Date From", created_text);
      w.Set("Document Number", number);
      w.Set("Procedure Code", code.code);
      w.Set("Transaction Type", type);
      w.Set("Amount", Money(cents));
      w.Set("Date Created", created_text);
      w.Set("Description", code.description);
      w.Set("Type Of Service", "1");
      w.Set("Place Of Service", "11");
      w.Set("Insurance Category", "A");
      for (const char* f :
           {"Guarantor Amount Paid", "Insurance 1 Amount Paid", "Insurance 2 Amount Paid",
            "Insurance 3 Amount Paid", "Attorney Amount Paid", "Adjustment Amount"}) {
        w.Set(f, "0");
      }
      for (const char* f : {"Insurance 1 Paid", "Insurance 2 Paid", "Insurance 3 Paid",
                            "Guarantor Paid", "Attorney Paid"}) {
        w.Set(f, "F");
      }
    };
    int charges = 1 + random.Below(3);
    int total = 0;
    for (int i = 0; i < charges && written < transactions; ++i, ++written) {
      const Code& code = random.Chance(3) ? kMissingCodes[0] : kCodes[random.Below(7)];
      // Now and then a charge carries a type that disagrees with its code.
      std::string type = random.Chance(4) ? kCodes[random.Below(7)].type : code.type;
      int cents = 2500 + random.Below(30000);
      total += cents;
      common(code, type, cents);
      w.End();
    }
    int payments = random.Below(4);
    for (int i = 0; i < payments && written < transactions; ++i, ++written) {
      const Code& code = random.Chance(3) ? kMissingCodes[1] : kCodes[7 + random.Below(7)];
      std::string type = code.type;
      int cents = -(total / (2 + random.Below(4)));
      common(code, type, cents);
      static const char* const kInsurers[] = {"1", "2", "3"};
      static const char* const kOthers[] = {"G", "A"};
      std::string payer = type == "I" ? kInsurers[random.Below(3)] : kOthers[random.Below(2)];
      if (random.Chance(5)) {
        payer.clear();                                                         // no payer recorded
        if (conversion::IsWhoPaidType(type)) without_payer[code.code] = type;  // those offered
      }
      w.Set("Who Paid", payer);
      w.End();
    }
  }
  w.Commit();
  return without_payer;
}

// The who-paid presses that give every payment without a payer one: the dialog offers them in
// the order of their procedure codes, and one "all" press per code gives all of a code's rows
// a payer the button for their type offers.
void WritePresses(const std::string& file, const std::map<std::string, std::string>& codes) {
  std::ofstream out(file);
  out << "# Who-paid presses for this demo practice, one per procedure code without a payer\n";
  for (const auto& [code, type] : codes) {
    const char* letter = type == "I" ? "1" : type == "O" ? "A" : "G";
    out << "# " << code << " (type " << type << ")\nall " << letter << "\n";
  }
  if (!out) throw data::Exception("Cannot write the file " + file);
}

void TouchConvertLog(const std::string& folder, data::TDateTime day) {
  std::string path = folder + "/Convert.log";
  std::ofstream(path) << "Converted to this practice's current format.\n";
  int year, month, dd;
  data::DecodeDate(day, &year, &month, &dd);
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = dd;
  local.tm_hour = 15;
  local.tm_min = 15;
  local.tm_isdst = -1;
  struct timeval times[2];
  times[0].tv_sec = times[1].tv_sec = std::mktime(&local);
  times[0].tv_usec = times[1].tv_usec = 0;
  utimes(path.c_str(), times);
}

}  // namespace

void MakeDemoRoot(const std::string& root, const DemoOptions& options) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) throw data::Exception("Cannot make the folder " + root + ": " + ec.message());
  if (fs::exists(fs::path(root) / "MWDBList.ADT")) {
    throw data::Exception("The folder " + root +
                          " already holds a list of practices (MWDBList.ADT)");
  }
  std::string absolute = fs::absolute(root).lexically_normal().string();
  if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  Random random(options.seed);
  std::string presses = absolute + "/" + kDemoPressesFolder;
  fs::create_directories(presses, ec);
  if (ec) throw data::Exception("Cannot make the folder " + presses + ": " + ec.message());
  Create(absolute + "/MWDBList.ADT", {"Dataset Name CHAR(60)", "Data Path CHAR(254)"}, {});
  Writer list(absolute, "MWDBList.ADT");
  std::vector<PracticeEntry> practices;
  for (int p = 1; p <= options.practices; ++p) {
    practices.push_back(
        {"Demo Practice " + std::to_string(p), absolute + "/Practice" + std::to_string(p)});
  }
  // Named as `run --all --who-paid-dir` looks for them.
  std::vector<std::string> presses_files = PracticeFileNames(practices);
  for (size_t p = 0; p < practices.size(); ++p) {
    const std::string& folder = practices[p].data_path;
    fs::create_directories(folder, ec);
    if (ec) throw data::Exception("Cannot make the folder " + folder + ": " + ec.message());
    MakeTables(folder);
    FillCodes(folder);
    data::TDateTime conversion_day = data::EncodeDate(2004, 3, 5) + random.Below(300);
    std::map<std::string, std::string> without_payer =
        FillTransactions(folder, options.transactions, random, conversion_day);
    TouchConvertLog(folder, conversion_day);
    list.Begin();
    WritePresses(presses + "/" + presses_files[p] + ".txt", without_payer);
    list.Set("Dataset Name", practices[p].name);
    list.Set("Data Path", folder);
    list.End();
  }
  list.Commit();
}

}  // namespace app
