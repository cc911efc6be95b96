// The SQL parser fed seeded random input under the address and undefined-behaviour sanitizers:
// random bytes, statements built from the dialect's grammar (valid ones, broken ones and deeply
// nested ones) and mutations of valid statements. Every text either parses or fails with a
// positioned syntax error; nothing else may happen. Each part runs a fixed number of rounds.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "isam/failure.h"
#include "isam/isam.h"
#include "isam/sql_parser.h"
#include "isam/testing/sql_texts.h"

namespace isam::sql {
namespace {

using isam::testing::kTrnDocQuery;
using isam::testing::kWhoPaidQuery;
using isam::testing::Pieces;

constexpr int kRounds = 20000;

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 400)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : hex;
  }
  return text.size() > 400 ? out + "... (" + std::to_string(text.size()) + " bytes)" : out;
}

// Parses the text; a failure must be ISAM_ERR_SQL_SYNTAX with a text naming the position.
::testing::AssertionResult ParsesOrFailsWithAPosition(const std::string& text) {
  try {
    Parse(text);
    return ::testing::AssertionSuccess();
  } catch (const Failure& failure) {
    std::string message = failure.what();
    if (failure.code() == ISAM_ERR_SQL_SYNTAX && message.find("position") != std::string::npos) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "code " << failure.code() << " '" << message << "' for: " << Printable(text);
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "'" << e.what() << "' for: " << Printable(text);
  } catch (...) {
    return ::testing::AssertionFailure() << "unknown exception for: " << Printable(text);
  }
}

const std::vector<std::string> kBareNames =
    Pieces("a|Amount|x_1|Code$|t.adt|MWTRN.ADT|mwtrn.adt|_hidden|Caf\xe9|Z9");
const std::vector<std::string> kQuotedNames =
    Pieces("Who Paid|Chart Number|a \"\"b\"\" c|Order|SELECT| lead|x.y z");
const std::vector<std::string> kTexts =
    Pieces("|I|O''Brien|''|two words |x\ny|-- not a comment|\"|\xe9t\xe9");
const std::vector<std::string> kNumbers = Pieces(
    "0|7|-5|+3|1.5|-2.25|.5|1e3|2E-2|9223372036854775807|-9223372036854775808|"
    "123456789012345678901234");
const std::vector<std::string> kOperators = Pieces("=|<>|!=|<|<=|>|>=");
const std::vector<std::string> kBlanks = Pieces(" |  |\n|\t|\r\n| \n ");
const std::vector<std::string> kTokens = Pieces(
    "SELECT|select|DISTINCT|FROM|WHERE|ORDER|BY|ASC|DESC|AND|OR|NOT|IS|NULL|UPDATE|SET|INSERT|"
    "INTO|VALUES|DELETE|(|)|((|))|,|*|;|=|<>|!=|<|<=|>|>=|-|+|?|:p|:\"p q\"|:|:\"|:\"\"|'t'|"
    "'it''s'|'|''|\"|\"\"|\"col\"|\"a \"\" b\"|123|-1.5|1e9|.5|1e|1..2|1e+|0x1F|"
    "99999999999999999999999|a|t.adt|--|\n|\xe9|!|~|.|$|@");

// Writes statements of the dialect with seeded choices. Valid() writes statements that parse,
// giving their parameters' names; Deep() nests a condition through parentheses and NOTs;
// Soup() strings tokens together at random.
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool Percent(int p) { return Below(100) < p; }
  const std::string& Of(const std::vector<std::string>& items) {
    return items[static_cast<size_t>(Below(static_cast<int>(items.size())))];
  }

  std::string Valid(std::vector<std::string>* parameters) {
    text_.clear();
    params_.clear();
    int kind = Below(4);
    if (kind == 0) {
      Keywords(Percent(30) ? "SELECT DISTINCT" : "SELECT");
      Percent(25) ? Emit("*") : List([&] { Emit(Name()); });
      Keywords("FROM");
      Emit(Name());
      Where();
      if (Percent(40)) {
        Keywords("ORDER BY");
        List([&] {
          Emit(Name());
          if (Percent(50)) Keywords(Percent(50) ? "ASC" : "DESC");
        });
      }
    } else if (kind == 1) {
      Keywords("UPDATE");
      Emit(Name());
      Keywords("SET");
      List([&] {
        Emit(Name());
        Emit("=");
        Value(false);
      });
      Where();
    } else if (kind == 2) {
      Keywords("INSERT INTO");
      Emit(Name());
      if (Percent(50)) Parenthesised([&] { Emit(Name()); });
      Keywords("VALUES");
      Parenthesised([&] { Value(false); });
    } else {
      Keywords("DELETE FROM");
      Emit(Name());
      Where();
    }
    if (Percent(20)) Emit(";");
    *parameters = params_;
    return text_;
  }

  std::string Deep(int depth) {
    text_.clear();
    Keywords("SELECT * FROM t WHERE");
    int open = 0;
    for (int i = 0; i < depth; ++i) {
      bool parenthesis = Percent(70);
      parenthesis ? Emit("(") : Keywords("NOT");
      open += parenthesis;
    }
    Compare();
    for (int i = 0; i < open; ++i) {
      if (Percent(30)) {
        Keywords(Percent(50) ? "AND" : "OR");
        Compare();
      }
      Emit(")");
    }
    return text_;
  }

  std::string Soup() {
    text_.clear();
    for (int i = Below(40); i > 0; --i) text_ += (Percent(80) ? Of(kBlanks) : "") + Of(kTokens);
    return text_;
  }

 private:
  void Emit(const std::string& token) {
    if (!text_.empty()) text_ += Of(kBlanks);
    text_ += token;
  }
  // Keywords separated by single blanks, each letter in either case.
  void Keywords(const std::string& words) {
    std::string word;
    for (size_t i = 0; i <= words.size(); ++i) {
      if (i == words.size() || words[i] == ' ') {
        Emit(word);
        word.clear();
      } else {
        unsigned char c = static_cast<unsigned char>(words[i]);
        word += static_cast<char>(Percent(50) ? std::tolower(c) : c);
      }
    }
  }
  std::string Name() { return Percent(50) ? Of(kBareNames) : "\"" + Of(kQuotedNames) + "\""; }
  template <typename F>
  void List(F item) {
    for (int i = 0, n = 1 + Below(4); i < n; ++i) {
      if (i) Emit(",");
      item();
    }
  }
  template <typename F>
  void Parenthesised(F item) {
    Emit("(");
    List(item);
    Emit(")");
  }
  void Value(bool allow_column) {
    switch (Below(allow_column ? 5 : 4)) {
      case 0:
        return Emit("'" + Of(kTexts) + "'");
      case 1:
        return Emit(Of(kNumbers));
      case 2: {
        static const std::vector<std::string> kBare = Pieces("bConvDate|x_1|p");
        static const std::vector<std::string> kQuoted = Pieces("e D|a.b|x \"\"y\"\"");
        int form = Below(3);
        params_.push_back(form == 0 ? "" : form == 1 ? Of(kBare) : Of(kQuoted));
        if (form == 0) return Emit("?");
        if (form == 1) return Emit(":" + params_.back());
        Emit(":\"" + params_.back() + "\"");
        for (size_t q; (q = params_.back().find("\"\"")) != std::string::npos;) {
          params_.back().erase(q, 1);
        }
        return;
      }
      case 3:
        return Keywords("NULL");
      default:
        return Emit(Name());
    }
  }
  void Compare() {
    Value(true);
    if (Percent(20)) return Keywords(Percent(50) ? "IS NULL" : "IS NOT NULL");
    Emit(Of(kOperators));
    Value(true);
  }
  void Condition(int depth) {
    int kind = depth >= 4 ? 0 : Below(5);
    if (kind <= 1) return Compare();
    if (kind == 2) Keywords("NOT");
    if (kind == 3) Emit("(");
    Condition(depth + 1);
    if (kind == 3) Emit(")");
    if (kind == 4) {
      Keywords(Percent(50) ? "AND" : "OR");
      Condition(depth + 1);
    }
  }
  void Where() {
    if (!Percent(70)) return;
    Keywords("WHERE");
    Condition(0);
  }

  std::mt19937 random_;
  std::string text_;
  std::vector<std::string> params_;
};

TEST(SqlFuzz, RandomBytesParseOrFailWithAPosition) {
  Generator g(20240115);
  const std::string sql_chars = "'\"():?=<>!-+.,;* \n\teE0123456789SELECTFROMWHEREandornotisnull";
  for (int round = 0; round < kRounds; ++round) {
    std::string text;
    bool sql_like = g.Percent(50);
    for (int i = g.Below(160); i > 0; --i) {
      text += sql_like ? sql_chars[static_cast<size_t>(g.Below(static_cast<int>(sql_chars.size())))]
                       : static_cast<char>(g.Below(256));
    }
    ASSERT_TRUE(ParsesOrFailsWithAPosition(text)) << "round " << round;
  }
}

TEST(SqlFuzz, GrammarStatementsParseWithTheirParametersInOrder) {
  Generator g(7);
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::string> parameters;
    std::string text = g.Valid(&parameters);
    try {
      ASSERT_EQ(Parse(text).parameter_names, parameters) << Printable(text);
    } catch (const Failure& failure) {
      FAIL() << "round " << round << ": " << failure.what() << " for: " << Printable(text);
    }
  }
}

TEST(SqlFuzz, BrokenAndDeeplyNestedGrammarStatementsParseOrFailWithAPosition) {
  Generator g(99);
  for (int round = 0; round < kRounds; ++round) {
    std::string text;
    if (round % 3 == 0) {
      text = g.Soup();
    } else if (round % 3 == 1) {
      text = g.Deep(g.Below(3 * kMaxNesting));
    } else {
      // A valid statement with a few characters replaced by random tokens.
      std::vector<std::string> parameters;
      text = g.Valid(&parameters);
      size_t at = static_cast<size_t>(g.Below(static_cast<int>(text.size()) + 1));
      text.replace(at, static_cast<size_t>(g.Below(8)), g.Soup().substr(0, 12));
    }
    ASSERT_TRUE(ParsesOrFailsWithAPosition(text)) << "round " << round;
  }
}

TEST(SqlFuzz, MutatedValidStatementsParseOrFailWithAPosition) {
  Generator g(31337);
  std::vector<std::string> seeds = {
      "Select Distinct\n \"Chart Number\",\n \"Document Number\"\nFrom \"MWTRN.ADT\"\nWhere \n"
      " (\"Date Created\" >= :\"bConvDate\") and\n (\"Date Created\" <= :\"eConvDate\")",
      "Select \n \"Entry Number\",\n \"Transaction Type\",\n \"Procedure Code\",\n \"Who Paid\"\n"
      "From \"MWTRN.ADT\"\nWhere\n (\"Transaction Type\" >= 'I') and\n"
      " (\"Transaction Type\" <= 'O') and\n (\"Who Paid\" IS NULL)\nOrder By \"Procedure Code\""};
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::string> parameters;
    std::string text = round % 2 ? g.Valid(&parameters) : g.Of(seeds);
    for (int m = 1 + g.Below(8); m > 0; --m) {
      int size = static_cast<int>(text.size());
      size_t at = static_cast<size_t>(size ? g.Below(size) : 0);
      char byte = g.Percent(50) ? static_cast<char>(g.Below(256)) : "'\"():?-"[g.Below(7)];
      int kind = size ? g.Below(6) : 1;
      if (kind == 0) text.erase(at, 1);
      if (kind == 1) text.insert(at, 1, byte);
      if (kind == 2) std::swap(text[at], text[static_cast<size_t>(g.Below(size))]);
      if (kind == 3) text[at] = byte;
      if (kind == 4) text.insert(at, text.substr(at, static_cast<size_t>(g.Below(30))));
      if (kind == 5) text.resize(at);
    }
    ASSERT_TRUE(ParsesOrFailsWithAPosition(text)) << "round " << round;
  }
}

std::string FirstLines(const std::string& path, int count) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    char line[512];
    for (int i = 0; i < count && std::fgets(line, sizeof line, f); ++i) out += line;
    std::fclose(f);
  }
  return out;
}

// Conditions joined by AND or OR need no nesting to write, so a statement near the length limit
// may hold a hundred thousand of them.
TEST(SqlFuzzDeathTest, LongAndOrChainsUpToTheLengthLimitParseOrFailWithoutCrashing) {
  std::string report = ::testing::TempDir() + "isam_sql_fuzz_chain_report.txt";
  for (const char* joiner : {" OR ", " AND "}) {
    std::string text = "SELECT * FROM t WHERE a = 1";
    while (text.size() + 40 < kMaxStatementLength) text += std::string(joiner) + "a = ?";
    // In a child process; its standard error (a sanitizer's report of thousands of frames)
    // goes to a file of which the first lines are shown.
    EXPECT_EXIT(
        {
          if (!std::freopen(report.c_str(), "w", stderr)) std::exit(4);
          std::exit(ParsesOrFailsWithAPosition(text) ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "")
        << "joined by '" << joiner << "':\n"
        << FirstLines(report, 4);
  }
  std::remove(report.c_str());
}

}  // namespace
}  // namespace isam::sql
