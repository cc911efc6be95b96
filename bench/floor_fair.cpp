// The fair floor: each phase's work done with plain SQLite statements, committed as a run commits
// it, so that a run's time over this floor is what the table engine and the data layer add.
//
// - Commits: the procedure codes' file is the handle's main database and the other two files are
//   attached, as the engine opens them, in the engine's journal mode; each unit of change (a
//   changed transaction or added code, an applied document, an adjusted payment) is a savepoint
//   inside a transaction that is committed once it has been open for the run's batch interval,
//   with the run's gap before the next one begins.
// - Reads: each statement reads the columns its step uses; a walk in an order is one statement
//   stepped through it, a seek is a statement per key; a record filter of the run is a condition
//   of the walk, so that records it refuses are not read whole.
// - Writes: an amount is added to a charge by one UPDATE that reads and writes the column.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/floor_fair.h"
#include "conversion/change_unit.h"

namespace {

using namespace floor_sql;  // NOLINT: the floor's own helpers

// Units of change in batches, on the run's clock: a unit is a savepoint; a batch is committed
// once it has been open `kInterval`, and the next one begins `kGap` after that commit.
class Batches {
 public:
  explicit Batches(Db& db)
      : begin_(db, "BEGIN IMMEDIATE"),
        commit_(db, "COMMIT"),
        savepoint_(db, "SAVEPOINT unit"),
        release_(db, "RELEASE unit") {}
  ~Batches() { Commit(); }
  Batches(const Batches&) = delete;
  Batches& operator=(const Batches&) = delete;

  template <typename F>
  void Run(F&& unit) {
    if (!open_) {
      auto since_commit = Clock::now() - committed_at_;
      if (since_commit < kGap) std::this_thread::sleep_for(kGap - since_commit);
      begin_.Run();
      open_ = true;
      opened_at_ = Clock::now();
    }
    savepoint_.Run();
    unit();
    release_.Run();
    if (Clock::now() - opened_at_ >= kInterval) Commit();
  }

  void Commit() {
    if (!open_) return;
    commit_.Run();
    open_ = false;
    committed_at_ = Clock::now();
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kInterval = conversion::ChangeBatch::kInterval;
  static constexpr auto kGap = conversion::ChangeBatch::kGap;

  Stmt begin_, commit_, savepoint_, release_;
  bool open_ = false;
  Clock::time_point opened_at_;
  Clock::time_point committed_at_;
};

// Adds amounts, in ten-thousandths, to a money column of a transaction, and sets a paid flag
// with it where one is given: one UPDATE per change, kept per column and flag.
class ChargeWriter {
 public:
  explicit ChargeWriter(Db& db) : updates_(db) {}
  void Add(const std::string& column, const std::string& paid_flag, int64_t recno, int64_t amount) {
    std::string set =
        "\"" + column + "\" = (round(coalesce(\"" + column + "\", 0) * 10000) + ?1) / 10000.0";
    if (!paid_flag.empty()) set += ", \"" + paid_flag + "\" = 1";
    updates_.Get(column + "|" + paid_flag, "UPDATE trn.records SET " + set + " WHERE _recno = ?2")
        .Reset()
        .Bind(1, amount)
        .Bind(2, recno)
        .Run();
  }

 private:
  StmtCache updates_;
};

void VerifyTranTypes(Db& db, const std::string&, const std::string&) {
  Stmt walk(db,
            "SELECT _recno, \"Procedure Code\", \"Transaction Type\" FROM trn.records "
            "ORDER BY \"Entry Number\", _recno");
  Stmt find(db,
            "SELECT \"Type\", \"Code 1\" FROM main.records WHERE \"Code 1\" = ?1 "
            "ORDER BY \"Code 1\", _recno LIMIT 1");
  Stmt set_type(db, "UPDATE trn.records SET \"Transaction Type\" = ?1 WHERE _recno = ?2");
  // A code added is filled from its transaction, read again for the fields only it needs.
  Stmt add(db,
           "INSERT INTO main.records (\"Code 1\", \"Code 2\", \"Code 3\", \"Type\", "
           "\"Type Of Service\", \"Default Place Service 1\", \"Insurance Category\", "
           "\"Patient Only Responsible\", \"Inactive\", \"Taxable\", "
           "\"Adjustment Amount Negativ\", \"Prepayment\", \"Description\") "
           "SELECT ?1, ?1, ?1, ?2, \"Type Of Service\", \"Place Of Service\", "
           "\"Insurance Category\", 0, 1, 0, 0, 0, '00Procedure Added By Rivenoak00' "
           "FROM trn.records WHERE _recno = ?3");
  Batches batches(db);
  while (walk.Step()) {
    std::string code = walk.Text(1), type = walk.Text(2);
    find.Reset().Bind(1, code);
    if (find.Step()) {
      std::string code_type = find.Text(0), code1 = find.Text(1);
      find.Reset();
      if (type != code_type && code1 == code) {
        batches.Run([&] { set_type.Reset().Bind(1, code_type).Bind(2, walk.Int(0)).Run(); });
      }
    } else {
      find.Reset();
      batches.Run([&] { add.Reset().Bind(1, code).Bind(2, type).Bind(3, walk.Int(0)).Run(); });
    }
  }
  walk.Reset();
}

void ApplyPayAdj(Db& db, const std::string& from, const std::string& to) {
  Stmt documents(db, kDocumentsSql);
  // One walk of the document gives its charges and its payments.
  Stmt lines(db, kDocumentLinesSql);
  Stmt first_applied(db, kFirstAppliedSql);
  Stmt pair(db, kPairSql);
  Stmt append(db, kAppendSql);
  ChargeWriter charges_written(db);
  Batches batches(db);
  documents.Bind(1, from).Bind(2, to);
  std::vector<DocumentLine> charges, payments;
  while (documents.Step()) {
    charges.clear();
    payments.clear();
    lines.Reset().Bind(1, documents.Text(0)).Bind(2, documents.Text(1));
    while (lines.Step()) {
      DocumentLine line{lines.Int(0), lines.Int(1), lines.Text(2), lines.Text(3),
                        Money(lines.Real(4))};
      if (Charge(line.type)) charges.push_back(line);
      if (PayAdj(line.type)) payments.push_back(line);
    }
    lines.Reset();
    int64_t charge_total = 0;
    for (const DocumentLine& c : charges) charge_total += c.amount;
    // Payments beyond the charges are applied too, as a run applies them by default.
    if (charge_total == 0 || payments.empty()) continue;
    first_applied.Reset().Bind(1, payments[0].entry);
    bool applied = first_applied.Step();
    first_applied.Reset();
    if (applied) continue;
    batches.Run([&] {
      for (const DocumentLine& p : payments) {
        std::string column = ApplicationColumn(p.type, p.who);
        std::string paid_flag;
        if (column == "Insurance " + p.who + " Amount Paid")
          paid_flag = "Insurance " + p.who + " Paid";
        for (const DocumentLine& c : charges) {
          int64_t share = ShareOf(c.amount, p.amount, charge_total);
          if (Applied(pair, p.entry, c.entry)) continue;
          if (!column.empty()) charges_written.Add(column, paid_flag, c.recno, share);
          AppendApplication(append, p.entry, c.entry, share, p.who);
        }
      }
    });
  }
  documents.Reset();
}

void AdjustPayments(Db& db, const std::string& from, const std::string& to) {
  // The run's record filter (payments and adjustments created in the range) is the walk's
  // condition: a record it refuses costs its type and date only.
  Stmt walk(db,
            "SELECT \"Entry Number\", \"Transaction Type\", \"Who Paid\", \"Amount\" "
            "FROM trn.records WHERE (\"Transaction Type\" BETWEEN 'I' AND 'O' OR "
            "\"Transaction Type\" BETWEEN 'S' AND 'U') AND \"Date Created\" BETWEEN ?1 AND ?2 "
            "ORDER BY \"Chart Number\", \"Date From\", _recno");
  AdjustmentStatements s(db);
  ChargeWriter charges_written(db);
  Batches batches(db);
  struct App {
    int64_t recno, reference, paid;
    bool charge_found;
    int64_t charge_recno, charge_amount;
  };
  std::vector<App> records;
  walk.Bind(1, from).Bind(2, to);
  while (walk.Step()) {
    std::string column = AdjustmentColumn(walk.Text(1), walk.Text(2));
    if (column.empty()) continue;
    int64_t entry = walk.Int(0);
    int64_t amount = Money(walk.Real(3));
    batches.Run([&] {
      records.clear();
      s.applications.Reset().Bind(1, entry);
      while (s.applications.Step()) {
        records.push_back({s.applications.Int(0), s.applications.Int(1),
                           Money(s.applications.Real(2)), false, 0, 0});
      }
      s.applications.Reset();
      // One look-up of each charge serves both passes.
      int64_t remainder = amount;
      for (App& app : records) {
        s.charge.Reset().Bind(1, app.reference);
        app.charge_found = s.charge.Step();
        if (app.charge_found) {
          app.charge_recno = s.charge.Int(0);
          app.charge_amount = Money(s.charge.Real(1));
          remainder -= app.paid;
        }
        s.charge.Reset();
      }
      for (const App& app : records) {
        if (!app.charge_found) continue;
        int64_t balance = s.Balance(app.reference, app.charge_amount);
        if (balance <= 0) s.paid_by_everyone.Reset().Bind(1, app.charge_recno).Run();
        int64_t delta = Delta(balance, amount, remainder);
        if (delta == 0) continue;
        s.move_application.Reset()
            .Bind(1, static_cast<double>(app.paid + delta) / 10000.0)
            .Bind(2, app.recno)
            .Run();
        charges_written.Add(column, "", app.charge_recno, delta);
        remainder += balance;
      }
    });
  }
  walk.Reset();
}

}  // namespace

std::vector<FloorPhase> FairPhases() {
  return {{"VerifyTranTypes", VerifyTranTypes},
          {"GetNoWhoPaid", WhoPaid},
          {"ApplyPayAdj", ApplyPayAdj},
          {"AdjustPayments", AdjustPayments}};
}
