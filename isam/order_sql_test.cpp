// The SQL of moves: the branch texts for a few bounds, and how SQLite plans and runs every
// statement that NextRecordSql can produce for a two-segment index and for the natural order.
#include "isam/order_sql.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

const OrderColumns kKeyColumns = {
    {"\"Code\"", false, 0}, {"\"N\"", false, 1}, {"_recno", false, -1}};
const OrderColumns kNatural = {{"_recno", false, -1}};

const char* Name(Direction dir) {
  return dir == Direction::kForward ? "forward" : "backward";
}

TEST(OrderSql, ForwardStepAfterFullKeySeeksOneColumnAtATime) {
  EXPECT_EQ(BoundBranches(kKeyColumns, Direction::kForward, Bound{3, false, 0}),
            (std::vector<std::string>{"\"Code\" IS ?1 AND \"N\" IS ?2 AND _recno > ?3",
                                      "\"Code\" IS ?1 AND \"N\" > ?2", "\"Code\" > ?1"}));
}

TEST(OrderSql, NullBoundsTurnIntoNullTestsAndDropImpossibleBranches) {
  // Forward past a NULL code: every non-NULL code follows.
  EXPECT_EQ(BoundBranches(kKeyColumns, Direction::kForward, Bound{1, false, 1}),
            (std::vector<std::string>{"\"Code\" IS NOT NULL"}));
  // Backward before a NULL code: nothing sorts before NULL.
  EXPECT_TRUE(BoundBranches(kKeyColumns, Direction::kBackward, Bound{1, false, 1}).empty());
  // Backward from ("x", NULL) inclusive: the NULL-N records of "x", then smaller codes, then NULL.
  EXPECT_EQ(BoundBranches(kKeyColumns, Direction::kBackward, Bound{2, true, 2}),
            (std::vector<std::string>{"\"Code\" IS ?1 AND \"N\" IS NULL", "\"Code\" < ?1",
                                      "\"Code\" IS NULL"}));
}

// A plain SQLite handle with a table file attached as the engine attaches it.
class OrderSqlPlan : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = folder_.File("plan.adt");
    CreateTable(path, {"Code CHAR(4)", "N INTEGER", "Name CHAR(20)"}, {"IX=Code;N"});
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec("ATTACH DATABASE '" + path + "' AS \"t1\"");
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
  }

  std::string Sql(const OrderColumns& columns, Direction dir, const Bound& bound) {
    return NextRecordSql("_recno, \"Name\"", "\"t1\".records", "", columns, dir, bound, rows_);
  }

  // Every statement a move can run on the order: each access to the records must be a seek,
  // except that the branch without a condition (the order's first record) walks the order from
  // its start. A statement without branches is constant false and reads nothing.
  void ExpectEveryMoveSeeks(const OrderColumns& columns) {
    for (Direction dir : {Direction::kForward, Direction::kBackward}) {
      for (size_t n = 0; n <= columns.size(); ++n) {
        uint32_t masks = 1u << std::min(n, columns.size() - 1);  // _recno is never NULL
        for (uint32_t mask = 0; mask < masks; ++mask) {
          for (bool inclusive : {false, true}) {
            Bound bound{n, inclusive, mask};
            std::vector<std::string> branches = BoundBranches(columns, dir, bound);
            bool unrestricted = false;
            for (const std::string& b : branches) unrestricted |= b.empty() || b == "1";
            std::string sql = Sql(columns, dir, bound), plan;
            sqlite3_stmt* stmt = nullptr;
            ASSERT_EQ(
                sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr),
                SQLITE_OK)
                << sql;
            bool all_seek = true;
            while (sqlite3_step(stmt) == SQLITE_ROW) {
              std::string line = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
              plan += "\n  " + line;
              if (line.find("records") == std::string::npos || branches.empty()) continue;
              bool walks_order = unrestricted &&
                                 (columns.size() == 1 ? line == "SCAN t1.records"
                                                      : line.find("INDEX IX") != std::string::npos);
              all_seek &= line.rfind("SEARCH", 0) == 0 || walks_order;
            }
            sqlite3_finalize(stmt);
            EXPECT_TRUE(all_seek && plan.find("TEMP B-TREE") == std::string::npos)
                << Name(dir) << " columns=" << n << " inclusive=" << inclusive
                << " null_mask=" << mask << "\n"
                << sql << "\nplan:" << plan;
          }
        }
      }
    }
  }

  TempFolder folder_;
  sqlite3* db_ = nullptr;
  Rows rows_ = Rows::kFirst;
};

TEST_F(OrderSqlPlan, EveryIndexMoveIsPlannedAsSeeks) {
  ExpectEveryMoveSeeks(kKeyColumns);
  rows_ = Rows::kAll;  // the statements that moves inside a transaction step on
  ExpectEveryMoveSeeks(kKeyColumns);
}

// The records of a scope whose ends are one key are read by one seek on that key, in the order,
// without sorting.
TEST_F(OrderSqlPlan, TheRecordsOfOneKeyArePlannedAsOneSeek) {
  for (Rows rows : {Rows::kFirst, Rows::kAll}) {
    for (size_t n = 1; n < kKeyColumns.size(); ++n) {
      std::string sql = KeyRowsSql("_recno, \"Name\"", "\"t1\".records", "", kKeyColumns, n, rows);
      sqlite3_stmt* stmt = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr),
                SQLITE_OK)
          << sql;
      std::string plan;
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        plan += std::string("\n  ") + reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
      }
      sqlite3_finalize(stmt);
      EXPECT_NE(plan.find("SEARCH t1.records USING INDEX IX (Code=?"), std::string::npos)
          << sql << "\nplan:" << plan;
      EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << sql << "\nplan:" << plan;
    }
  }
}

TEST_F(OrderSqlPlan, EveryNaturalOrderMoveIsPlannedAsSeeks) {
  ExpectEveryMoveSeeks(kNatural);
  rows_ = Rows::kAll;
  ExpectEveryMoveSeeks(kNatural);
}

// Runs every move statement from the first and the last record of each key group, where each
// key repeats 500 times, and counts SQLite's steps: a seek takes a few dozen whatever the number
// of equal keys; a scan of the equal keys or of the table takes thousands.
TEST_F(OrderSqlPlan, MovesFromTheEdgesOfLargeKeyGroupsReadOnlyAFewRecords) {
  Exec(
      "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 3000) "
      "INSERT INTO \"t1\".records (Code, N, Name) "
      "SELECT char(97 + i % 3), CASE WHEN i % 2 = 0 THEN NULL ELSE 1 END, 'x' FROM s");
  struct Edge {
    std::string code;
    bool null_n;
    int64_t recno;
  };
  std::vector<Edge> edges;
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_,
                               "SELECT Code, N IS NULL, min(_recno), max(_recno) FROM "
                               "\"t1\".records GROUP BY 1, 2",
                               -1, &q, nullptr),
            SQLITE_OK);
  while (sqlite3_step(q) == SQLITE_ROW) {
    for (int c : {2, 3}) {
      edges.push_back({reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
                       sqlite3_column_int(q, 1) != 0, sqlite3_column_int64(q, c)});
    }
  }
  sqlite3_finalize(q);
  ASSERT_EQ(edges.size(), 12u);

  for (const auto& columns : {kKeyColumns, kNatural}) {
    for (Direction dir : {Direction::kForward, Direction::kBackward}) {
      for (size_t n = 1; n <= columns.size(); ++n) {
        for (bool inclusive : {false, true}) {
          for (const Edge& edge : edges) {
            bool index = columns.size() > 1;
            uint32_t mask = index && edge.null_n && n >= 2 ? 2u : 0u;
            std::string sql = Sql(columns, dir, Bound{n, inclusive, mask});
            sqlite3_stmt* stmt = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
            if (index) {
              sqlite3_bind_text(stmt, 1, edge.code.c_str(), -1, SQLITE_TRANSIENT);
              if (!edge.null_n) sqlite3_bind_int(stmt, 2, 1);
            }
            sqlite3_bind_int64(stmt, index ? 3 : 1, edge.recno);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
            }
            int steps = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 0);
            sqlite3_finalize(stmt);
            EXPECT_LT(steps, 500) << Name(dir) << " from (" << edge.code << ", "
                                  << (edge.null_n ? "NULL" : "1") << ", " << edge.recno << ") on "
                                  << n << " columns, inclusive=" << inclusive << "\n"
                                  << sql;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace isam::testing
