// The floor of a run: the same per-record work as each phase of a conversion run, done with
// plain prepared SQLite statements on the same files, one SQLite transaction per write, with no
// data access layer and no table engine in between. It prints each phase's seconds.
//
//   floor DATA_PATH MM/DD/YYYY MM/DD/YYYY [JOURNAL_MODE]
//
// The journal mode is write-ahead (WAL) unless given: each commit then costs no sync, where the
// engine's rollback journal (DELETE) syncs at every commit so that a commit over several files
// is atomic.
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Db {
  sqlite3* db = nullptr;
  Db(const std::string& folder, const std::string& journal_mode) {
    sqlite3_open(":memory:", &db);
    Exec("ATTACH '" + folder + "/MWTRN.ADT' AS trn");
    Exec("ATTACH '" + folder + "/Mwpax.adt' AS pax");
    Exec("ATTACH '" + folder + "/Mwpro.adt' AS pro");
    for (const char* s : {"trn", "pax", "pro"}) {
      Exec(std::string("PRAGMA ") + s + ".journal_mode=" + journal_mode);
      Exec(std::string("PRAGMA ") + s + ".synchronous=NORMAL");
    }
  }
  ~Db() { sqlite3_close(db); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "floor: %s: %s\n", sql.c_str(), error ? error : "");
      sqlite3_free(error);
    }
  }
};

// A prepared statement used again and again: bind, step, reset.
class Stmt {
 public:
  Stmt(Db& db, const std::string& sql) {
    if (sqlite3_prepare_v3(db.db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr)) {
      std::fprintf(stderr, "floor: %s: %s\n", sql.c_str(), sqlite3_errmsg(db.db));
    }
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt& Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return *this;
  }
  Stmt& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Stmt& Bind(int i, double v) {
    sqlite3_bind_double(stmt_, i, v);
    return *this;
  }
  Stmt& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.c_str(), -1, SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() { return sqlite3_step(stmt_) == SQLITE_ROW; }
  void Run() {
    while (Step()) {
    }
    sqlite3_reset(stmt_);
  }
  int64_t Int(int c) { return sqlite3_column_int64(stmt_, c); }
  double Real(int c) { return sqlite3_column_double(stmt_, c); }
  bool Null(int c) { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
  std::string Text(int c) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
    return t ? t : "";
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

int64_t Money(double v) {
  return static_cast<int64_t>(std::nearbyintl(static_cast<long double>(v) * 10000.0L));
}
bool Between(const std::string& t, const char* a, const char* b) {
  return t >= a && t <= b;
}
bool PayAdj(const std::string& t) {
  return Between(t, "I", "O") || Between(t, "S", "U");
}
bool Charge(const std::string& t) {
  return Between(t, "A", "D") || t == "H";
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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

void WhoPaid(Db& db) {
  Stmt query(
      db,
      "SELECT \"Entry Number\" FROM trn.records WHERE \"Transaction Type\" >= 'I' AND "
      "\"Transaction Type\" <= 'O' AND \"Who Paid\" IS NULL ORDER BY \"Procedure Code\", _recno");
  query.Run();
}

struct Row {
  int64_t recno, entry;
  std::string type, who;
  int64_t amount;
};

// Adds an amount, in ten-thousandths, to one money column of a transaction, with a read and
// a write statement kept per column.
class ColumnAdder {
 public:
  explicit ColumnAdder(Db& db) : db_(db) {}
  void Add(const std::string& column, int64_t recno, int64_t amount) {
    Stmt& read =
        Statement(reads_, column, "SELECT \"" + column + "\" FROM trn.records WHERE _recno = ?1");
    read.Reset().Bind(1, recno);
    double value = read.Step() ? read.Real(0) : 0;
    read.Reset();
    Statement(writes_, column, "UPDATE trn.records SET \"" + column + "\" = ?1 WHERE _recno = ?2")
        .Reset()
        .Bind(1, static_cast<double>(Money(value) + amount) / 10000.0)
        .Bind(2, recno)
        .Run();
  }

 private:
  Stmt& Statement(std::map<std::string, std::unique_ptr<Stmt>>& cache, const std::string& column,
                  const std::string& sql) {
    auto& stmt = cache[column];
    if (!stmt) stmt = std::make_unique<Stmt>(db_, sql);
    return *stmt;
  }

  Db& db_;
  std::map<std::string, std::unique_ptr<Stmt>> reads_, writes_;
};

void ApplyPayAdj(Db& db, const std::string& from, const std::string& to) {
  Stmt documents(db,
                 "SELECT DISTINCT \"Chart Number\", \"Document Number\" FROM trn.records "
                 "WHERE \"Date Created\" >= ?1 AND \"Date Created\" <= ?2");
  Stmt lines(db,
             "SELECT _recno, \"Entry Number\", \"Transaction Type\", \"Who Paid\", \"Amount\" "
             "FROM trn.records WHERE \"Chart Number\" IS ?1 AND \"Document Number\" IS ?2 "
             "ORDER BY \"Chart Number\", \"Document Number\", _recno");
  Stmt first_applied(db, "SELECT 1 FROM pax.records WHERE \"Payment Reference\" = ?1 LIMIT 1");
  Stmt pair(db,
            "SELECT 1 FROM pax.records WHERE \"Payment Reference\" = ?1 AND \"Charge Reference\" = "
            "?2 LIMIT 1");
  Stmt append(db,
              "INSERT INTO pax.records (\"Payment Reference\", \"Charge Reference\", "
              "\"Payment Amount\", \"Who Paid\") VALUES (?1, ?2, ?3, ?4)");
  ColumnAdder amounts(db);
  documents.Bind(1, from).Bind(2, to);
  while (documents.Step()) {
    std::string chart = documents.Text(0), number = documents.Text(1);
    std::vector<Row> charges, payments;
    for (int pass = 0; pass < 2; ++pass) {  // the charges' walk, then the payments' walk
      lines.Reset().Bind(1, chart).Bind(2, number);
      while (lines.Step()) {
        Row r{lines.Int(0), lines.Int(1), lines.Text(2), lines.Text(3), Money(lines.Real(4))};
        if (pass == 0 && Charge(r.type)) charges.push_back(r);
        if (pass == 1 && PayAdj(r.type)) payments.push_back(r);
      }
    }
    lines.Reset();
    int64_t charge_total = 0, payment_total = 0;
    for (const Row& c : charges) charge_total += c.amount;
    for (const Row& p : payments) payment_total += p.amount;
    if (charge_total == 0 || charge_total + payment_total <= 0 || payments.empty()) continue;
    first_applied.Reset().Bind(1, payments[0].entry);
    bool applied = first_applied.Step();
    first_applied.Reset();
    if (applied) continue;
    for (const Row& p : payments) {
      long double q = static_cast<long double>(p.amount) / static_cast<long double>(charge_total);
      double ratio = static_cast<double>(std::fabs(q));
      if (p.amount <= 0) ratio = -ratio;
      for (const Row& c : charges) {
        long double m = static_cast<long double>(c.amount) * ratio * 100.0L;
        int64_t share = static_cast<int64_t>(std::nearbyintl(m)) / 10000 * 100;
        pair.Reset().Bind(1, p.entry).Bind(2, c.entry);
        bool found = pair.Step();
        pair.Reset();
        if (found) continue;
        std::string column = p.type == "I" && (p.who == "1" || p.who == "2" || p.who == "3")
                                 ? "Insurance " + p.who + " Amount Paid"
                                 : "";
        if (p.who == "G") column = "Guarantor Amount Paid";
        if (p.who == "A") column = "Attorney Amount Paid";
        if (p.who.empty() || p.type == "S" || p.type == "T") column = "Adjustment Amount";
        if (!column.empty()) amounts.Add(column, c.recno, share);
        append.Reset()
            .Bind(1, p.entry)
            .Bind(2, c.entry)
            .Bind(3, static_cast<double>(share) / 10000.0)
            .Bind(4, p.who)
            .Run();
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
  Stmt apps(db,
            "SELECT _recno, \"Charge Reference\", \"Payment Amount\" FROM pax.records "
            "WHERE \"Payment Reference\" = ?1 ORDER BY \"Payment Reference\", \"Charge "
            "Reference\", _recno");
  Stmt charge(db,
              "SELECT _recno, \"Amount\" FROM trn.records WHERE \"Entry Number\" = ?1 "
              "ORDER BY \"Entry Number\", _recno LIMIT 1");
  Stmt charge_apps(db,
                   "SELECT \"Payment Reference\", \"Payment Amount\" FROM pax.records "
                   "WHERE \"Charge Reference\" = ?1 ORDER BY \"Charge Reference\", _recno");
  Stmt payment_exists(db, "SELECT 1 FROM trn.records WHERE \"Entry Number\" = ?1 LIMIT 1");
  Stmt move_app(db, "UPDATE pax.records SET \"Payment Amount\" = ?1 WHERE _recno = ?2");
  ColumnAdder amounts(db);
  Stmt flags(
      db,
      "UPDATE trn.records SET \"Insurance 1 Paid\" = 1, \"Insurance 2 Paid\" = 1, "
      "\"Insurance 3 Paid\" = 1, \"Guarantor Paid\" = 1, \"Attorney Paid\" = 1 WHERE _recno = ?1");
  while (walk.Step()) {
    std::string type = walk.Text(1), who = walk.Text(2), created = walk.Text(4);
    if (!PayAdj(type) || created < from || created > to) continue;
    int64_t amount = Money(walk.Real(3));
    int64_t entry = walk.Int(0);
    std::string column;
    if ((who == "1" || who == "2" || who == "3") && type == "I")
      column = "Insurance " + who + " Amount Paid";
    if (who == "A") column = "Attorney Amount Paid";
    if (who == "G") column = "Guarantor Amount Paid";
    if (type == "S" || type == "T") column = "Adjustment Amount";
    if (column.empty()) continue;
    int64_t remainder = amount;
    apps.Reset().Bind(1, entry);
    struct App {
      int64_t recno, reference, paid;
    };
    std::vector<App> records;
    while (apps.Step()) records.push_back({apps.Int(0), apps.Int(1), Money(apps.Real(2))});
    apps.Reset();
    for (auto& [app_recno, reference, paid] : records) {
      (void)app_recno;
      charge.Reset().Bind(1, reference);
      if (charge.Step()) remainder -= paid;
      charge.Reset();
    }
    for (auto& [app_recno, reference, paid] : records) {
      charge.Reset().Bind(1, reference);
      if (!charge.Step()) {
        charge.Reset();
        continue;
      }
      int64_t charge_recno = charge.Int(0);
      int64_t balance = Money(charge.Real(1));
      charge.Reset();
      charge_apps.Reset().Bind(1, reference);
      std::vector<std::pair<int64_t, int64_t>> others;
      while (charge_apps.Step())
        others.emplace_back(charge_apps.Int(0), Money(charge_apps.Real(1)));
      charge_apps.Reset();
      for (auto& [payment, other_paid] : others) {
        payment_exists.Reset().Bind(1, payment);
        if (payment_exists.Step()) balance += other_paid;
        payment_exists.Reset();
      }
      if (balance <= 0) flags.Reset().Bind(1, charge_recno).Run();
      if (remainder == 0) continue;
      bool reduce = balance > 0 && amount < 0 && remainder < 0;
      bool increase = balance < 0 && amount > 0 && remainder > 0;
      if (!reduce && !increase) continue;
      int64_t delta = reduce ? (balance >= -remainder ? remainder : -balance)
                             : (remainder <= -balance ? remainder : -balance);
      move_app.Reset()
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: floor DATA_PATH FROM TO [JOURNAL_MODE]\n");
    return 2;
  }
  Db db(argv[1], argc == 5 ? argv[4] : "WAL");
  std::string from = Iso(argv[2]), to = Iso(argv[3]);
  auto start = std::chrono::steady_clock::now();
  VerifyTranTypes(db);
  std::printf("VerifyTranTypes\t%f\n", Seconds(start));
  start = std::chrono::steady_clock::now();
  WhoPaid(db);
  std::printf("GetNoWhoPaid\t%f\n", Seconds(start));
  start = std::chrono::steady_clock::now();
  ApplyPayAdj(db, from, to);
  std::printf("ApplyPayAdj\t%f\n", Seconds(start));
  start = std::chrono::steady_clock::now();
  AdjustPayments(db, from, to);
  std::printf("AdjustPayments\t%f\n", Seconds(start));
  return 0;
}
