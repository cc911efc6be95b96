#include "isam/sql_parser.h"

#include <cctype>
#include <cstring>

#include "common/text.h"
#include "isam/failure.h"
#include "isam/isam.h"

namespace isam::sql {
namespace {

struct Token {
  enum class Kind { kWord, kQuoted, kText, kNumber, kParameter, kSymbol, kEnd };
  Kind kind = Kind::kEnd;
  std::string text;     // word, unquoted identifier, literal text, symbol, parameter name
  size_t position = 0;  // from 1
  std::string source;   // as written, for messages
};

[[noreturn]] void SyntaxError(size_t position, const std::string& what) {
  Fail(ISAM_ERR_SQL_SYNTAX,
       "Error 7200: SQL syntax error at position " + std::to_string(position) + ": " + what);
}

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    for (;;) {
      SkipBlanks();
      Token t;
      t.position = pos_ + 1;
      if (pos_ >= text_.size()) {
        t.source = "end of statement";
        tokens.push_back(t);
        return tokens;
      }
      char c = text_[pos_];
      if (IsWordStart(c)) {
        size_t start = pos_;
        while (pos_ < text_.size() && IsWordChar(text_[pos_])) ++pos_;
        t.kind = Token::Kind::kWord;
        t.text = text_.substr(start, pos_ - start);
      } else if (c == '"') {
        t.kind = Token::Kind::kQuoted;
        t.text = Quoted('"', "identifier");
      } else if (c == '\'') {
        t.kind = Token::Kind::kText;
        t.text = Quoted('\'', "text literal");
      } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                 (c == '.' && pos_ + 1 < text_.size() &&
                  std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
        size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.')) {
          ++pos_;
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
          ++pos_;
          if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
          while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
        }
        t.kind = Token::Kind::kNumber;
        t.text = text_.substr(start, pos_ - start);
      } else if (c == ':') {
        ++pos_;
        t.kind = Token::Kind::kParameter;
        if (pos_ < text_.size() && text_[pos_] == '"') {
          t.text = Quoted('"', "parameter name");
        } else if (pos_ < text_.size() && IsWordStart(text_[pos_])) {
          size_t start = pos_;
          while (pos_ < text_.size() && IsWordChar(text_[pos_]) && text_[pos_] != '.') ++pos_;
          t.text = text_.substr(start, pos_ - start);
        } else {
          SyntaxError(t.position, "a parameter name must follow ':'");
        }
        if (t.text.empty()) SyntaxError(t.position, "a parameter needs a name");
      } else if (c == '?') {
        ++pos_;
        t.kind = Token::Kind::kParameter;
      } else {
        static const char* const kSymbols[] = {"<>", "!=", "<=", ">=", "=", "<", ">",
                                               "(",  ")",  ",",  "*",  ";", "-", "+"};
        bool matched = false;
        for (const char* s : kSymbols) {
          size_t n = std::strlen(s);
          if (text_.compare(pos_, n, s) == 0) {
            t.kind = Token::Kind::kSymbol;
            t.text = s;
            pos_ += n;
            matched = true;
            break;
          }
        }
        if (!matched) {
          SyntaxError(t.position, "unexpected character '" + std::string(1, c) + "'");
        }
      }
      t.source = text_.substr(t.position - 1, pos_ - (t.position - 1));
      tokens.push_back(std::move(t));
    }
  }

 private:
  static bool IsWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  }
  static bool IsWordChar(char c) {
    return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '$';
  }

  void SkipBlanks() {
    for (;;) {
      while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (text_.compare(pos_, 2, "--") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      return;
    }
  }

  std::string Quoted(char quote, const char* what) {
    size_t start = pos_ + 1;
    std::string out;
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) {
        SyntaxError(start, std::string("unterminated ") + what);
      }
      if (text_[pos_] == quote) {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == quote) {
          out += quote;
          pos_ += 2;
          continue;
        }
        ++pos_;
        return out;
      }
      out += text_[pos_++];
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  Statement Run() {
    Statement s;
    if (Peek().kind == Token::Kind::kEnd) SyntaxError(Peek().position, "the statement is empty");
    if (AcceptWord("SELECT")) {
      ParseSelect(&s);
    } else if (AcceptWord("UPDATE")) {
      ParseUpdate(&s);
    } else if (AcceptWord("INSERT")) {
      ParseInsert(&s);
    } else if (AcceptWord("DELETE")) {
      ExpectWord("FROM");
      s.kind = Statement::Kind::kDelete;
      ParseTable(&s);
      ParseWhere(&s);
    } else {
      Unexpected("SELECT, UPDATE, INSERT or DELETE");
    }
    AcceptSymbol(";");
    if (Peek().kind != Token::Kind::kEnd) Unexpected("the end of the statement");
    s.parameter_names = std::move(parameters_);
    return s;
  }

 private:
  const Token& Peek() const { return tokens_[index_]; }
  const Token& Next() {
    const Token& t = tokens_[index_];
    if (t.kind != Token::Kind::kEnd) ++index_;
    return t;
  }

  [[noreturn]] void Unexpected(const std::string& expected) {
    const Token& t = Peek();
    std::string near =
        t.kind == Token::Kind::kEnd ? "the end of the statement" : "'" + t.source + "'";
    SyntaxError(t.position, "found " + near + " where " + expected + " was expected");
  }

  bool IsWord(const Token& t, const char* word) const {
    return t.kind == Token::Kind::kWord && t.text.size() == std::strlen(word) &&
           std::equal(t.text.begin(), t.text.end(), word,
                      [](char a, char b) { return common::UpperCase(a) == b; });
  }
  bool AcceptWord(const char* word) {
    if (!IsWord(Peek(), word)) return false;
    Next();
    return true;
  }
  void ExpectWord(const char* word) {
    if (!AcceptWord(word)) Unexpected(word);
  }
  bool AcceptSymbol(const char* symbol) {
    if (Peek().kind != Token::Kind::kSymbol || Peek().text != symbol) return false;
    Next();
    return true;
  }
  void ExpectSymbol(const char* symbol) {
    if (!AcceptSymbol(symbol)) Unexpected(std::string("'") + symbol + "'");
  }

  static bool IsReserved(const Token& t) {
    static const char* const kReserved[] = {
        "SELECT",   "FROM",   "WHERE", "ORDER",  "BY",   "AND",    "OR",     "NOT", "IS",  "NULL",
        "DISTINCT", "UPDATE", "SET",   "INSERT", "INTO", "VALUES", "DELETE", "ASC", "DESC"};
    if (t.kind != Token::Kind::kWord) return false;
    std::string upper = common::UpperCase(t.text);
    for (const char* r : kReserved) {
      if (upper == r) return true;
    }
    return false;
  }

  // A column or table name: bare or in double quotes.
  std::string Identifier(const char* what, size_t* position) {
    const Token& t = Peek();
    if ((t.kind == Token::Kind::kWord && !IsReserved(t)) || t.kind == Token::Kind::kQuoted) {
      if (t.kind == Token::Kind::kQuoted && t.text.empty()) {
        SyntaxError(t.position, std::string("an empty ") + what);
      }
      *position = t.position;
      return Next().text;
    }
    Unexpected(what);
  }

  Operand ColumnOperand() {
    Operand o;
    o.kind = Operand::Kind::kColumn;
    o.column = Identifier("a column name", &o.position);
    return o;
  }

  void ParseTable(Statement* s) { s->table = Identifier("a table name", &s->table_position); }

  void ParseSelect(Statement* s) {
    s->kind = Statement::Kind::kSelect;
    s->distinct = AcceptWord("DISTINCT");
    if (AcceptSymbol("*")) {
      s->all_columns = true;
    } else {
      do {
        s->columns.push_back(ColumnOperand());
      } while (AcceptSymbol(","));
    }
    ExpectWord("FROM");
    ParseTable(s);
    ParseWhere(s);
    if (AcceptWord("ORDER")) {
      ExpectWord("BY");
      do {
        OrderTerm term;
        term.column = Identifier("a column name", &term.position);
        if (AcceptWord("DESC"))
          term.descending = true;
        else
          AcceptWord("ASC");
        s->order.push_back(term);
      } while (AcceptSymbol(","));
    }
  }

  void ParseUpdate(Statement* s) {
    s->kind = Statement::Kind::kUpdate;
    ParseTable(s);
    ExpectWord("SET");
    do {
      s->columns.push_back(ColumnOperand());
      ExpectSymbol("=");
      s->values.push_back(ValueOperand(false));
    } while (AcceptSymbol(","));
    ParseWhere(s);
  }

  void ParseInsert(Statement* s) {
    s->kind = Statement::Kind::kInsert;
    ExpectWord("INTO");
    ParseTable(s);
    if (AcceptSymbol("(")) {
      do {
        s->columns.push_back(ColumnOperand());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    ExpectWord("VALUES");
    ExpectSymbol("(");
    do {
      s->values.push_back(ValueOperand(false));
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
  }

  void ParseWhere(Statement* s) {
    if (AcceptWord("WHERE")) {
      s->where_position = Peek().position;
      s->where = ParseOr(0);
    }
  }

  // A chain of AND or OR is one node with a child per term, so that long chains stay shallow.
  std::unique_ptr<Condition> Chain(Condition::Kind kind, std::unique_ptr<Condition> first,
                                   const char* word, int depth, bool is_or) {
    if (!IsWord(Peek(), word)) return first;
    auto c = std::make_unique<Condition>();
    c->kind = kind;
    c->children.push_back(std::move(first));
    while (AcceptWord(word)) c->children.push_back(is_or ? ParseAnd(depth) : ParseNot(depth));
    return c;
  }

  void CheckDepth(int depth) {
    if (depth > kMaxNesting) SyntaxError(Peek().position, "conditions are nested too deeply");
  }

  // Depth counts parentheses and NOTs, the only ways a condition nests.
  std::unique_ptr<Condition> ParseOr(int depth) {
    CheckDepth(depth);
    return Chain(Condition::Kind::kOr, ParseAnd(depth), "OR", depth, true);
  }

  std::unique_ptr<Condition> ParseAnd(int depth) {
    return Chain(Condition::Kind::kAnd, ParseNot(depth), "AND", depth, false);
  }

  std::unique_ptr<Condition> ParseNot(int depth) {
    CheckDepth(depth);
    if (AcceptWord("NOT")) {
      auto c = std::make_unique<Condition>();
      c->kind = Condition::Kind::kNot;
      c->children.push_back(ParseNot(depth + 1));
      return c;
    }
    return ParsePrimary(depth);
  }

  // A parenthesis opens a condition unless what follows reads as a value and a comparison.
  std::unique_ptr<Condition> ParsePrimary(int depth) {
    CheckDepth(depth);
    if (AcceptSymbol("(")) {
      auto inner = ParseOr(depth + 1);
      ExpectSymbol(")");
      return inner;
    }
    auto c = std::make_unique<Condition>();
    c->left = ValueOperand(true);
    if (AcceptWord("IS")) {
      c->kind = Condition::Kind::kIsNull;
      c->negated = AcceptWord("NOT");
      ExpectWord("NULL");
      return c;
    }
    static const char* const kOps[] = {"=", "<>", "!=", "<=", ">=", "<", ">"};
    for (const char* op : kOps) {
      if (AcceptSymbol(op)) {
        c->kind = Condition::Kind::kCompare;
        c->op = std::strcmp(op, "!=") == 0 ? "<>" : op;
        c->right = ValueOperand(true);
        return c;
      }
    }
    Unexpected("a comparison (=, <>, <, <=, >, >=) or IS [NOT] NULL");
  }

  Operand ValueOperand(bool allow_column) {
    const Token& t = Peek();
    Operand o;
    o.position = t.position;
    if (t.kind == Token::Kind::kText) {
      o.literal = Next().text;
      return o;
    }
    if (t.kind == Token::Kind::kSymbol && (t.text == "-" || t.text == "+")) {
      bool negative = Next().text == "-";
      if (Peek().kind != Token::Kind::kNumber) Unexpected("a number");
      o.literal = NumberValue(Next(), negative);
      return o;
    }
    if (t.kind == Token::Kind::kNumber) {
      o.literal = NumberValue(Next(), false);
      return o;
    }
    if (t.kind == Token::Kind::kParameter) {
      o.kind = Operand::Kind::kParameter;
      o.parameter = parameters_.size();
      parameters_.push_back(Next().text);
      return o;
    }
    if (IsWord(t, "NULL")) {
      Next();
      return o;
    }
    bool names_something =
        t.kind == Token::Kind::kQuoted || (t.kind == Token::Kind::kWord && !IsReserved(t));
    if (names_something && allow_column) return ColumnOperand();
    if (names_something) Unexpected("a value ('text', a number or a parameter; not a column)");
    Unexpected("a value (a column, 'text', a number or a parameter)");
  }

  static Value NumberValue(const Token& t, bool negative) {
    const std::string& s = t.text;
    if (s.find_first_of(".eE") == std::string::npos) {
      if (auto v = common::ParseInteger(s)) return negative ? -*v : *v;
    }
    auto d = common::ParseDouble(s);
    if (!d) SyntaxError(t.position, "'" + s + "' is not a number");
    return negative ? -*d : *d;
  }

  std::vector<Token> tokens_;
  size_t index_ = 0;
  std::vector<std::string> parameters_;
};

}  // namespace

Statement Parse(const std::string& text) {
  if (text.size() > kMaxStatementLength) {
    Fail(ISAM_ERR_SQL_SYNTAX, "Error 7200: SQL syntax error at position " +
                                  std::to_string(kMaxStatementLength + 1) + ": the statement is " +
                                  std::to_string(text.size()) + " characters long; at most " +
                                  std::to_string(kMaxStatementLength) + " are accepted");
  }
  return Parser(Lexer(text).Run()).Run();
}

}  // namespace isam::sql
