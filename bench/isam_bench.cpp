// The table engine against plain SQLite, operation by operation, on the same files.
//
// Each benchmark comes in a pair: NAME/engine goes through the engine's C interface, NAME/sqlite
// does the same work with prepared statements on a plain SQLite handle to the same file (the
// floor the engine is built on). One iteration is one operation, so the Time column is the cost
// of one operation and items_per_second its rate.
//
// The files are made once per process in a fresh temporary folder: the table "Bench.adt" with
// 100,000 records and indexes with unique keys, 100 records per key and 20,000 records per key,
// and "Append.adt" (an AUTOINC field, an index on it and one more) with 100,000 records, which
// the append pair grows. Both are in rollback-journal mode, as the engine writes its files; both
// sides write with synchronous=NORMAL.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "isam/isam.h"

namespace {

constexpr int kRecords = 100000;
constexpr size_t kRandomCount = 1 << 16;  // random keys and record numbers, used in a cycle

// ---- checks: a benchmark whose calls fail has nothing to say, so it stops the process ----

void Must(IsamResult rc, const char* what) {
  if (rc == ISAM_SUCCESS) return;
  uint32_t code = 0;
  char text[1024];
  uint16_t length = sizeof text;
  IsamGetLastError(&code, text, &length);
  std::fprintf(stderr, "%s failed: %u %s\n", what, code, text);
  std::exit(1);
}

void SqlMust(sqlite3* db, int rc, int expected, const char* what) {
  if (rc == expected) return;
  std::fprintf(stderr, "%s failed: %d %s\n", what, rc, sqlite3_errmsg(db));
  std::exit(1);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "%s failed: %s\n", sql.c_str(), message ? message : "?");
    std::exit(1);
  }
}

// A prepared statement, finalized on scope exit.
class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    SqlMust(db, sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr),
            SQLITE_OK, sql.c_str());
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

sqlite3* OpenPlain(const std::string& path) {
  sqlite3* db = nullptr;
  SqlMust(db, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK,
          path.c_str());
  sqlite3_busy_timeout(db, 10000);
  return db;
}

// What the plain side does with a row: every column read out of SQLite into memory.
struct Row {
  int64_t integers[16];
  double reals[16];
  char texts[16][64];
};

void ReadColumns(sqlite3_stmt* stmt, Row* row) {
  int count = sqlite3_column_count(stmt);
  for (int c = 0; c < count; ++c) {
    switch (sqlite3_column_type(stmt, c)) {
      case SQLITE_INTEGER:
        row->integers[c] = sqlite3_column_int64(stmt, c);
        break;
      case SQLITE_FLOAT:
        row->reals[c] = sqlite3_column_double(stmt, c);
        break;
      case SQLITE_TEXT: {
        const unsigned char* text = sqlite3_column_text(stmt, c);
        size_t n = std::min<size_t>(static_cast<size_t>(sqlite3_column_bytes(stmt, c)), 63);
        std::memcpy(row->texts[c], text, n);
        row->texts[c][n] = '\0';
        break;
      }
      default:
        break;
    }
  }
  benchmark::DoNotOptimize(row);
}

// ---- the files, made once per process ----

const char* const kBenchFields[] = {
    "Id AUTOINC",    "Uniq INTEGER",  "Grp100 INTEGER", "Grp20k INTEGER",
    "Amount DOUBLE", "Name CHAR(20)", "Day DATE",       "Paid LOGICAL",
};
const char* const kBenchIndexes[] = {
    "PRIMARY=Id",
    "IDXUNIQ=Uniq",
    "IDXGRP100=Grp100",
    "IDXGRP20K=Grp20k",
};
const char* const kAppendFields[] = {"Id AUTOINC", "Ref INTEGER", "Amount DOUBLE", "Name CHAR(20)"};
const char* const kAppendIndexes[] = {"PRIMARY=Id", "IDXREF=Ref"};

// Every column of a table's records, as the engine reads them: _recno first, then field order.
const char kBenchColumns[] = "_recno, Id, Uniq, Grp100, Grp20k, Amount, Name, Day, Paid";

class Fixture {
 public:
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "isam_bench.XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    folder_ = buffer.data();
    bench_path_ = folder_ + "/Bench.adt";
    append_path_ = folder_ + "/Append.adt";

    std::mt19937 random(20240611);
    std::vector<int> permutation(kRecords);
    for (int i = 0; i < kRecords; ++i) permutation[static_cast<size_t>(i)] = i + 1;
    std::shuffle(permutation.begin(), permutation.end(), random);

    Must(IsamCreateTable(bench_path_.c_str(), std::size(kBenchFields), kBenchFields,
                         std::size(kBenchIndexes), kBenchIndexes),
         "IsamCreateTable Bench.adt");
    bench_db_ = OpenPlain(bench_path_);
    Exec(bench_db_, "BEGIN");
    {
      Stmt insert(bench_db_,
                  "INSERT INTO records (Id, Uniq, Grp100, Grp20k, Amount, Name, Day, Paid) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, date('2020-01-01', '+' || ?7 || ' days'), ?8)");
      for (int i = 1; i <= kRecords; ++i) {
        int p = permutation[static_cast<size_t>(i - 1)];
        std::string name = "Name " + std::to_string(p);
        sqlite3_stmt* s = insert.get();
        sqlite3_bind_int(s, 1, i);
        sqlite3_bind_int(s, 2, p);
        sqlite3_bind_int(s, 3, p % (kRecords / 100));  // 100 records per key
        sqlite3_bind_int(s, 4, p % 5);                 // 20,000 records per key
        sqlite3_bind_double(s, 5, i * 0.25);
        sqlite3_bind_text(s, 6, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 7, i % 1000);
        sqlite3_bind_int(s, 8, i % 2);
        SqlMust(bench_db_, sqlite3_step(s), SQLITE_DONE, "filling Bench.adt");
        sqlite3_reset(s);
      }
    }
    Exec(bench_db_, "COMMIT; PRAGMA synchronous=NORMAL;");

    Must(IsamCreateTable(append_path_.c_str(), std::size(kAppendFields), kAppendFields,
                         std::size(kAppendIndexes), kAppendIndexes),
         "IsamCreateTable Append.adt");
    append_db_ = OpenPlain(append_path_);
    Exec(append_db_, "BEGIN");
    {
      Stmt insert(append_db_,
                  "INSERT INTO records (Id, Ref, Amount, Name) VALUES (?1, ?2, ?3, ?4)");
      for (int i = 1; i <= kRecords; ++i) {
        sqlite3_stmt* s = insert.get();
        sqlite3_bind_int(s, 1, i);
        sqlite3_bind_int(s, 2, permutation[static_cast<size_t>(i - 1)] % 10000);
        sqlite3_bind_double(s, 3, i * 0.5);
        sqlite3_bind_text(s, 4, "Filled", -1, SQLITE_STATIC);
        SqlMust(append_db_, sqlite3_step(s), SQLITE_DONE, "filling Append.adt");
        sqlite3_reset(s);
      }
    }
    Exec(append_db_, "COMMIT; PRAGMA synchronous=NORMAL;");

    Must(IsamConnect(folder_.c_str(), &connection_), "IsamConnect");
    Must(IsamOpenTable(connection_, "Bench.adt", "", ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                       ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &bench_),
         "IsamOpenTable");
    Must(IsamOpenTable(connection_, "Append.adt", "", ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                       ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, ISAM_OPEN_SHARED, &append_),
         "IsamOpenTable");

    unique_keys_.resize(kRandomCount);
    group_keys_.resize(kRandomCount);
    recnos_.resize(kRandomCount);
    std::uniform_int_distribution<int> any_record(1, kRecords);
    std::uniform_int_distribution<int> any_group(0, kRecords / 100 - 1);
    for (size_t i = 0; i < kRandomCount; ++i) {
      unique_keys_[i] = any_record(random);
      group_keys_[i] = any_group(random);
      recnos_[i] = static_cast<uint32_t>(any_record(random));
    }
  }

  ~Fixture() {
    IsamDisconnect(connection_);
    sqlite3_close_v2(bench_db_);
    sqlite3_close_v2(append_db_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  IsamHandle bench() const { return bench_; }
  IsamHandle append() const { return append_; }
  sqlite3* bench_db() const { return bench_db_; }
  sqlite3* append_db() const { return append_db_; }

  IsamHandle Index(const char* name) const {
    IsamHandle index = 0;
    Must(IsamGetIndexHandle(bench_, name, &index), name);
    return index;
  }
  static uint16_t FieldNum(IsamHandle table, const char* name) {
    uint16_t field = 0;
    Must(IsamGetFieldNum(table, name, &field), name);
    return field;
  }

  int UniqueKey(size_t i) const { return unique_keys_[i % kRandomCount]; }
  int GroupKey(size_t i) const { return group_keys_[i % kRandomCount]; }
  uint32_t RandomRecno(size_t i) const { return recnos_[i % kRandomCount]; }

  // A value never stored before in this process nor by the filling, so every write changes it.
  double NextAmount() { return 1e6 + static_cast<double>(++writes_); }
  int64_t NextAppend() { return ++appends_; }

 private:
  std::string folder_, bench_path_, append_path_;
  sqlite3* bench_db_ = nullptr;
  sqlite3* append_db_ = nullptr;
  IsamHandle connection_ = 0, bench_ = 0, append_ = 0;
  std::vector<int> unique_keys_, group_keys_;
  std::vector<uint32_t> recnos_;
  int64_t writes_ = 0, appends_ = 0;
};

std::unique_ptr<Fixture> fixture;

// Made on first use; removed at exit, before the engine's own state goes (an exit handler
// registered after the engine started runs before the engine's statics are destroyed).
Fixture& F() {
  if (!fixture) {
    fixture = std::make_unique<Fixture>();
    std::atexit([] { fixture.reset(); });
  }
  return *fixture;
}

// ---- 1. skip +1 in an order, reading each record ----

// index: an index name, or nullptr for the natural (record-number) order.
void SkipEngine(benchmark::State& state, const char* index) {
  Fixture& f = F();
  IsamHandle order = index ? f.Index(index) : f.bench();
  uint32_t length = 0;
  Must(IsamGetRecordLength(f.bench(), &length), "IsamGetRecordLength");
  std::vector<uint8_t> record(length);
  Must(IsamGotoTop(order), "IsamGotoTop");
  for (auto _ : state) {
    Must(IsamSkip(order, 1), "IsamSkip");
    uint16_t eof = 0;
    Must(IsamAtEOF(order, &eof), "IsamAtEOF");
    if (eof) Must(IsamGotoTop(order), "IsamGotoTop");
    uint32_t got = length;
    Must(IsamGetRecord(order, record.data(), &got), "IsamGetRecord");
    benchmark::DoNotOptimize(record.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The next record after (k, recno) in the two-part form of docs/architecture.md: a seek among the
// records of the same key, then a seek to the first record of the next key.
void SkipSqlite(benchmark::State& state, const char* key) {
  Fixture& f = F();
  sqlite3* db = f.bench_db();
  std::string select = std::string("SELECT ") + kBenchColumns + " FROM records";
  std::string next_sql, top_sql;
  if (key) {
    std::string k = key;
    next_sql = "SELECT * FROM (" + select + " WHERE " + k +
               " = ?1 AND _recno > ?2 ORDER BY _recno" + " LIMIT 1) UNION ALL SELECT * FROM (" +
               select + " WHERE " + k + " > ?1 ORDER BY " + k + ", _recno LIMIT 1) LIMIT 1";
    top_sql = select + " ORDER BY " + k + ", _recno LIMIT 1";
  } else {
    next_sql = select + " WHERE _recno > ?2 ORDER BY _recno LIMIT 1";
    top_sql = select + " ORDER BY _recno LIMIT 1";
  }
  // The key's place in the select list.
  int key_column = 0;
  if (key) {
    const char* columns[] = {"_recno", "Id",   "Uniq", "Grp100", "Grp20k",
                             "Amount", "Name", "Day",  "Paid"};
    for (int c = 0; c < static_cast<int>(std::size(columns)); ++c) {
      if (std::strcmp(columns[c], key) == 0) key_column = c;
    }
  }
  Stmt next(db, next_sql), top(db, top_sql);
  Row row;
  auto read_top = [&] {
    SqlMust(db, sqlite3_step(top.get()), SQLITE_ROW, "top");
    ReadColumns(top.get(), &row);
    int64_t k = sqlite3_column_int64(top.get(), key_column);
    int64_t recno = sqlite3_column_int64(top.get(), 0);
    sqlite3_reset(top.get());
    return std::pair(k, recno);
  };
  auto [k, recno] = read_top();
  for (auto _ : state) {
    sqlite3_stmt* s = next.get();
    if (key) sqlite3_bind_int64(s, 1, k);
    sqlite3_bind_int64(s, 2, recno);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      ReadColumns(s, &row);
      k = sqlite3_column_int64(s, key_column);
      recno = sqlite3_column_int64(s, 0);
      sqlite3_reset(s);
    } else {
      SqlMust(db, rc, SQLITE_DONE, "next");
      sqlite3_reset(s);
      std::tie(k, recno) = read_top();
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- 2. exact seek on a random key ----

void SeekEngine(benchmark::State& state, const char* index, const char* field_name, bool unique) {
  Fixture& f = F();
  IsamHandle order = f.Index(index);
  uint16_t field = Fixture::FieldNum(f.bench(), field_name);
  uint8_t key[64];
  size_t i = 0;
  for (auto _ : state) {
    int32_t wanted = unique ? f.UniqueKey(i) : f.GroupKey(i);
    ++i;
    Must(IsamInitRawKey(order), "IsamInitRawKey");
    Must(IsamSetFieldRaw(order, field, reinterpret_cast<const uint8_t*>(&wanted), sizeof wanted),
         "IsamSetFieldRaw");
    uint16_t length = sizeof key;
    Must(IsamBuildRawKey(order, key, &length), "IsamBuildRawKey");
    uint16_t found = 0;
    Must(IsamSeek(order, key, length, ISAM_RAW_KEY, ISAM_SEEK_EXACT, &found), "IsamSeek");
    if (!found) Must(ISAM_ERR_RECORD_NOT_FOUND, "IsamSeek found nothing");
  }
  state.SetItemsProcessed(state.iterations());
}

void SeekSqlite(benchmark::State& state, const char* key, bool unique) {
  Fixture& f = F();
  sqlite3* db = f.bench_db();
  std::string k = key;
  Stmt seek(db, std::string("SELECT ") + kBenchColumns + " FROM records WHERE " + k +
                    " = ?1 ORDER BY " + k + ", _recno LIMIT 1");
  Row row;
  size_t i = 0;
  for (auto _ : state) {
    int wanted = unique ? f.UniqueKey(i) : f.GroupKey(i);
    ++i;
    sqlite3_stmt* s = seek.get();
    sqlite3_bind_int(s, 1, wanted);
    SqlMust(db, sqlite3_step(s), SQLITE_ROW, "seek");
    ReadColumns(s, &row);
    sqlite3_reset(s);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- going to a record by number (part of the engine's write below) ----

void GotoEngine(benchmark::State& state) {
  Fixture& f = F();
  size_t i = 0;
  for (auto _ : state) Must(IsamGotoRecord(f.bench(), f.RandomRecno(i++)), "IsamGotoRecord");
  state.SetItemsProcessed(state.iterations());
}

void GotoSqlite(benchmark::State& state) {
  Fixture& f = F();
  sqlite3* db = f.bench_db();
  Stmt read(db, std::string("SELECT ") + kBenchColumns + " FROM records WHERE _recno = ?1");
  Row row;
  size_t i = 0;
  for (auto _ : state) {
    sqlite3_stmt* s = read.get();
    sqlite3_bind_int64(s, 1, f.RandomRecno(i++));
    SqlMust(db, sqlite3_step(s), SQLITE_ROW, "read");
    ReadColumns(s, &row);
    sqlite3_reset(s);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- 3. lock, write one changed numeric field, unlock ----

// The engine writes the current record, so the record is made current first (IsamGotoRecord,
// measured alone as BM_GotoRecord).
void WriteEngine(benchmark::State& state) {
  Fixture& f = F();
  IsamHandle table = f.bench();
  uint16_t amount = Fixture::FieldNum(table, "Amount");
  size_t i = 0;
  for (auto _ : state) {
    uint32_t recno = f.RandomRecno(i++);
    double value = f.NextAmount();
    Must(IsamGotoRecord(table, recno), "IsamGotoRecord");
    Must(IsamLockRecord(table, recno), "IsamLockRecord");
    Must(IsamSetFieldRaw(table, amount, reinterpret_cast<const uint8_t*>(&value), sizeof value),
         "IsamSetFieldRaw");
    Must(IsamWriteRecord(table), "IsamWriteRecord");
    Must(IsamUnlockRecord(table, recno), "IsamUnlockRecord");
  }
  state.SetItemsProcessed(state.iterations());
}

void WriteSqlite(benchmark::State& state) {
  Fixture& f = F();
  sqlite3* db = f.bench_db();
  Stmt update(db, "UPDATE records SET Amount = ?1 WHERE _recno = ?2");
  size_t i = 0;
  for (auto _ : state) {
    sqlite3_stmt* s = update.get();
    sqlite3_bind_int64(s, 2, f.RandomRecno(i++));
    sqlite3_bind_double(s, 1, f.NextAmount());
    SqlMust(db, sqlite3_step(s), SQLITE_DONE, "update");
    sqlite3_reset(s);
    if (sqlite3_changes(db) != 1) SqlMust(db, SQLITE_ERROR, SQLITE_OK, "update changed no record");
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- 4. append a record with an AUTOINC field ----

const char kAppendedName[] = "Appended record";

void AppendEngine(benchmark::State& state) {
  Fixture& f = F();
  IsamHandle table = f.append();
  uint16_t ref = Fixture::FieldNum(table, "Ref");
  uint16_t amount = Fixture::FieldNum(table, "Amount");
  uint16_t name = Fixture::FieldNum(table, "Name");
  for (auto _ : state) {
    int64_t n = f.NextAppend();
    int32_t ref_value = static_cast<int32_t>(n % 10000);
    double amount_value = static_cast<double>(n) * 0.5;
    Must(IsamAppendRecord(table), "IsamAppendRecord");
    Must(
        IsamSetFieldRaw(table, ref, reinterpret_cast<const uint8_t*>(&ref_value), sizeof ref_value),
        "IsamSetFieldRaw");
    Must(IsamSetFieldRaw(table, amount, reinterpret_cast<const uint8_t*>(&amount_value),
                         sizeof amount_value),
         "IsamSetFieldRaw");
    Must(IsamSetField(table, name, kAppendedName), "IsamSetField");
    Must(IsamWriteRecord(table), "IsamWriteRecord");
  }
  state.SetItemsProcessed(state.iterations());
}

void AppendSqlite(benchmark::State& state) {
  Fixture& f = F();
  sqlite3* db = f.append_db();
  Stmt insert(db,
              "INSERT INTO records (Id, Ref, Amount, Name) VALUES "
              "((SELECT coalesce(max(Id), 0) + 1 FROM records), ?1, ?2, ?3)");
  for (auto _ : state) {
    int64_t n = f.NextAppend();
    sqlite3_stmt* s = insert.get();
    sqlite3_bind_int(s, 1, static_cast<int>(n % 10000));
    sqlite3_bind_double(s, 2, static_cast<double>(n) * 0.5);
    sqlite3_bind_text(s, 3, kAppendedName, -1, SQLITE_STATIC);
    SqlMust(db, sqlite3_step(s), SQLITE_DONE, "insert");
    sqlite3_reset(s);
  }
  state.SetItemsProcessed(state.iterations());
}

void Register() {
  auto in_us = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMicrosecond); };
  in_us(benchmark::RegisterBenchmark("BM_Skip_Natural/engine", SkipEngine, nullptr));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Natural/sqlite", SkipSqlite, nullptr));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Unique/engine", SkipEngine, "IDXUNIQ"));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Unique/sqlite", SkipSqlite, "Uniq"));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Dup100/engine", SkipEngine, "IDXGRP100"));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Dup100/sqlite", SkipSqlite, "Grp100"));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Dup20000/engine", SkipEngine, "IDXGRP20K"));
  in_us(benchmark::RegisterBenchmark("BM_Skip_Dup20000/sqlite", SkipSqlite, "Grp20k"));
  in_us(benchmark::RegisterBenchmark("BM_Seek_Unique/engine", SeekEngine, "IDXUNIQ", "Uniq", true));
  in_us(benchmark::RegisterBenchmark("BM_Seek_Unique/sqlite", SeekSqlite, "Uniq", true));
  in_us(benchmark::RegisterBenchmark("BM_Seek_Dup100/engine", SeekEngine, "IDXGRP100", "Grp100",
                                     false));
  in_us(benchmark::RegisterBenchmark("BM_Seek_Dup100/sqlite", SeekSqlite, "Grp100", false));
  in_us(benchmark::RegisterBenchmark("BM_GotoRecord/engine", GotoEngine));
  in_us(benchmark::RegisterBenchmark("BM_GotoRecord/sqlite", GotoSqlite));
  in_us(benchmark::RegisterBenchmark("BM_LockWriteUnlock/engine", WriteEngine));
  in_us(benchmark::RegisterBenchmark("BM_LockWriteUnlock/sqlite", WriteSqlite));
  in_us(benchmark::RegisterBenchmark("BM_Append/engine", AppendEngine));
  in_us(benchmark::RegisterBenchmark("BM_Append/sqlite", AppendSqlite));
}

[[maybe_unused]] const bool registered = (Register(), true);

}  // namespace

BENCHMARK_MAIN();
