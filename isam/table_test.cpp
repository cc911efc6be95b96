// Moves, keys, seeks and scopes, checked against orders computed here from the data written.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "isam/testing/test_support.h"

namespace isam::testing {
namespace {

using Text = std::optional<std::string>;
using Num = std::optional<int>;

struct Row {
  int64_t recno;
  Text code;
  Num n;
};

// NULL first, then values.
template <typename T>
int Compare(const std::optional<T>& a, const std::optional<T>& b) {
  if (!a || !b) return int{a.has_value()} - int{b.has_value()};
  return *a < *b ? -1 : *b < *a ? 1 : 0;
}

enum class Order { kNatural, kCode, kCodeN, kNCode };

// A key to look for or to scope by on (Code, N): its leading `length` segments.
struct Probe {
  size_t length;
  Text code;
  Num n;
};

int CompareKey(Order order, const Row& a, const Probe& b) {
  int c = 0;
  if (order == Order::kNCode) {
    c = Compare(a.n, b.n);
    if (c == 0 && b.length > 1) c = Compare(a.code, b.code);
  } else {
    c = Compare(a.code, b.code);
    if (c == 0 && b.length > 1 && order == Order::kCodeN) c = Compare(a.n, b.n);
  }
  return c;
}

std::vector<int64_t> ModelWalk(std::vector<Row> rows, Order order) {
  std::sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    int c = order == Order::kNatural ? 0 : CompareKey(order, a, Probe{2, b.code, b.n});
    return c != 0 ? c < 0 : a.recno < b.recno;
  });
  std::vector<int64_t> out;
  for (const Row& r : rows) out.push_back(r.recno);
  return out;
}

std::vector<int64_t> Reversed(std::vector<int64_t> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

template <typename T>
std::string SqlValue(const std::optional<T>& v) {
  if (!v) return "NULL";
  if constexpr (std::is_same_v<T, int>)
    return std::to_string(*v);
  else
    return "'" + *v + "'";
}

// A table with a text and a number field and three indexes over them.
class KeyedTable : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("keyed.adt");
    CreateTable(path_, {"Code CHAR(4)", "N INTEGER", "Name CHAR(10)"},
                {"BYCODE=Code", "BYCODEN=Code;N", "BYNCODE=N;Code"});
    table_ = connection_.Open("keyed.adt");
    for (auto [name, handle] : {std::pair{"BYCODE", &by_code_}, std::pair{"BYCODEN", &by_code_n_},
                                std::pair{"BYNCODE", &by_n_code_}}) {
      ISAM_ASSERT_OK(IsamGetIndexHandle(table_, name, handle));
    }
  }

  // Writes the rows as an outside program would, in one transaction.
  void InsertRows(const std::vector<Row>& rows) {
    std::string sql = "BEGIN;";
    for (const Row& r : rows) {
      sql += "INSERT INTO records (_recno, Code, N) VALUES (" + std::to_string(r.recno) + ", " +
             SqlValue(r.code) + ", " + SqlValue(r.n) + ");";
    }
    RunSql(path_, sql + "COMMIT;");
    rows_.insert(rows_.end(), rows.begin(), rows.end());
  }

  // Writes one field of a record through `handle`.
  static void WriteFieldOf(IsamHandle handle, int64_t recno, uint16_t field,
                           const std::string& text) {
    ISAM_ASSERT_OK(IsamGotoRecord(handle, recno));
    ISAM_ASSERT_OK(IsamSetField(handle, field, text.c_str()));
    ISAM_ASSERT_OK(IsamWriteRecord(handle));
  }

  IsamHandle Handle(Order order) const {
    return std::vector<IsamHandle>{table_, by_code_, by_code_n_, by_n_code_}[size_t(order)];
  }

  void ExpectWalksMatchModel(Order order) {
    std::vector<int64_t> expected = ModelWalk(rows_, order);
    EXPECT_EQ(WalkForward(Handle(order)), expected) << "forward, order " << int(order);
    EXPECT_EQ(WalkBackward(Handle(order)), Reversed(expected)) << "backward, order " << int(order);
  }

  // A raw key of (Code, N) on BYCODEN; an absent value is set empty.
  std::vector<uint8_t> Key(const Probe& p) {
    EXPECT_EQ(IsamInitRawKey(by_code_n_), 0u);
    std::vector<std::pair<uint16_t, Text>> parts = {{1, p.code}};
    if (p.length > 1) parts.push_back({2, p.n ? Text(std::to_string(*p.n)) : std::nullopt});
    for (const auto& [field, value] : parts) {
      IsamResult rc =
          value ? IsamSetField(by_code_n_, field, value->c_str()) : IsamSetEmpty(by_code_n_, field);
      EXPECT_EQ(rc, 0u) << LastErrorText();
    }
    std::vector<uint8_t> key(64);
    uint16_t length = static_cast<uint16_t>(key.size());
    EXPECT_EQ(IsamBuildRawKey(by_code_n_, key.data(), &length), 0u) << LastErrorText();
    key.resize(length);
    return key;
  }

  // Seeks on BYCODEN; answers the record landed on (0 at the end) and whether it was found.
  std::pair<uint32_t, bool> Seek(const Probe& p, uint16_t type) {
    std::vector<uint8_t> key = Key(p);
    uint16_t found = 9;
    EXPECT_EQ(IsamSeek(by_code_n_, key.data(), static_cast<uint16_t>(key.size()), ISAM_RAW_KEY,
                       type, &found),
              0u)
        << LastErrorText();
    return {AtEof(by_code_n_) ? 0 : RecordNumber(by_code_n_), found != 0};
  }

  std::pair<uint32_t, bool> ModelSeek(const Probe& p, bool exact) const {
    for (int64_t recno : ModelWalk(rows_, Order::kCodeN)) {
      const Row& row = rows_[recno - 1];
      int c = CompareKey(Order::kCodeN, row, p);
      if (c == 0) return {recno, true};
      if (c > 0) return {exact ? 0 : recno, false};
    }
    return {0, false};
  }

  void SetScope(uint16_t which, const Probe& p) { SetScopeOf(by_code_n_, which, p); }
  void SetScopeOf(IsamHandle order, uint16_t which, const Probe& p) {
    std::vector<uint8_t> key = Key(p);
    ISAM_ASSERT_OK(
        IsamSetScope(order, which, key.data(), static_cast<uint16_t>(key.size()), ISAM_RAW_KEY));
  }

  uint32_t Count(IsamHandle order, uint16_t option) {
    uint32_t count = 0;
    EXPECT_EQ(IsamGetRecordCount(order, option, &count), 0u) << LastErrorText();
    return count;
  }

  TempFolder folder_;
  std::string path_;
  ScopedConnection connection_{folder_.path()};
  IsamHandle table_ = 0, by_code_ = 0, by_code_n_ = 0, by_n_code_ = 0;
  std::vector<Row> rows_;  // rows_[i].recno == i + 1
};

TEST_F(KeyedTable, ThousandsOfEqualKeysWalkInRecordNumberOrderBothWays) {
  std::mt19937 rng(7);
  std::vector<Row> rows;
  for (uint32_t i = 1; i <= 3000; ++i) {
    rows.push_back({i, std::string(1, static_cast<char>('a' + rng() % 3)), Num(int(rng() % 2))});
  }
  InsertRows(rows);
  ExpectWalksMatchModel(Order::kCode);
  ExpectWalksMatchModel(Order::kCodeN);
  EXPECT_EQ(Count(by_code_, ISAM_COUNT_RESPECT_SCOPES), 3000u);
}

TEST_F(KeyedTable, MultiSegmentKeysPutNullsFirstInEverySegment) {
  std::vector<Row> rows;
  for (const Text& code : {Text("b"), Text(), Text("a")}) {
    for (const Num& n : {Num(7), Num(), Num(-1), Num(0)}) {
      rows.push_back({0, code, n});
      rows.push_back({0, code, n});
    }
  }
  std::shuffle(rows.begin(), rows.end(), std::mt19937(11));
  for (size_t i = 0; i < rows.size(); ++i) rows[i].recno = static_cast<uint32_t>(i + 1);
  InsertRows(rows);
  for (Order order : {Order::kNatural, Order::kCode, Order::kCodeN, Order::kNCode}) {
    ExpectWalksMatchModel(order);
  }
}

TEST_F(KeyedTable, EndsOfAnOrderSetEofAndBof) {
  uint16_t flag = 0;
  ISAM_ASSERT_OK(IsamGotoTop(by_code_));
  EXPECT_TRUE(AtEof(by_code_));
  EXPECT_TRUE(AtBof(by_code_));
  EXPECT_EQ(IsamIsRecordVisible(by_code_, &flag), uint32_t{ISAM_ERR_NO_CURRENT_RECORD});
  ISAM_ASSERT_OK(IsamGotoBottom(table_));
  EXPECT_TRUE(AtEof(table_) && AtBof(table_));

  InsertRows({{1, "c", 1}, {2, "a", 1}, {3, "b", 1}});
  ISAM_ASSERT_OK(IsamGotoTop(by_code_));
  EXPECT_FALSE(AtBof(by_code_));
  ISAM_ASSERT_OK(IsamSkip(by_code_, -1));
  EXPECT_TRUE(AtBof(by_code_));
  EXPECT_FALSE(AtEof(by_code_));
  EXPECT_EQ(RecordNumber(by_code_), 2u);  // stays on the first record
  ISAM_ASSERT_OK(IsamSkip(by_code_, 1));
  EXPECT_FALSE(AtBof(by_code_));
  EXPECT_EQ(RecordNumber(by_code_), 3u);

  ISAM_ASSERT_OK(IsamGotoBottom(by_code_));
  EXPECT_EQ(RecordNumber(by_code_), 1u);
  ISAM_ASSERT_OK(IsamSkip(by_code_, 1));
  ISAM_ASSERT_OK(IsamSkip(by_code_, 1));
  EXPECT_TRUE(AtEof(by_code_));
  EXPECT_EQ(IsamIsRecordVisible(by_code_, &flag), uint32_t{ISAM_ERR_NO_CURRENT_RECORD});
  ISAM_ASSERT_OK(IsamSkip(by_code_, -1));
  EXPECT_EQ(RecordNumber(by_code_), 1u);

  ISAM_ASSERT_OK(IsamGotoRecord(table_, 3));
  EXPECT_EQ(RecordNumber(by_code_n_), 3u);
  EXPECT_EQ(IsamGotoRecord(table_, 4), uint32_t{ISAM_ERR_RECORD_NOT_FOUND});
}

TEST_F(KeyedTable, RawKeysCoverTheLeadingAssignedSegments) {
  uint16_t length = 0;
  ISAM_ASSERT_OK(IsamGetKeyLength(by_code_n_, &length));
  EXPECT_EQ(length, 1 + 4 + 1 + 4);
  char name[32];
  uint16_t name_length = sizeof name;
  ISAM_ASSERT_OK(IsamGetSegmentFieldname(by_n_code_, 2, name, &name_length));
  EXPECT_EQ(std::string(name, name_length), "Code");

  std::vector<uint8_t> code_only = Key({1, "ab", {}});
  EXPECT_EQ(code_only, (std::vector<uint8_t>{0, 'a', 'b', ' ', ' '}));
  std::vector<uint8_t> both = Key({2, "ab", {}});
  ASSERT_EQ(both.size(), 10u);
  EXPECT_EQ(both[5], 1);  // N empty

  // A raw value assigns a key field too; a key without its first segment covers nothing.
  ISAM_ASSERT_OK(IsamInitRawKey(by_code_n_));
  int32_t n = 42;
  ISAM_ASSERT_OK(IsamSetFieldRaw(by_code_n_, 2, reinterpret_cast<uint8_t*>(&n), sizeof n));
  std::vector<uint8_t> key(16);
  length = static_cast<uint16_t>(key.size());
  ISAM_ASSERT_OK(IsamBuildRawKey(by_code_n_, key.data(), &length));
  EXPECT_EQ(length, 0);
  EXPECT_EQ(IsamSetField(by_code_n_, 3, "x"), uint32_t{ISAM_ERR_FIELD_NOT_FOUND});
  // Key fields are no change of the table's record.
  EXPECT_EQ(IsamCancelUpdate(table_), uint32_t{ISAM_ERR_NO_UPDATE_PENDING});
  uint16_t found = 0;
  EXPECT_EQ(IsamSeek(by_code_n_, both.data(), 7, ISAM_RAW_KEY, ISAM_SEEK_SOFT, &found),
            uint32_t{ISAM_ERR_INVALID_KEY});
}

TEST_F(KeyedTable, SeeksFindEqualLeadingSegmentsOrTheNextKey) {
  InsertRows({{1, "a", 1}, {2, "a", 2}, {3, "b", {}}, {4, "b", 3}, {5, {}, 5}, {6, "c", 1}});
  using Result = std::pair<uint32_t, bool>;
  EXPECT_EQ(Seek({2, "a", 2}, ISAM_SEEK_EXACT), Result(2, true));
  EXPECT_EQ(Seek({1, "b", {}}, ISAM_SEEK_EXACT), Result(3, true));
  EXPECT_EQ(Seek({2, "b", {}}, ISAM_SEEK_EXACT), Result(3, true));  // N empty
  EXPECT_EQ(Seek({1, {}, {}}, ISAM_SEEK_EXACT), Result(5, true));   // Code empty
  EXPECT_EQ(Seek({2, "b", 4}, ISAM_SEEK_EXACT), Result(0, false));
  EXPECT_EQ(Seek({1, "bb", {}}, ISAM_SEEK_EXACT), Result(0, false));
  EXPECT_EQ(Seek({1, "z", {}}, ISAM_SEEK_EXACT), Result(0, false));

  EXPECT_EQ(Seek({2, "a", 3}, ISAM_SEEK_SOFT), Result(3, false));
  EXPECT_EQ(Seek({1, "bb", {}}, ISAM_SEEK_SOFT), Result(6, false));
  EXPECT_EQ(Seek({2, "c", 1}, ISAM_SEEK_SOFT), Result(6, true));
  EXPECT_EQ(Seek({1, "z", {}}, ISAM_SEEK_SOFT), Result(0, false));

  // Moves go on in key order from where a seek lands.
  Seek({1, "b", {}}, ISAM_SEEK_EXACT);
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, 1));
  EXPECT_EQ(RecordNumber(by_code_n_), 4u);
  Seek({1, "a", {}}, ISAM_SEEK_EXACT);
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, -1));
  EXPECT_EQ(RecordNumber(by_code_n_), 5u);
}

TEST_F(KeyedTable, ScopesLimitMovesCountsAndEnds) {
  std::vector<Row> rows;
  for (const Text& code : {Text("c"), Text(), Text("a"), Text("e"), Text("b"), Text("d")}) {
    for (const Num& n : {Num(3), Num(), Num(1), Num(2)}) {
      rows.push_back({static_cast<uint32_t>(rows.size() + 1), code, n});
    }
  }
  InsertRows(rows);
  auto expect_scope = [&](const std::optional<Probe>& top, const std::optional<Probe>& bottom) {
    std::vector<int64_t> expected;
    for (int64_t recno : ModelWalk(rows_, Order::kCodeN)) {
      const Row& row = rows_[recno - 1];
      if (top && CompareKey(Order::kCodeN, row, *top) < 0) continue;
      if (bottom && CompareKey(Order::kCodeN, row, *bottom) > 0) continue;
      expected.push_back(recno);
    }
    ISAM_ASSERT_OK(IsamClearAllScopes(table_));
    if (top) SetScope(ISAM_SCOPE_TOP, *top);
    if (bottom) SetScope(ISAM_SCOPE_BOTTOM, *bottom);
    EXPECT_EQ(WalkForward(by_code_n_), expected);
    EXPECT_EQ(WalkBackward(by_code_n_), Reversed(expected));
    EXPECT_EQ(Count(by_code_n_, ISAM_COUNT_RESPECT_SCOPES), expected.size());
    EXPECT_EQ(Count(by_code_n_, ISAM_COUNT_RESPECT_FILTERS), expected.size());
    EXPECT_EQ(Count(by_code_n_, ISAM_COUNT_IGNORE_FILTERS), rows_.size());
    // Scopes belong to their index: the natural order and the other indexes keep every record.
    EXPECT_EQ(WalkForward(table_).size(), rows_.size());
    EXPECT_EQ(Count(by_n_code_, ISAM_COUNT_RESPECT_SCOPES), rows_.size());
  };
  expect_scope(Probe{1, "c", {}}, std::nullopt);
  expect_scope(std::nullopt, Probe{1, "b", {}});
  expect_scope(Probe{1, "b", {}}, Probe{1, "d", {}});
  expect_scope(Probe{2, "b", 2}, Probe{2, "d", {}});
  expect_scope(Probe{1, {}, {}}, Probe{1, {}, {}});
  expect_scope(Probe{1, "d", {}}, Probe{1, "b", {}});  // an empty range

  // One master's details: moves stop at both ends of the range.
  expect_scope(Probe{1, "c", {}}, Probe{1, "c", {}});
  ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
  EXPECT_EQ(RecordNumber(by_code_n_), 2u);  // (c, NULL)
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, -1));
  EXPECT_TRUE(AtBof(by_code_n_));
  EXPECT_EQ(RecordNumber(by_code_n_), 2u);
  ISAM_ASSERT_OK(IsamGotoBottom(by_code_n_));
  EXPECT_EQ(RecordNumber(by_code_n_), 1u);  // (c, 3)
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, 1));
  EXPECT_TRUE(AtEof(by_code_n_));

  uint16_t visible = 9;
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 5));  // (NULL, 3): outside the scope
  ISAM_ASSERT_OK(IsamIsRecordVisible(by_code_n_, &visible));
  EXPECT_EQ(visible, 0);
  ISAM_ASSERT_OK(IsamIsRecordVisible(table_, &visible));
  EXPECT_EQ(visible, 1);

  ISAM_ASSERT_OK(IsamClearScope(by_code_n_, ISAM_SCOPE_TOP));
  EXPECT_EQ(IsamClearScope(by_code_n_, ISAM_SCOPE_TOP), uint32_t{ISAM_ERR_NO_SCOPE});
  EXPECT_EQ(Count(by_code_n_, ISAM_COUNT_RESPECT_SCOPES), 16u);  // up to c
  ISAM_ASSERT_OK(IsamClearAllScopes(table_));
  EXPECT_EQ(WalkForward(by_code_n_), ModelWalk(rows_, Order::kCodeN));
}

TEST_F(KeyedTable, SeekInsideAScopeLandsOnlyInsideIt) {
  InsertRows({{1, "a", 1}, {2, "b", 1}, {3, "b", 2}, {4, "b", 3}, {5, "c", 1}, {6, "d", 1}});
  SetScope(ISAM_SCOPE_TOP, {2, "b", 2});
  SetScope(ISAM_SCOPE_BOTTOM, {1, "c", {}});
  using Result = std::pair<uint32_t, bool>;
  EXPECT_EQ(Seek({1, "a", {}}, ISAM_SEEK_SOFT), Result(3, false));
  EXPECT_EQ(Seek({1, "c", {}}, ISAM_SEEK_EXACT), Result(5, true));
  EXPECT_EQ(Seek({1, "d", {}}, ISAM_SEEK_EXACT), Result(0, false));
  EXPECT_EQ(Seek({1, "d", {}}, ISAM_SEEK_SOFT), Result(0, false));
  // Records of "b" lie on both sides of the top: the first visible one is (b, 2).
  EXPECT_EQ(Seek({1, "b", {}}, ISAM_SEEK_SOFT), Result(3, true));
  EXPECT_EQ(Seek({1, "b", {}}, ISAM_SEEK_EXACT), Result(3, true));
}

TEST_F(KeyedTable, StepFromRecordWhoseKeyChangedElsewhereStartsAtItsNewPlace) {
  InsertRows({{1, "a", 1}, {2, "b", 1}, {3, "c", 1}, {4, "d", 1}, {5, "e", 1}});
  ScopedConnection other(folder_.path());
  IsamHandle other_table = other.Open("keyed.adt");

  EXPECT_EQ(Seek({1, "b", {}}, ISAM_SEEK_EXACT).first, 2u);
  ISAM_ASSERT_OK(IsamGotoRecord(other_table, 2));
  WriteFields(other_table, {{"Code", "d"}}, false);  // now a, c, d(2), d(4), e
  ISAM_ASSERT_OK(IsamSkip(by_code_, 1));
  EXPECT_EQ(RecordNumber(by_code_), 4u);

  ISAM_ASSERT_OK(IsamSkip(by_code_, -1));
  EXPECT_EQ(RecordNumber(by_code_), 2u);
  RunSql(path_, "UPDATE records SET Code = 'a' WHERE _recno = 2");  // a(1), a(2), c, d, e
  ISAM_ASSERT_OK(IsamSkip(by_code_, -1));
  EXPECT_EQ(RecordNumber(by_code_), 1u);

  ISAM_ASSERT_OK(IsamGotoRecord(table_, 3));
  RunSql(path_, "UPDATE records SET Code = 'zz' WHERE _recno = 3");
  ISAM_ASSERT_OK(IsamSkip(by_code_, 1));
  EXPECT_TRUE(AtEof(by_code_));
}

TEST_F(KeyedTable, RefreshShowsChangesMadeElsewhere) {
  InsertRows({{1, "a", 1}, {2, "b", 2}});
  ScopedConnection other(folder_.path());
  IsamHandle other_table = other.Open("keyed.adt");
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 2));
  EXPECT_EQ(FieldText(table_, 3), "");

  ISAM_ASSERT_OK(IsamGotoRecord(other_table, 2));
  WriteFields(other_table, {{"Name", "changed"}}, false);
  ISAM_ASSERT_OK(IsamRefreshRecord(by_code_));
  EXPECT_EQ(FieldText(table_, 3), "changed");

  RunSql(path_, "UPDATE records SET N = 77 WHERE _recno = 2");
  ISAM_ASSERT_OK(IsamRefreshRecord(table_));
  EXPECT_EQ(FieldText(by_code_, 2), "77");

  RunSql(path_, "DELETE FROM records WHERE _recno = 2");
  ISAM_ASSERT_OK(IsamRefreshRecord(table_));
  uint16_t visible = 9;
  ISAM_ASSERT_OK(IsamIsRecordVisible(table_, &visible));
  EXPECT_EQ(visible, 0);
}

TEST_F(KeyedTable, RelativeKeyPositionRisesAlongTheOrderAndItsScope) {
  std::vector<Row> rows;
  for (uint32_t i = 1; i <= 200; ++i) rows.push_back({i, std::to_string(1000 - i * 3), 1});
  InsertRows(rows);
  double position = 0;
  EXPECT_EQ(IsamGetRelKeyPos(by_code_, &position), uint32_t{ISAM_ERR_NO_KEY_POSITION});

  auto walk_positions = [&](IsamHandle order) {
    std::vector<double> out;
    ISAM_ASSERT_OK(IsamGotoTop(order));
    while (!AtEof(order)) {
      ISAM_ASSERT_OK(IsamGetRelKeyPos(order, &position));
      out.push_back(position);
      ISAM_ASSERT_OK(IsamSkip(order, 1));
    }
    ASSERT_GT(out.size(), 10u);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    EXPECT_LE(out.front(), 0.05);
    EXPECT_GE(out.back(), 0.95);
  };
  walk_positions(by_code_);
  walk_positions(table_);
  // Codes 550 to 850: the middle half of the records.
  std::vector<uint8_t> top = TextKey(by_code_, {"550"}), bottom = TextKey(by_code_, {"850"});
  ISAM_ASSERT_OK(IsamSetScope(by_code_, ISAM_SCOPE_TOP, top.data(), 5, ISAM_RAW_KEY));
  ISAM_ASSERT_OK(IsamSetScope(by_code_, ISAM_SCOPE_BOTTOM, bottom.data(), 5, ISAM_RAW_KEY));
  EXPECT_EQ(Count(by_code_, ISAM_COUNT_RESPECT_SCOPES), 101u);
  walk_positions(by_code_);
}

TEST_F(KeyedTable, SeededRandomChangesKeepEveryOrderInStep) {
  std::mt19937 rng(20240611);
  auto random_code = [&]() -> Text {
    int v = int(rng() % 6);
    return v == 0 ? Text() : Text(std::string(1, static_cast<char>('a' + v - 1)));
  };
  auto random_n = [&]() -> Num {
    int v = int(rng() % 6);
    return v == 0 ? Num() : Num(v - 3);
  };
  auto set = [&](uint16_t field, const std::optional<std::string>& value) {
    IsamResult rc =
        value ? IsamSetField(table_, field, value->c_str()) : IsamSetEmpty(table_, field);
    ASSERT_EQ(rc, 0u) << LastErrorText();
  };
  auto number_text = [](const Num& n) { return n ? Text(std::to_string(*n)) : Text(); };

  for (int round = 0; round < 4; ++round) {
    for (int op = 0; op < 60; ++op) {
      auto kind = rows_.empty() ? 0 : rng() % 10;
      Text code = random_code();
      Num n = random_n();
      if (kind < 5) {
        ISAM_ASSERT_OK(IsamAppendRecord(table_));
        set(1, code);
        set(2, number_text(n));
        ISAM_ASSERT_OK(IsamWriteRecord(table_));
        ASSERT_EQ(RecordNumber(table_), rows_.size() + 1);
        rows_.push_back({static_cast<uint32_t>(rows_.size() + 1), code, n});
        continue;
      }
      Row& row = rows_[rng() % rows_.size()];
      bool change_code = rng() % 2, change_n = !change_code || rng() % 2;
      if (change_code) row.code = code;
      if (change_n) row.n = n;
      if (kind < 8) {
        ISAM_ASSERT_OK(IsamGotoRecord(table_, row.recno));
        if (change_code) set(1, code);
        if (change_n) set(2, number_text(n));
        ISAM_ASSERT_OK(IsamWriteRecord(table_));
      } else {
        RunSql(path_, "UPDATE records SET Code = " + SqlValue(row.code) + ", N = " +
                          SqlValue(row.n) + " WHERE _recno = " + std::to_string(row.recno));
      }
    }
    for (Order order : {Order::kNatural, Order::kCode, Order::kCodeN, Order::kNCode}) {
      ExpectWalksMatchModel(order);
    }
    for (int i = 0; i < 20; ++i) {
      Probe probe{1 + rng() % 2, random_code(), random_n()};
      bool exact = rng() % 2;
      EXPECT_EQ(Seek(probe, exact ? ISAM_SEEK_EXACT : ISAM_SEEK_SOFT), ModelSeek(probe, exact))
          << "round " << round << " seek " << i;
    }
  }
}

// Inside a transaction moves step on a statement kept running; changes made on the way, by this
// handle or another on the same connection, and scopes set on the way must still show.
TEST_F(KeyedTable, InsideATransactionMovesFollowChangesAndScopesMadeOnTheWay) {
  std::mt19937 rng(99);
  auto random_code = [&]() -> Text {
    int v = int(rng() % 5);
    return v == 0 ? Text() : Text(std::string(1, static_cast<char>('a' + v - 1)));
  };
  auto random_n = [&]() -> Num { return rng() % 4 == 0 ? Num() : Num(int(rng() % 5)); };
  std::vector<Row> rows;
  for (uint32_t i = 1; i <= 300; ++i) rows.push_back({i, random_code(), random_n()});
  InsertRows(rows);
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (Order order : {Order::kNatural, Order::kCode, Order::kCodeN, Order::kNCode}) {
    ExpectWalksMatchModel(order);
  }
  IsamHandle other = connection_.Open("keyed.adt");
  std::set<int64_t> by_table, by_other;
  std::map<int64_t, std::string> names;  // names written, by record
  for (Order order : {Order::kNatural, Order::kCode, Order::kCodeN, Order::kNCode}) {
    IsamHandle handle = Handle(order);
    ISAM_ASSERT_OK(IsamGotoTop(handle));
    for (int step = 1; !AtEof(handle); ++step) {
      int64_t at = RecordNumber(handle);
      EXPECT_EQ(FieldText(handle, 3), names[at]) << "order " << int(order) << " at " << at;
      if (step % 5 == 0) {  // a record ahead changes a field outside every key
        int64_t ahead = rows_[rng() % rows_.size()].recno;
        if (!by_table.count(ahead)) {
          by_other.insert(ahead);
          names[ahead] = "s" + std::to_string(step);
          WriteFieldOf(other, ahead, 3, names[ahead]);
        }
      }
      // A record written inside the transaction stays locked to the handle that wrote it.
      if (step % 11 == 0 && !by_other.count(at)) {  // the current record changes its key
        by_table.insert(at);
        Row& row = rows_[at - 1];
        row.code = random_code();
        ISAM_ASSERT_OK(row.code ? IsamSetField(table_, 1, row.code->c_str())
                                : IsamSetEmpty(table_, 1));
        ISAM_ASSERT_OK(IsamWriteRecord(table_));
      } else if (step % 7 == 0) {  // another record changes its key
        Row& row = rows_[rng() % rows_.size()];
        if (row.recno != at && !by_table.count(row.recno)) {
          by_other.insert(row.recno);
          row.code = random_code();
          ISAM_ASSERT_OK(IsamGotoRecord(other, row.recno));
          ISAM_ASSERT_OK(row.code ? IsamSetField(other, 1, row.code->c_str())
                                  : IsamSetEmpty(other, 1));
          ISAM_ASSERT_OK(IsamWriteRecord(other));
        }
      }
      std::vector<int64_t> model = ModelWalk(rows_, order);
      auto next = std::find(model.begin(), model.end(), at) + 1;
      ISAM_ASSERT_OK(IsamSkip(handle, 1));
      if (next == model.end()) {
        EXPECT_TRUE(AtEof(handle)) << "order " << int(order) << " after " << at;
      } else {
        ASSERT_FALSE(AtEof(handle)) << "order " << int(order) << " after " << at;
        ASSERT_EQ(RecordNumber(handle), *next) << "order " << int(order) << " after " << at;
      }
    }
  }
  // A scope set during a walk, beyond the record the walk stands on: the next move goes to the
  // scope's first record.
  std::vector<int64_t> scoped;
  for (int64_t recno : ModelWalk(rows_, Order::kCodeN)) {
    const Text& code = rows_[recno - 1].code;
    if (code == Text("b") || code == Text("c")) scoped.push_back(recno);
  }
  ASSERT_FALSE(scoped.empty());
  ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, 1));
  SetScope(ISAM_SCOPE_TOP, Probe{1, Text("b"), Num()});
  SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("c"), Num()});
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, 1));
  EXPECT_EQ(RecordNumber(by_code_n_), scoped.front());
  EXPECT_EQ(WalkForward(by_code_n_), scoped);
  EXPECT_EQ(WalkBackward(by_code_n_), Reversed(scoped));
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

TEST_F(KeyedTable, AScopeOrKeyMetAgainFindsItsRecordAsItIsNow) {
  std::mt19937 rng(7);
  const std::vector<std::string> codes = {"a", "b", "c", "d"};
  auto random_code = [&] { return codes[rng() % codes.size()]; };
  std::vector<Row> rows;
  for (uint32_t i = 1; i <= 60; ++i) rows.push_back({i, random_code(), Num(int(rng() % 5))});
  InsertRows(rows);
  std::map<int64_t, std::string> names;  // written names, by record
  auto model_top = [&](const std::string& code) -> int64_t {
    for (int64_t recno : ModelWalk(rows_, Order::kCodeN)) {
      if (rows_[recno - 1].code == Text(code)) return recno;
    }
    return 0;
  };
  IsamHandle other = connection_.Open("keyed.adt");
  IsamHandle checker = connection_.Open("keyed.adt");
  auto image = RecordImageOf;
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (int round = 1; round <= 400; ++round) {
    std::string code = random_code();
    SetScope(ISAM_SCOPE_TOP, Probe{1, Text(code), Num()});
    SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text(code), Num()});
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    int64_t expected = model_top(code);
    if (expected == 0) {
      EXPECT_TRUE(AtEof(by_code_n_)) << "round " << round << ", scope " << code;
    } else {
      ASSERT_FALSE(AtEof(by_code_n_)) << "round " << round << ", scope " << code;
      ASSERT_EQ(RecordNumber(by_code_n_), expected) << "round " << round << ", scope " << code;
      EXPECT_EQ(FieldText(by_code_n_, 3), names[expected]) << "round " << round;
      ISAM_ASSERT_OK(IsamGotoRecord(checker, expected));
      EXPECT_EQ(image(by_code_n_), image(checker)) << "round " << round;
    }
    // Changes through another handle of the connection.
    Row& row = rows_[rng() % rows_.size()];
    switch (rng() % 4) {
      case 0:  // a key changes
        row.code = random_code();
        WriteFieldOf(other, row.recno, 1, *row.code);
        break;
      case 1: {  // a value outside the key changes
        std::string name = "n" + std::to_string(round);
        names[row.recno] = name;
        WriteFieldOf(other, row.recno, 3, name);
        break;
      }
      case 2: {  // a record is added
        Row added{static_cast<uint32_t>(rows_.size() + 1), random_code(), Num(0)};
        ISAM_ASSERT_OK(IsamAppendRecord(other));
        ISAM_ASSERT_OK(IsamSetField(other, 1, added.code->c_str()));
        ISAM_ASSERT_OK(IsamSetField(other, 2, "0"));
        ISAM_ASSERT_OK(IsamWriteRecord(other));
        ASSERT_EQ(RecordNumber(other), added.recno);
        rows_.push_back(added);
        break;
      }
      default:
        break;  // nothing: the same scope may be met unchanged
    }
    if (round % 50 == 0) {
      // Another program puts a new first record into a scope met just before.
      SetScope(ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
      SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
      ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
      ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
      InsertRows({{static_cast<uint32_t>(rows_.size() + 1), Text("a"), Num(-round)}});
      ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
      ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
      EXPECT_EQ(RecordNumber(by_code_n_), rows_.size()) << "round " << round;
    }
  }
  // The first record of a scope met again after a change of one of its fields.
  SetScope(ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
  SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
  ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
  int64_t first = RecordNumber(by_code_n_);
  image(by_code_n_);
  WriteFieldOf(other, first, 3, "renamed");
  ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
  ISAM_ASSERT_OK(IsamGotoRecord(checker, first));
  EXPECT_EQ(image(by_code_n_), image(checker));
  EXPECT_EQ(FieldText(by_code_n_, 3), "renamed");

  // Seeks met again, with keys changing on the way.
  ISAM_ASSERT_OK(IsamClearAllScopes(table_));
  for (int round = 1; round <= 300; ++round) {
    Probe probe{2, Text(random_code()), Num(int(rng() % 5))};
    uint16_t type = round % 2 ? ISAM_SEEK_EXACT : ISAM_SEEK_SOFT;
    EXPECT_EQ(Seek(probe, type), ModelSeek(probe, type == ISAM_SEEK_EXACT)) << "round " << round;
    if (rng() % 3 == 0) {
      Row& row = rows_[rng() % rows_.size()];
      row.code = random_code();
      WriteFieldOf(other, row.recno, 1, *row.code);
    }
  }
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// Inside a transaction a scope walked to its end is remembered. Walked again, in whole or in part,
// it must show its records as a fresh handle reads them: changed by the walking handle or another
// of the connection, re-keyed, added to, or changed by another program between transactions.
TEST_F(KeyedTable, AScopeWalkedAgainShowsItsRecordsAsTheyAreNow) {
  std::mt19937 rng(11);
  const std::vector<std::string> codes = {"a", "b", "c"};
  auto random_code = [&] { return codes[rng() % codes.size()]; };
  std::vector<Row> rows;
  for (uint32_t i = 1; i <= 40; ++i) rows.push_back({i, random_code(), Num(int(rng() % 5))});
  InsertRows(rows);
  std::map<int64_t, std::string> names;  // written names, by record
  IsamHandle other = connection_.Open("keyed.adt");
  IsamHandle checker = connection_.Open("keyed.adt");
  // A record written inside the transaction stays locked to the handle that wrote it.
  std::map<int64_t, IsamHandle> writers;
  auto may_write = [&](IsamHandle handle, int64_t recno) {
    auto [it, fresh] = writers.emplace(recno, handle);
    return fresh || it->second == handle;
  };
  // Two handles walk the scopes by turns: one serves the other what it walked.
  IsamHandle second = connection_.Open("keyed.adt");
  IsamHandle second_by_code_n = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(second, "BYCODEN", &second_by_code_n));
  const std::pair<IsamHandle, IsamHandle> walkers[] = {{table_, by_code_n_},
                                                       {second, second_by_code_n}};
  auto scope_walk = [&](const std::string& code) {
    std::vector<int64_t> walk;
    for (int64_t recno : ModelWalk(rows_, Order::kCodeN)) {
      if (rows_[recno - 1].code == Text(code)) walk.push_back(recno);
    }
    return walk;
  };
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (int round = 1; round <= 400; ++round) {
    std::string code = random_code();
    auto [walker, walker_order] = walkers[rng() % 2];
    SetScopeOf(walker_order, ISAM_SCOPE_TOP, Probe{1, Text(code), Num()});
    SetScopeOf(walker_order, ISAM_SCOPE_BOTTOM, Probe{1, Text(code), Num()});
    std::vector<int64_t> expected = scope_walk(code), walked;
    size_t stop_after = rng() % 4 == 0 ? rng() % (expected.size() + 1) : expected.size() + 1;
    ISAM_ASSERT_OK(IsamGotoTop(walker_order));
    while (!AtEof(walker_order) && walked.size() < stop_after) {
      int64_t at = RecordNumber(walker_order);
      walked.push_back(at);
      ASSERT_EQ(FieldText(walker_order, 3), names[at]) << "round " << round << " at " << at;
      ISAM_ASSERT_OK(IsamGotoRecord(checker, at));
      ASSERT_EQ(RecordImageOf(walker_order), RecordImageOf(checker)) << "round " << round;
      if (rng() % 5 == 0 && may_write(walker, at)) {  // as an edit of the current record does
        names[at] = "w" + std::to_string(round);
        WriteFieldOf(walker, at, 3, names[at]);
        ASSERT_EQ(FieldText(walker_order, 3), names[at]);
      }
      ISAM_ASSERT_OK(IsamSkip(walker_order, 1));
    }
    if (stop_after < expected.size()) expected.resize(stop_after);
    ASSERT_EQ(walked, expected) << "round " << round << ", scope " << code;
    // Changes through another handle of the connection.
    Row& row = rows_[rng() % rows_.size()];
    switch (may_write(other, row.recno) ? rng() % 5 : 4) {
      case 0:  // a key changes
        row.code = random_code();
        WriteFieldOf(other, row.recno, 1, *row.code);
        break;
      case 1:
      case 2: {  // a value outside the keys changes
        names[row.recno] = "o" + std::to_string(round);
        WriteFieldOf(other, row.recno, 3, names[row.recno]);
        break;
      }
      case 3: {  // a record is added
        Row added{static_cast<uint32_t>(rows_.size() + 1), random_code(), Num(int(rng() % 5))};
        ISAM_ASSERT_OK(IsamAppendRecord(other));
        ISAM_ASSERT_OK(IsamSetField(other, 1, added.code->c_str()));
        ISAM_ASSERT_OK(IsamSetField(other, 2, std::to_string(*added.n).c_str()));
        ISAM_ASSERT_OK(IsamWriteRecord(other));
        writers[added.recno] = other;
        rows_.push_back(added);
        break;
      }
      default:
        break;  // nothing: the same scope may be walked unchanged
    }
    if (round % 80 == 0) {
      // Between transactions another program renames a record and re-keys another.
      ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
      writers.clear();
      Row& renamed = rows_[rng() % rows_.size()];
      names[renamed.recno] = "p" + std::to_string(round);
      Row& rekeyed = rows_[rng() % rows_.size()];
      rekeyed.code = random_code();
      RunSql(path_, "UPDATE records SET Name = '" + names[renamed.recno] +
                        "' WHERE _recno = " + std::to_string(renamed.recno) +
                        "; UPDATE records SET Code = " + SqlValue(rekeyed.code) +
                        " WHERE _recno = " + std::to_string(rekeyed.recno));
      ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    }
  }
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// A handle that writes the first record of a scope it remembered meets that record, as written,
// at its next move to the top.
TEST_F(KeyedTable, AFirstRecordTheHandleWroteIsMetAsWritten) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("a"), Num(2)}});
  IsamHandle checker = connection_.Open("keyed.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  SetScope(ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
  SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
  for (const char* name : {"first", "second"}) {
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    ASSERT_EQ(RecordNumber(by_code_n_), 1);
    WriteFieldOf(table_, 1, 3, name);
    ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 2));
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    EXPECT_EQ(FieldText(by_code_n_, 3), name);
    ISAM_ASSERT_OK(IsamGotoRecord(checker, 1));
    EXPECT_EQ(RecordImageOf(by_code_n_), RecordImageOf(checker)) << name;
  }
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// A walk one handle made serves another handle of the file; each handle's record image stays
// that of the values it read, while the walk's copy of a record changed in between is read again.
TEST_F(KeyedTable, AWalkSharedByTwoHandlesShowsEachTheValuesItRead) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("a"), Num(2)}, {3, Text("a"), Num(3)}});
  IsamHandle second = connection_.Open("keyed.adt");
  IsamHandle second_by_code_n = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(second, "BYCODEN", &second_by_code_n));
  IsamHandle other = connection_.Open("keyed.adt");
  IsamHandle checker = connection_.Open("keyed.adt");
  auto image_of_record = [&](int64_t recno) {
    EXPECT_EQ(IsamGotoRecord(checker, recno), 0u) << LastErrorText();
    return RecordImageOf(checker);
  };
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  for (IsamHandle order : {by_code_n_, second_by_code_n}) {
    SetScopeOf(order, ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
    SetScopeOf(order, ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
  }
  EXPECT_EQ(WalkForward(by_code_n_), (std::vector<int64_t>{1, 2, 3}));
  // The second handle stands on record 2, given by the first handle's walk, when another handle
  // renames it; the first handle then steps onto it and so reads it again.
  ISAM_ASSERT_OK(IsamGotoTop(second_by_code_n));
  ISAM_ASSERT_OK(IsamSkip(second_by_code_n, 1));
  ASSERT_EQ(RecordNumber(second_by_code_n), 2);
  std::vector<uint8_t> before = image_of_record(2);
  WriteFieldOf(other, 2, 3, "renamed");
  ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
  ISAM_ASSERT_OK(IsamSkip(by_code_n_, 1));
  EXPECT_EQ(RecordImageOf(by_code_n_), image_of_record(2));
  EXPECT_EQ(RecordImageOf(second_by_code_n), before);  // the values it read
  EXPECT_EQ(FieldText(second_by_code_n, 3), "");
  // Met again through the walk, record 2 shows what is stored.
  ISAM_ASSERT_OK(IsamGotoTop(second_by_code_n));
  ISAM_ASSERT_OK(IsamSkip(second_by_code_n, 1));
  EXPECT_EQ(FieldText(second_by_code_n, 3), "renamed");
  EXPECT_EQ(RecordImageOf(second_by_code_n), image_of_record(2));
  // A seek inside the scope is not the walk's start.
  EXPECT_EQ(Seek(Probe{2, Text("a"), Num(3)}, ISAM_SEEK_EXACT),
            (std::pair<uint32_t, bool>{3, true}));
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// A walk is shared only in the transaction it was made in: between transactions another program
// may rename, delete or add records of the scope, and a handle that took the walk up while
// stepping must step through the file in the next one.
TEST_F(KeyedTable, AWalkSharedInOneTransactionServesNoStepInTheNext) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("a"), Num(2)}, {3, Text("a"), Num(3)}});
  IsamHandle second = connection_.Open("keyed.adt");
  IsamHandle second_by_code_n = 0;
  ISAM_ASSERT_OK(IsamGetIndexHandle(second, "BYCODEN", &second_by_code_n));
  for (IsamHandle order : {by_code_n_, second_by_code_n}) {
    SetScopeOf(order, ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
    SetScopeOf(order, ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
  }
  const std::string changes[] = {
      "UPDATE records SET Name = 'renamed' WHERE _recno = 2",
      "DELETE FROM records WHERE _recno = 2",
      "INSERT INTO records (_recno, Code, N) VALUES (9, 'a', 1)",  // just after record 1
  };
  for (const std::string& change : changes) {
    ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    WalkForward(by_code_n_);
    // The second handle's step from the first record is served from the first handle's walk.
    ISAM_ASSERT_OK(IsamGotoRecord(second_by_code_n, 1));
    ISAM_ASSERT_OK(IsamSkip(second_by_code_n, 1));
    ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
    RunSql(path_, change);
    ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(second_by_code_n, 1));
    ISAM_ASSERT_OK(IsamSkip(second_by_code_n, 1));
    std::vector<int64_t> stored = WalkForward(by_code_n_);  // read afresh: no walk this transaction
    ASSERT_GE(stored.size(), 2u) << change;
    ASSERT_EQ(stored[0], 1) << change;
    EXPECT_EQ(RecordNumber(second_by_code_n), stored[1]) << change;
    IsamHandle checker = connection_.Open("keyed.adt");
    ISAM_ASSERT_OK(IsamGotoRecord(checker, stored[1]));
    EXPECT_EQ(RecordImageOf(second_by_code_n), RecordImageOf(checker)) << change;
    ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
    RunSql(path_,
           "DELETE FROM records; INSERT INTO records (_recno, Code, N) VALUES "
           "(1, 'a', 1), (2, 'a', 2), (3, 'a', 3)");
  }
}

// Inside a transaction a move to the record a handle stands on keeps what it read, unless the
// connection changed that record since: its fields or its key.
TEST_F(KeyedTable, AMoveToTheCurrentRecordShowsWhatTheConnectionChangedSince) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("b"), Num(2)}});
  IsamHandle other = connection_.Open("keyed.adt");
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
  EXPECT_EQ(FieldText(table_, 3), "");
  WriteFieldOf(other, 1, 3, "renamed");
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
  EXPECT_EQ(FieldText(table_, 3), "renamed");
  ISAM_ASSERT_OK(IsamSetField(other, 1, "z"));  // a change of key
  ISAM_ASSERT_OK(IsamWriteRecord(other));
  ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
  EXPECT_EQ(FieldText(table_, 1), "z");
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// Between two transactions another program may change the record a handle stands on: a move to
// it in the next transaction (an edit's first step) must show the change, or the edit would
// write its sum over a value that is no longer stored.
TEST_F(KeyedTable, AMoveToTheCurrentRecordInANewTransactionShowsWhatAnotherProgramChanged) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("b"), Num(2)}});
  int round = 0;
  for (bool read_in_transaction : {true, false}) {
    std::string name = "other" + std::to_string(++round);
    if (read_in_transaction) ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
    if (read_in_transaction) ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
    RunSql(path_, "UPDATE records SET Name = '" + name + "' WHERE _recno = 1");
    ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    ISAM_ASSERT_OK(IsamGotoRecord(table_, 1));
    EXPECT_EQ(FieldText(table_, 3), name) << "read in a transaction: " << read_in_transaction;
    ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
  }
}

// A dataset whose seek finds nothing moves back to the record it stood on; that record is shown
// as stored then, whatever the connection or another program did in between.
TEST_F(KeyedTable, AMoveBackAfterAFailedSeekShowsTheRecordAsItIsNow) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("b"), Num(2)}, {3, Text("c"), Num(3)}});
  IsamHandle other = connection_.Open("keyed.adt");
  IsamHandle fresh = connection_.Open("keyed.adt");
  auto miss_and_return = [&](int64_t recno) {
    ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, recno));
    EXPECT_EQ(Seek(Probe{2, Text("zz"), Num(9)}, ISAM_SEEK_EXACT),
              (std::pair<uint32_t, bool>{0, false}));
  };
  auto expect_as_stored = [&](int64_t recno, const std::string& what) {
    ISAM_ASSERT_OK(IsamGotoRecord(fresh, recno));
    EXPECT_EQ(RecordImageOf(by_code_n_), RecordImageOf(fresh)) << what;
    EXPECT_EQ(RecordNumber(by_code_n_), recno) << what;
  };
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  miss_and_return(1);
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 1));
  expect_as_stored(1, "nothing changed");

  miss_and_return(1);
  WriteFieldOf(other, 1, 3, "renamed");  // another handle of the connection
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 1));
  expect_as_stored(1, "renamed by another handle");
  EXPECT_EQ(FieldText(by_code_n_, 3), "renamed");

  // A seek that finds a record, then the way back to the one stood on before.
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 2));
  EXPECT_EQ(Seek(Probe{1, Text("c"), Num()}, ISAM_SEEK_EXACT),
            (std::pair<uint32_t, bool>{3, true}));
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 2));
  expect_as_stored(2, "after a seek that found another");

  miss_and_return(2);
  WriteFieldOf(other, 2, 1, "q");  // a change of key
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 2));
  expect_as_stored(2, "re-keyed by another handle");
  EXPECT_EQ(FieldText(by_code_n_, 1), "q");
  // A rollback to a savepoint undoes a change made after the record was stood on.
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 3));
  ISAM_ASSERT_OK(IsamSavepoint(connection_.handle()));
  WriteFieldOf(other, 3, 3, "undone");
  miss_and_return(3);
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 3));
  EXPECT_EQ(FieldText(by_code_n_, 3), "undone");
  miss_and_return(3);
  ISAM_ASSERT_OK(IsamRollbackToSavepoint(connection_.handle()));
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 3));
  expect_as_stored(3, "after a rollback to a savepoint");
  EXPECT_EQ(FieldText(by_code_n_, 3), "");
  miss_and_return(3);
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));

  // Another program changes the record between the seek's transaction and the move back.
  RunSql(path_, "UPDATE records SET Name = 'elsewhere' WHERE _recno = 3");
  ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
  ISAM_ASSERT_OK(IsamGotoRecord(by_code_n_, 3));
  expect_as_stored(3, "changed by another program");
  EXPECT_EQ(FieldText(by_code_n_, 3), "elsewhere");
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

// A step back from the top of an empty scope (as a dataset's move to its first record takes)
// finds nothing without a second look while nothing changed, and the scope's last record once
// one was added or the scope moved.
TEST_F(KeyedTable, AStepBackFromTheTopOfAnEmptyScopeMeetsWhatCameSince) {
  InsertRows({{1, Text("a"), Num(1)}, {2, Text("c"), Num(2)}});
  IsamHandle other = connection_.Open("keyed.adt");
  auto step_back_from_top = [&] {
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    ISAM_ASSERT_OK(IsamSkip(by_code_n_, -1));
  };
  for (bool in_transaction : {false, true}) {
    if (in_transaction) ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    std::string code = in_transaction ? "d" : "b";
    SetScope(ISAM_SCOPE_TOP, Probe{1, Text(code), Num()});
    SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text(code), Num()});
    step_back_from_top();
    EXPECT_TRUE(AtEof(by_code_n_));
    EXPECT_TRUE(AtBof(by_code_n_));
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    if (in_transaction) {  // another handle of the connection
      WriteFields(other, {{"Code", code}, {"N", "5"}}, true);
    } else {  // another program
      RunSql(path_, "INSERT INTO records (_recno, Code, N) VALUES (3, 'b', 5)");
    }
    ISAM_ASSERT_OK(IsamSkip(by_code_n_, -1));
    ASSERT_FALSE(AtEof(by_code_n_)) << "in a transaction: " << in_transaction;
    EXPECT_EQ(RecordNumber(by_code_n_), in_transaction ? 4 : 3);
    // Another scope set after an empty top: the step back finds its last record.
    SetScope(ISAM_SCOPE_TOP, Probe{1, Text("x"), Num()});
    SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("x"), Num()});
    ISAM_ASSERT_OK(IsamGotoTop(by_code_n_));
    SetScope(ISAM_SCOPE_TOP, Probe{1, Text("a"), Num()});
    SetScope(ISAM_SCOPE_BOTTOM, Probe{1, Text("a"), Num()});
    ISAM_ASSERT_OK(IsamSkip(by_code_n_, -1));
    ASSERT_FALSE(AtEof(by_code_n_));
    EXPECT_EQ(RecordNumber(by_code_n_), 1);
  }
  ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
}

TEST_F(KeyedTable, AStepBackFromTheTopMeetsARecordAddedBeforeIt) {
  InsertRows({{1, Text("b"), Num(1)}, {2, Text("c"), Num(2)}});
  IsamHandle other = connection_.Open("keyed.adt");
  // Each added code sorts before every one stored.
  for (auto [in_transaction, code] : {std::pair{false, "a"}, std::pair{true, "0"}}) {
    if (in_transaction) ISAM_ASSERT_OK(IsamBeginTransaction(connection_.handle()));
    ISAM_ASSERT_OK(IsamGotoTop(by_code_));
    WriteFields(other, {{"Code", code}, {"N", "0"}}, true);
    int64_t added = RecordNumber(other);
    ISAM_ASSERT_OK(IsamSkip(by_code_, -1));
    EXPECT_FALSE(AtBof(by_code_)) << "in a transaction: " << in_transaction;
    EXPECT_EQ(RecordNumber(by_code_), added) << "in a transaction: " << in_transaction;
    if (in_transaction) ISAM_ASSERT_OK(IsamCommitTransaction(connection_.handle()));
  }
}

TEST(RecordImage, EmptyMarksComeFirstThenEachFieldAtItsOffset) {
  TempFolder folder;
  CreateTable(folder.File("image.adt"),
              {"Flag LOGICAL", "Code CHAR(4)", "N INTEGER", "Amount DOUBLE", "Day DATE",
               "Small SHORTINT", "Price NUMERIC(7,2)", "Note CHAR(3)"});
  ScopedConnection c(folder.path());
  IsamHandle t = c.Open("image.adt");
  WriteFields(t,
              {{"Flag", "T"},
               {"Code", "ab"},
               {"N", "-7"},
               {"Amount", "2.5"},
               {"Day", "12/30/1899"},
               {"Small", "300"},
               {"Price", "3.5"}},
              true);
  uint32_t length = 0;
  ISAM_ASSERT_OK(IsamGetRecordLength(t, &length));
  std::vector<uint8_t> image(length + 8, 0xEE);
  uint32_t got = static_cast<uint32_t>(image.size());
  ISAM_ASSERT_OK(IsamGetRecord(t, image.data(), &got));
  ASSERT_EQ(got, length);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 8),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 1}));

  uint32_t expected_offset = 8;
  std::vector<uint32_t> offsets;
  for (uint16_t f = 1; f <= 8; ++f) {
    uint32_t offset = 0, field_length = 0;
    ISAM_ASSERT_OK(IsamGetFieldOffset(t, f, &offset));
    ISAM_ASSERT_OK(IsamGetFieldLength(t, f, &field_length));
    EXPECT_EQ(offset, expected_offset) << "field " << f;
    offsets.push_back(offset);
    expected_offset += field_length;
  }
  EXPECT_EQ(expected_offset, length);
  auto at = [&](int field) { return image.data() + offsets[field - 1]; };
  auto value = [&]<typename T>(int field, T) {
    T v;
    std::memcpy(&v, at(field), sizeof v);
    return v;
  };
  EXPECT_EQ(*at(1), 'T');
  EXPECT_EQ(std::string(reinterpret_cast<char*>(at(2)), 4), "ab  ");
  EXPECT_EQ(value(3, int32_t{}), -7);
  EXPECT_EQ(value(4, double{}), 2.5);
  EXPECT_EQ(value(5, int32_t{}), 2415019);  // 30 Dec 1899
  EXPECT_EQ(value(6, int16_t{}), 300);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(at(7)), 7), "   3.50");
}

}  // namespace
}  // namespace isam::testing
