// The floors of a run: the same per-record work as each phase of a conversion run, done with
// plain prepared SQLite statements on the same files, with no data access layer and no table
// engine in between. It prints each phase's seconds.
//
//   floor [--fair] DATA_PATH MM/DD/YYYY MM/DD/YYYY [JOURNAL_MODE]
//
// The plain floor (the default) commits every write on its own, in write-ahead mode (WAL) unless
// another journal mode is given: each commit then costs no sync, where the engine's rollback
// journal (DELETE) syncs at every commit so that a commit over several files is atomic.
//
// The fair floor (--fair, floor_fair.cpp) commits as a run does and reads only what each step
// needs; its ratio to a run is what the table engine and the data layer add.
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/floor_fair.h"
#include "bench/floor_sql.h"

namespace {

using namespace floor_sql;  // NOLINT: the floor's own helpers

void VerifyTranTypes(Db& db) {
  Stmt walk(db,
            "SELECT _recno, \"Procedure Code\", \"Transaction Type\", \"Type Of Service\", "
            "\"Place Of Service\", \"Insurance Category\" FROM trn.records "
            "ORDER BY \"Entry Number\", _recno");
  Stmt find(db,
            "SELECT _recno, \"Type\", \"Code 1\" FROM pro.records WHERE \"Code 1\" = ?1 "
            "ORDER BY \"Code 1\", _recno LIMIT 1");
  Stmt set_type(db, "UPDATE trn.records SET \"Transaction Type\" = ?1 WHERE _recno = ?2");
  Stmt add(db,
           "INSERT INTO pro.records (\"Code 1\", \"Code 2\", \"Code 3\", \"Type\", "
           "\"Type Of Service\", \"Default Place Service 1\", \"Insurance Category\", "
           "\"Patient Only Responsible\", \"Inactive\", \"Taxable\", "
           "\"Adjustment Amount Negativ\", \"Prepayment\", \"Description\") "
           "VALUES (?1, ?1, ?1, ?2, ?3, ?4, ?5, 0, 1, 0, 0, 0, '00Procedure Added By Rivenoak00')");
  while (walk.Step()) {
    std::string code = walk.Text(1), type = walk.Text(2);
    find.Reset().Bind(1, code);
    if (find.Step()) {
      std::string code_type = find.Text(1), code1 = find.Text(2);
      find.Reset();
      if (type != code_type && code1 == code) {
        set_type.Reset().Bind(1, code_type).Bind(2, walk.Int(0)).Run();
      }
    } else {
      find.Reset();
      add.Reset()
          .Bind(1, code)
          .Bind(2, type)
          .Bind(3, walk.Text(3))
          .Bind(4, walk.Text(4))
          .Bind(5, walk.Text(5))
          .Run();
    }
  }
  walk.Reset();
}

// Adds an amount, in ten-thousandths, to one money column of a transaction, with a read and
// a write statement kept per column.
class ColumnAdder {
 public:
  explicit ColumnAdder(Db& db) : reads_(db), writes_(db) {}
  void Add(const std::string& column, int64_t recno, int64_t amount) {
    Stmt& read = reads_.Get(column, "SELECT \"" + column + "\" FROM trn.records WHERE _recno = ?1");
    read.Reset().Bind(1, recno);
    double value = read.Step() ? read.Real(0) : 0;
    read.Reset();
    writes_.Get(column, "UPDATE trn.records SET \"" + column + "\" = ?1 WHERE _recno = ?2")
        .Reset()
        .Bind(1, static_cast<double>(Money(value) + amount) / 10000.0)
        .Bind(2, recno)
        .Run();
  }

 private:
  StmtCache reads_, writes_;
};

void ApplyPayAdj(Db& db, const std::string& from, const std::string& to) {
  Stmt documents(db, kDocumentsSql);
  Stmt lines(db, kDocumentLinesSql);
  Stmt first_applied(db, kFirstAppliedSql);
  Stmt pair(db, kPairSql);
  Stmt append(db, kAppendSql);
  ColumnAdder amounts(db);
  documents.Bind(1, from).Bind(2, to);
  while (documents.Step()) {
    std::string chart = documents.Text(0), number = documents.Text(1);
    std::vector<DocumentLine> charges, payments;
    for (int pass = 0; pass < 2; ++pass) {  // the charges' walk, then the payments' walk
      lines.Reset().Bind(1, chart).Bind(2, number);
      while (lines.Step()) {
        DocumentLine r{lines.Int(0), lines.Int(1), lines.Text(2), lines.Text(3),
                       Money(lines.Real(4))};
        if (pass == 0 && Charge(r.type)) charges.push_back(r);
        if (pass == 1 && PayAdj(r.type)) payments.push_back(r);
      }
    }
    lines.Reset();
    int64_t charge_total = 0, payment_total = 0;
    for (const DocumentLine& c : charges) charge_total += c.amount;
    for (const DocumentLine& p : payments) payment_total += p.amount;
    if (charge_total == 0 || charge_total + payment_total <= 0 || payments.empty()) continue;
    first_applied.Reset().Bind(1, payments[0].entry);
    bool applied = first_applied.Step();
    first_applied.Reset();
    if (applied) continue;
    for (const DocumentLine& p : payments) {
      for (const DocumentLine& c : charges) {
        int64_t share = ShareOf(c.amount, p.amount, charge_total);
        if (Applied(pair, p.entry, c.entry)) continue;
        std::string column = ApplicationColumn(p.type, p.who);
        if (!column.empty()) amounts.Add(column, c.recno, share);
        AppendApplication(append, p.entry, c.entry, share, p.who);
      }
    }
  }
  documents.Reset();
}

void AdjustPayments(Db& db, const std::string& from, const std::string& to) {
  Stmt walk(
      db,
      "SELECT \"Entry Number\", \"Transaction Type\", \"Who Paid\", \"Amount\", \"Date Created\" "
      "FROM trn.records ORDER BY \"Chart Number\", \"Date From\", _recno");
  AdjustmentStatements s(db);
  ColumnAdder amounts(db);
  while (walk.Step()) {
    std::string type = walk.Text(1), who = walk.Text(2), created = walk.Text(4);
    if (!PayAdj(type) || created < from || created > to) continue;
    int64_t amount = Money(walk.Real(3));
    int64_t entry = walk.Int(0);
    std::string column = AdjustmentColumn(type, who);
    if (column.empty()) continue;
    int64_t remainder = amount;
    s.applications.Reset().Bind(1, entry);
    struct App {
      int64_t recno, reference, paid;
    };
    std::vector<App> records;
    while (s.applications.Step()) {
      records.push_back(
          {s.applications.Int(0), s.applications.Int(1), Money(s.applications.Real(2))});
    }
    s.applications.Reset();
    for (auto& [app_recno, reference, paid] : records) {
      (void)app_recno;
      s.charge.Reset().Bind(1, reference);
      if (s.charge.Step()) remainder -= paid;
      s.charge.Reset();
    }
    for (auto& [app_recno, reference, paid] : records) {
      s.charge.Reset().Bind(1, reference);
      if (!s.charge.Step()) {
        s.charge.Reset();
        continue;
      }
      int64_t charge_recno = s.charge.Int(0);
      int64_t charge_amount = Money(s.charge.Real(1));
      s.charge.Reset();
      int64_t balance = s.Balance(reference, charge_amount);
      if (balance <= 0) s.paid_by_everyone.Reset().Bind(1, charge_recno).Run();
      int64_t delta = Delta(balance, amount, remainder);
      if (delta == 0) continue;
      s.move_application.Reset()
          .Bind(1, static_cast<double>(paid + delta) / 10000.0)
          .Bind(2, app_recno)
          .Run();
      amounts.Add(column, charge_recno, delta);
      remainder += balance;
    }
  }
  walk.Reset();
}

std::string Iso(const char* mmddyyyy) {
  int m = 0, d = 0, y = 0;
  std::sscanf(mmddyyyy, "%d/%d/%d", &m, &d, &y);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::vector<FloorPhase> PlainPhases() {
  return {{"VerifyTranTypes",
           [](Db& db, const std::string&, const std::string&) { VerifyTranTypes(db); }},
          {"GetNoWhoPaid", WhoPaid},
          {"ApplyPayAdj", ApplyPayAdj},
          {"AdjustPayments", AdjustPayments}};
}

}  // namespace

int main(int argc, char** argv) {
  bool fair = argc > 1 && std::strcmp(argv[1], "--fair") == 0;
  int first = fair ? 2 : 1;
  int given = argc - first;
  if (given != 3 && given != 4) {
    std::fprintf(stderr, "usage: floor [--fair] DATA_PATH FROM TO [JOURNAL_MODE]\n");
    return 2;
  }
  // The fair floor writes in the engine's journal mode unless told otherwise.
  std::string journal = given == 4 ? argv[first + 3] : fair ? "DELETE" : "WAL";
  Db db(argv[first], journal, fair);
  std::string from = Iso(argv[first + 1]), to = Iso(argv[first + 2]);
  // Each phase's wall time and processor time (user and system).
  for (const FloorPhase& phase : fair ? FairPhases() : PlainPhases()) {
    auto start = std::chrono::steady_clock::now();
    double cpu_start = CpuSeconds();
    phase.run(db, from, to);
    std::printf("%s\t%f\t%f\n", phase.name, Seconds(start), CpuSeconds() - cpu_start);
  }
  return 0;
}
