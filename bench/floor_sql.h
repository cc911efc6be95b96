// What both floors of a run share: a SQLite handle over a practice's three table files, a
// prepared statement used again and again, money in ten-thousandths, the transaction type groups
// and the charge columns a payer's amounts go to.
#ifndef RIVENOAK_BENCH_FLOOR_SQL_H_
#define RIVENOAK_BENCH_FLOOR_SQL_H_

#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace floor_sql {

// One handle over the practice's files, attached as `trn`, `pax` and `pro`. With a main file,
// that file is the handle's main database and the other two are attached to it, as the engine
// opens them: a transaction that changes several of them then commits through a super-journal.
// Without one the handle's main database is in memory and each file commits on its own.
struct Db {
  sqlite3* db = nullptr;
  Db(const std::string& folder, const std::string& journal_mode, bool codes_file_as_main = false) {
    if (codes_file_as_main) {
      sqlite3_open((folder + "/Mwpro.adt").c_str(), &db);
    } else {
      sqlite3_open(":memory:", &db);
      Exec("ATTACH '" + folder + "/Mwpro.adt' AS pro");
    }
    Exec("ATTACH '" + folder + "/MWTRN.ADT' AS trn");
    Exec("ATTACH '" + folder + "/Mwpax.adt' AS pax");
    for (const char* s : {codes_file_as_main ? "main" : "pro", "trn", "pax"}) {
      Exec(std::string("PRAGMA ") + s + ".journal_mode=" + journal_mode);
      Exec(std::string("PRAGMA ") + s + ".synchronous=NORMAL");
    }
  }
  ~Db() { sqlite3_close(db); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
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
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
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
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      std::fprintf(stderr, "floor: %s: %s\n", sqlite3_sql(stmt_),
                   sqlite3_errmsg(sqlite3_db_handle(stmt_)));
    }
    return rc == SQLITE_ROW;
  }
  void Run() {
    while (Step()) {
    }
    sqlite3_reset(stmt_);
  }
  int64_t Int(int c) { return sqlite3_column_int64(stmt_, c); }
  double Real(int c) { return sqlite3_column_double(stmt_, c); }
  std::string Text(int c) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
    return t ? t : "";
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Statements made once per key (a column name, say) and kept.
class StmtCache {
 public:
  explicit StmtCache(Db& db) : db_(db) {}
  Stmt& Get(const std::string& key, const std::string& sql) {
    auto& stmt = statements_[key];
    if (!stmt) stmt = std::make_unique<Stmt>(db_, sql);
    return *stmt;
  }

 private:
  Db& db_;
  std::map<std::string, std::unique_ptr<Stmt>> statements_;
};

// The statements both floors run.
inline constexpr const char* kWhoPaidSql =
    "SELECT \"Entry Number\" FROM trn.records WHERE \"Transaction Type\" >= 'I' AND "
    "\"Transaction Type\" <= 'O' AND \"Who Paid\" IS NULL ORDER BY \"Procedure Code\", _recno";
inline constexpr const char* kDocumentsSql =
    "SELECT DISTINCT \"Chart Number\", \"Document Number\" FROM trn.records "
    "WHERE \"Date Created\" >= ?1 AND \"Date Created\" <= ?2";
inline constexpr const char* kDocumentLinesSql =
    "SELECT _recno, \"Entry Number\", \"Transaction Type\", \"Who Paid\", \"Amount\" "
    "FROM trn.records WHERE \"Chart Number\" IS ?1 AND \"Document Number\" IS ?2 "
    "ORDER BY \"Chart Number\", \"Document Number\", _recno";
inline constexpr const char* kFirstAppliedSql =
    "SELECT 1 FROM pax.records WHERE \"Payment Reference\" = ?1 LIMIT 1";
inline constexpr const char* kPairSql =
    "SELECT 1 FROM pax.records WHERE \"Payment Reference\" = ?1 AND \"Charge Reference\" = "
    "?2 LIMIT 1";
inline constexpr const char* kAppendSql =
    "INSERT INTO pax.records (\"Payment Reference\", \"Charge Reference\", "
    "\"Payment Amount\", \"Who Paid\") VALUES (?1, ?2, ?3, ?4)";
inline constexpr const char* kApplicationsSql =
    "SELECT _recno, \"Charge Reference\", \"Payment Amount\" FROM pax.records "
    "WHERE \"Payment Reference\" = ?1 ORDER BY \"Payment Reference\", \"Charge "
    "Reference\", _recno";
inline constexpr const char* kChargeSql =
    "SELECT _recno, \"Amount\" FROM trn.records WHERE \"Entry Number\" = ?1 "
    "ORDER BY \"Entry Number\", _recno LIMIT 1";
inline constexpr const char* kChargeApplicationsSql =
    "SELECT \"Payment Reference\", \"Payment Amount\" FROM pax.records "
    "WHERE \"Charge Reference\" = ?1 ORDER BY \"Charge Reference\", _recno";
inline constexpr const char* kPaymentExistsSql =
    "SELECT 1 FROM trn.records WHERE \"Entry Number\" = ?1 LIMIT 1";
inline constexpr const char* kMoveApplicationSql =
    "UPDATE pax.records SET \"Payment Amount\" = ?1 WHERE _recno = ?2";
inline constexpr const char* kPaidByEveryoneSql =
    "UPDATE trn.records SET \"Insurance 1 Paid\" = 1, \"Insurance 2 Paid\" = 1, "
    "\"Insurance 3 Paid\" = 1, \"Guarantor Paid\" = 1, \"Attorney Paid\" = 1 WHERE _recno = ?1";

inline int64_t Money(double v) {
  return static_cast<int64_t>(std::nearbyintl(static_cast<long double>(v) * 10000.0L));
}
inline bool Between(const std::string& t, const char* a, const char* b) {
  return t >= a && t <= b;
}
inline bool PayAdj(const std::string& t) {
  return Between(t, "I", "O") || Between(t, "S", "U");
}
inline bool Charge(const std::string& t) {
  return Between(t, "A", "D") || t == "H";
}

// The charge column that payment application adds a payment's share to ("" for none).
inline std::string ApplicationColumn(const std::string& type, const std::string& who) {
  std::string column = type == "I" && (who == "1" || who == "2" || who == "3")
                           ? "Insurance " + who + " Amount Paid"
                           : "";
  if (who == "G") column = "Guarantor Amount Paid";
  if (who == "A") column = "Attorney Amount Paid";
  if (who.empty() || type == "S" || type == "T") column = "Adjustment Amount";
  return column;
}

// The charge column that payment amount adjustment moves cents into ("" for none).
inline std::string AdjustmentColumn(const std::string& type, const std::string& who) {
  std::string column;
  if ((who == "1" || who == "2" || who == "3") && type == "I")
    column = "Insurance " + who + " Amount Paid";
  if (who == "A") column = "Attorney Amount Paid";
  if (who == "G") column = "Guarantor Amount Paid";
  if (type == "S" || type == "T") column = "Adjustment Amount";
  return column;
}

// A share of a payment for a charge, as payment application computes it.
inline int64_t ShareOf(int64_t charge, int64_t payment, int64_t charge_total) {
  long double q = static_cast<long double>(payment) / static_cast<long double>(charge_total);
  double ratio = static_cast<double>(std::fabs(q));
  if (payment <= 0) ratio = -ratio;
  long double m = static_cast<long double>(charge) * ratio * 100.0L;
  return static_cast<int64_t>(std::nearbyintl(m)) / 10000 * 100;
}

// The query of payments and adjustments without a payer (the run asks about each).
inline void WhoPaid(Db& db, const std::string&, const std::string&) {
  Stmt query(db, kWhoPaidSql);
  query.Run();
}

// A transaction of a document, as payment application reads it.
struct DocumentLine {
  int64_t recno, entry;
  std::string type, who;
  int64_t amount;
};

// Whether a payment's share of a charge has its application record already (kPairSql).
inline bool Applied(Stmt& pair, int64_t payment, int64_t charge) {
  pair.Reset().Bind(1, payment).Bind(2, charge);
  bool found = pair.Step();
  pair.Reset();
  return found;
}

// Writes the application record of a payment's share of a charge (kAppendSql).
inline void AppendApplication(Stmt& append, int64_t payment, int64_t charge, int64_t share,
                              const std::string& who) {
  append.Reset()
      .Bind(1, payment)
      .Bind(2, charge)
      .Bind(3, static_cast<double>(share) / 10000.0)
      .Bind(4, who)
      .Run();
}

// The look-ups and writes of payment amount adjustment.
struct AdjustmentStatements {
  explicit AdjustmentStatements(Db& db)
      : applications(db, kApplicationsSql),
        charge(db, kChargeSql),
        charge_applications(db, kChargeApplicationsSql),
        payment_exists(db, kPaymentExistsSql),
        move_application(db, kMoveApplicationSql),
        paid_by_everyone(db, kPaidByEveryoneSql) {}
  Stmt applications, charge, charge_applications, payment_exists, move_application,
      paid_by_everyone;

  // A charge's amount with the applications of its payments that still exist added.
  int64_t Balance(int64_t charge_entry, int64_t charge_amount) {
    others_.clear();
    charge_applications.Reset().Bind(1, charge_entry);
    while (charge_applications.Step()) {
      others_.emplace_back(charge_applications.Int(0), Money(charge_applications.Real(1)));
    }
    charge_applications.Reset();
    int64_t balance = charge_amount;
    for (auto& [payment, paid] : others_) {
      payment_exists.Reset().Bind(1, payment);
      if (payment_exists.Step()) balance += paid;
      payment_exists.Reset();
    }
    return balance;
  }

 private:
  std::vector<std::pair<int64_t, int64_t>> others_;
};

// The cents moved onto a charge with `balance` from a payment of `amount` with `remainder` left
// to place; 0 for none.
inline int64_t Delta(int64_t balance, int64_t amount, int64_t remainder) {
  if (remainder == 0) return 0;
  bool reduce = balance > 0 && amount < 0 && remainder < 0;
  bool increase = balance < 0 && amount > 0 && remainder > 0;
  if (!reduce && !increase) return 0;
  return reduce ? (balance >= -remainder ? remainder : -balance)
                : (remainder <= -balance ? remainder : -balance);
}

// The process's user and system time so far.
inline double CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace floor_sql

#endif  // RIVENOAK_BENCH_FLOOR_SQL_H_
