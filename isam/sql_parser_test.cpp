// The SQL dialect's parser: the tree it gives for the statements the program runs and for each
// construct of the dialect, and the positioned errors it gives for everything else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "isam/failure.h"
#include "isam/sql_parser.h"
#include "isam/testing/sql_texts.h"

namespace isam::sql {
namespace {

using isam::testing::kTrnDocQuery;
using isam::testing::kWhoPaidQuery;
using isam::testing::Pieces;

// Operands and conditions written out compactly: [column], 'text', 12, 1.5d, NULL, ?index.
std::string Show(const Operand& o) {
  if (o.kind == Operand::Kind::kColumn) return "[" + o.column + "]";
  if (o.kind == Operand::Kind::kParameter) return "?" + std::to_string(o.parameter);
  if (auto* i = std::get_if<int64_t>(&o.literal)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&o.literal)) {
    std::string s = std::to_string(*d);
    s.erase(s.find_last_not_of('0') + 1);
    return s + "d";
  }
  if (auto* s = std::get_if<std::string>(&o.literal)) return "'" + *s + "'";
  return "NULL";
}

std::string Show(const Condition* c) {
  if (!c) return "-";
  switch (c->kind) {
    case Condition::Kind::kCompare:
      return "(" + c->op + " " + Show(c->left) + " " + Show(c->right) + ")";
    case Condition::Kind::kIsNull:
      return std::string(c->negated ? "(not-null " : "(null ") + Show(c->left) + ")";
    case Condition::Kind::kNot:
      return "(not " + Show(c->children.at(0).get()) + ")";
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr: {
      // A chain of AND or OR is one node with a child per term.
      std::string out = c->kind == Condition::Kind::kAnd ? "(and" : "(or";
      for (const auto& child : c->children) out += " " + Show(child.get());
      return out + ")";
    }
  }
  return "?";
}

std::vector<std::string> Columns(const std::vector<Operand>& operands) {
  std::vector<std::string> out;
  for (const Operand& o : operands) out.push_back(Show(o));
  return out;
}

std::string WhereOf(const std::string& text) {
  return Show(Parse(text).where.get());
}

// Position from 1 of the first occurrence of `what` at or after `from` in `text`.
size_t At(const std::string& text, const std::string& what, size_t from = 0) {
  return text.find(what, from) + 1;
}

// The failure a text gives; a text that parses fails the test.
Failure ErrorOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "parsed without an error: " << text.substr(0, 200);
  return Failure(0, "");
}

TEST(SqlParser, DocumentQueryGivesDistinctColumnsTableAndTwoNamedDateBounds) {
  Statement s = Parse(kTrnDocQuery);
  EXPECT_EQ(s.kind, Statement::Kind::kSelect);
  EXPECT_TRUE(s.distinct);
  EXPECT_FALSE(s.all_columns);
  EXPECT_EQ(Columns(s.columns), (std::vector<std::string>{"[Chart Number]", "[Document Number]"}));
  EXPECT_EQ(s.columns[0].position, At(kTrnDocQuery, "\"Chart"));
  EXPECT_EQ(s.columns[1].position, At(kTrnDocQuery, "\"Document"));
  EXPECT_EQ(s.table, "MWTRN.ADT");
  EXPECT_EQ(s.table_position, At(kTrnDocQuery, "\"MWTRN"));
  EXPECT_EQ(Show(s.where.get()), "(and (>= [Date Created] ?0) (<= [Date Created] ?1))");
  EXPECT_EQ(s.parameter_names, (std::vector<std::string>{"bConvDate", "eConvDate"}));
  EXPECT_TRUE(s.order.empty());
}

TEST(SqlParser, WhoPaidQueryGivesColumnsTypeRangeNullPayerAndOrder) {
  Statement s = Parse(kWhoPaidQuery);
  EXPECT_FALSE(s.distinct);
  EXPECT_EQ(Columns(s.columns), (std::vector<std::string>{"[Entry Number]", "[Transaction Type]",
                                                          "[Procedure Code]", "[Who Paid]"}));
  EXPECT_EQ(s.table, "MWTRN.ADT");
  EXPECT_EQ(Show(s.where.get()),
            "(and (>= [Transaction Type] 'I') (<= [Transaction Type] 'O') (null [Who Paid]))");
  ASSERT_EQ(s.order.size(), 1u);
  EXPECT_EQ(s.order[0].column, "Procedure Code");
  EXPECT_FALSE(s.order[0].descending);
  EXPECT_EQ(s.order[0].position,
            At(kWhoPaidQuery, "\"Procedure Code\"", At(kWhoPaidQuery, "Order")));
  EXPECT_TRUE(s.parameter_names.empty());
}

TEST(SqlParser, KeywordsInAnyCaseBareAndQuotedNamesAcrossLinesTabsAndReturns) {
  std::string text =
      "sElEcT\t*\r\nfRoM mwtrn.adt\n\twHeRe \"Who Paid\" iS nOt NuLl\n"
      "oRdEr bY \"Chart Number\" DeSc ,\n Amount aSc, \"Date Created\";";
  Statement s = Parse(text);
  EXPECT_TRUE(s.all_columns);
  EXPECT_TRUE(s.columns.empty());
  EXPECT_EQ(s.table, "mwtrn.adt");
  EXPECT_EQ(Show(s.where.get()), "(not-null [Who Paid])");
  ASSERT_EQ(s.order.size(), 3u);
  EXPECT_EQ(s.order[0].column, "Chart Number");
  EXPECT_TRUE(s.order[0].descending);
  EXPECT_EQ(s.order[1].column, "Amount");
  EXPECT_FALSE(s.order[1].descending);
  EXPECT_EQ(s.order[2].column, "Date Created");
  EXPECT_FALSE(s.order[2].descending);

  // Quoted names keep blanks, case and a doubled quote; reserved words serve once quoted.
  Statement q = Parse("SELECT \"a \"\"b\"\" c \", \"Order\", \"FROM\" FROM \"My Table.adt\"");
  EXPECT_EQ(Columns(q.columns), (std::vector<std::string>{"[a \"b\" c ]", "[Order]", "[FROM]"}));
  EXPECT_EQ(q.table, "My Table.adt");
}

TEST(SqlParser, TextLiteralsTakeADoubledQuoteAsOneAndKeepBlanksAndLineBreaks) {
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = 'O''Brien'"), "(= [a] 'O'Brien')");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = ''''"), "(= [a] ''')");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = ' x\ny  '"), "(= [a] ' x\ny  ')");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a <> 'WHERE -- not a comment'"),
            "(<> [a] 'WHERE -- not a comment')");
}

TEST(SqlParser, ParametersOfEveryFormAreNumberedInOrderWithTheirNames) {
  std::string text =
      "SELECT * FROM t WHERE a = :\"first name\" AND b < ? OR c >= :third AND :\"4th\" <> ? "
      "AND :x_1 IS NULL";
  Statement s = Parse(text);
  EXPECT_EQ(s.parameter_names,
            (std::vector<std::string>{"first name", "", "third", "4th", "", "x_1"}));
  EXPECT_EQ(Show(s.where.get()),
            "(or (and (= [a] ?0) (< [b] ?1)) (and (>= [c] ?2) (<> ?3 ?4) (null ?5)))");

  Statement u = Parse("UPDATE t SET a = ?, b = :b WHERE c = ?");
  EXPECT_EQ(u.parameter_names, (std::vector<std::string>{"", "b", ""}));
  EXPECT_EQ(Columns(u.values), (std::vector<std::string>{"?0", "?1"}));
  EXPECT_EQ(Show(u.where.get()), "(= [c] ?2)");
}

TEST(SqlParser, NotBindsTighterThanAndWhichBindsTighterThanOrAndParenthesesOverride) {
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE NOT a = 1 AND b = 2 OR c = 3 AND NOT d = 4"),
            "(or (and (not (= [a] 1)) (= [b] 2)) (and (= [c] 3) (not (= [d] 4))))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = 1 AND (b = 2 OR c = 3)"),
            "(and (= [a] 1) (or (= [b] 2) (= [c] 3)))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE NOT (a = 1 OR b = 2)"),
            "(not (or (= [a] 1) (= [b] 2)))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE NOT NOT a IS NULL"), "(not (not (null [a])))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = 1 OR b = 2 OR c = 3"),
            "(or (= [a] 1) (= [b] 2) (= [c] 3))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE ((((a = 1))))"), "(= [a] 1)");
}

TEST(SqlParser, EveryComparisonAndNumbersWithTheirSignAndKind) {
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = -5 AND b <> 0 AND c != +7"),
            "(and (= [a] -5) (<> [b] 0) (<> [c] 7))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a < -2.5 AND b <= .5 AND c > 1e3 AND d >= - 3"),
            "(and (< [a] -2.5d) (<= [b] 0.5d) (> [c] 1000.d) (>= [d] -3))");
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = NULL AND 'x' = b AND a = b"),
            "(and (= [a] NULL) (= 'x' [b]) (= [a] [b]))");
  // The largest 64-bit integer stays an integer; one more becomes a real number.
  EXPECT_EQ(WhereOf("SELECT * FROM t WHERE a = -9223372036854775807"),
            "(= [a] -9223372036854775807)");
  Statement big = Parse("SELECT * FROM t WHERE a = 9223372036854775808");
  EXPECT_TRUE(std::holds_alternative<double>(big.where->right.literal));
}

TEST(SqlParser, UpdateInsertAndDeleteNameTheirTableColumnsValuesAndCondition) {
  Statement u = Parse(
      "update \"MWTRN.ADT\" set \"Who Paid\" = 'G', Amount = -1.5 where "
      "\"Entry Number\" = 3;");
  EXPECT_EQ(u.kind, Statement::Kind::kUpdate);
  EXPECT_EQ(u.table, "MWTRN.ADT");
  EXPECT_EQ(Columns(u.columns), (std::vector<std::string>{"[Who Paid]", "[Amount]"}));
  EXPECT_EQ(Columns(u.values), (std::vector<std::string>{"'G'", "-1.5d"}));
  EXPECT_EQ(Show(u.where.get()), "(= [Entry Number] 3)");

  Statement i = Parse("INSERT INTO t (\"Chart Number\", N) VALUES ('A', NULL)");
  EXPECT_EQ(i.kind, Statement::Kind::kInsert);
  EXPECT_EQ(Columns(i.columns), (std::vector<std::string>{"[Chart Number]", "[N]"}));
  EXPECT_EQ(Columns(i.values), (std::vector<std::string>{"'A'", "NULL"}));
  EXPECT_EQ(i.where, nullptr);

  Statement all = Parse("Insert Into t Values (1, 'b', ?)");
  EXPECT_TRUE(all.columns.empty());
  EXPECT_EQ(Columns(all.values), (std::vector<std::string>{"1", "'b'", "?0"}));

  Statement d = Parse("DELETE FROM t WHERE NOT (a IS NULL)");
  EXPECT_EQ(d.kind, Statement::Kind::kDelete);
  EXPECT_EQ(Show(d.where.get()), "(not (null [a]))");
  EXPECT_EQ(Parse("delete from t").where, nullptr);
}

struct BadText {
  std::string text;
  size_t position;
  std::string token;  // a piece of the message: the token found, or what is wrong
};

TEST(SqlParser, ErrorsNameThePositionAndTheTokenFound) {
  std::vector<BadText> cases = {
      {"SELECT * FROM t WHERE a = 'abc", 27, "unterminated text literal"},
      {"SELECT \"abc FROM t", 8, "unterminated identifier"},
      {"SELECT * FROM t WHERE a = :\"p", 28, "unterminated parameter name"},
      {"", 1, "empty"},
      {"  \n\t ", 6, "empty"},
      {";", 1, "';'"},
      {"SELECT * FROM t garbage", 17, "'garbage'"},
      {"SELECT * FROM t WHERE a = 1 2", 29, "'2'"},
      {"SELECT a WHERE x = 1", 10, "'WHERE'"},
      {"SELECT a, b", 12, "end of the statement"},
      {"SELECT *\nFRM t", 10, "'FRM'"},
      {"SELECT * FROM t ORDER a", 23, "'a'"},
      {"SELECT * FROM t WHERE a ~ 1", 25, "'~'"},
      {"SELECT * FROM t WHERE a = :", 27, "':'"},
      {"SELECT * FROM t WHERE a = :\"\"", 27, "name"},
      {"SELECT * FROM t WHERE (a = 1", 29, "end of the statement"},
      {"SELECT * FROM t WHERE a = 1)", 28, "')'"},
      {"SELECT * FROM t WHERE a IS 5", 28, "'5'"},
      {"SELECT * FROM t WHERE a = -b", 28, "'b'"},
      {"SELECT * FROM t WHERE a = 1e999", 27, "1e999"},
      {"SELECT * FROM t WHERE a = 1.2.3", 27, "1.2.3"},
      {"SELECT * FROM t WHERE", 22, "end of the statement"},
      {"SELECT * FROM \"\"", 15, "empty"},
      {"SELECT * FROM where", 15, "'where'"},
      {"SELECT DISTINCT FROM t", 17, "'FROM'"},
      {"SELECT * FROM t; SELECT * FROM u", 18, "'SELECT'"},
      {"DROP TABLE t", 1, "'DROP'"},
      {"UPDATE t SET WHERE a = 1", 14, "'WHERE'"},
      {"INSERT INTO t VALUES 1", 22, "'1'"},
      {"DELETE t", 8, "'t'"},
      {"SELECT * FROM t WHERE a = 1 ORDER BY", 37, "end of the statement"},
  };
  for (const BadText& c : cases) {
    SCOPED_TRACE(c.text);
    Failure f = ErrorOf(c.text);
    EXPECT_EQ(f.code(), static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX));
    std::string message = f.what();
    EXPECT_NE(message.find("position " + std::to_string(c.position)), std::string::npos) << message;
    EXPECT_NE(message.find(c.token), std::string::npos) << message;
  }
}

TEST(SqlParser, StatementOverOneMegabyteIsRefusedWithAPositionAndOneAtTheLimitParses) {
  std::string head = "SELECT * FROM t WHERE a = '";
  std::string at_limit = head + std::string(kMaxStatementLength - head.size() - 1, 'x') + "'";
  ASSERT_EQ(at_limit.size(), kMaxStatementLength);
  EXPECT_EQ(std::get<std::string>(Parse(at_limit).where->right.literal).size(),
            kMaxStatementLength - head.size() - 1);

  for (size_t size : {kMaxStatementLength + 1, 8 * kMaxStatementLength}) {
    std::string text = head + std::string(size - head.size() - 1, 'x') + "'";
    Failure f = ErrorOf(text);
    EXPECT_EQ(f.code(), static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX));
    EXPECT_NE(std::string(f.what()).find("position"), std::string::npos) << f.what();
  }
}

TEST(SqlParser, NestingIsBoundedWithAPositionedErrorInsteadOfACrash) {
  auto nested = [](int depth) {
    return "SELECT * FROM t WHERE " + std::string(static_cast<size_t>(depth), '(') + "a = 1" +
           std::string(static_cast<size_t>(depth), ')');
  };
  EXPECT_EQ(WhereOf(nested(20)), "(= [a] 1)");
  for (int depth : {kMaxNesting + 1, 10 * kMaxNesting, 400000}) {
    Failure f = ErrorOf(nested(depth));
    EXPECT_EQ(f.code(), static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX)) << depth;
    EXPECT_NE(std::string(f.what()).find("nested too deeply"), std::string::npos) << f.what();
    EXPECT_NE(std::string(f.what()).find("position "), std::string::npos) << f.what();
  }
  std::string nots = "SELECT * FROM t WHERE ";
  for (int i = 0; i < 100000; ++i) nots += "NOT ";
  Failure f = ErrorOf(nots + "a = 1");
  EXPECT_EQ(f.code(), static_cast<IsamResult>(ISAM_ERR_SQL_SYNTAX));
  EXPECT_NE(std::string(f.what()).find("position "), std::string::npos) << f.what();
}

}  // namespace
}  // namespace isam::sql
