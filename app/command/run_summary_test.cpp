// The run's summary and report against what the run left in the tables: the `summary:` lines, the
// report's summary table and its list of changed records agree with `rivenoak diff` between a
// copy taken before the run and the practice after it. A dry run's report names the practice and
// says that it was not changed; texts other programs wrote reach the page as valid UTF-8.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/practice/demo_practice.h"
#include "app/testing/practice_checks.h"
#include "conversion/run_counts.h"
#include "isam/testing/test_support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using isam::testing::RunSql;
using isam::testing::TempFolder;
using testing::Outcome;
using testing::Rivenoak;

// One line of RFC 4180 CSV (no line breaks inside fields in these reports).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

struct Diff {
  std::map<std::string, int> added;                       // by table, lower case
  std::map<std::string, std::map<std::string, int>> to;   // field -> new text -> lines
  std::map<std::string, long long> delta_cents;           // field -> sum of new - old, in cents
  std::set<std::pair<std::string, std::string>> records;  // (table, recno) of every line
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

long long Cents(const std::string& text) {
  return text.empty() ? 0 : std::llround(std::stod(text) * 100);
}

Diff ReadDiff(const std::string& before, const std::string& after) {
  Diff diff;
  for (const std::string& line : testing::Differences(before, after)) {
    std::vector<std::string> f = CsvFields(line);
    if (f.size() != 6) {
      ADD_FAILURE() << "not a change line: " << line;
      continue;
    }
    diff.records.insert({f[0], f[1]});
    if (f[3].empty()) {
      if (f[5] == "added") ++diff.added[Lower(f[0])];
      continue;
    }
    ++diff.to[f[3]][f[5]];
    if (f[3].find("Amount") != std::string::npos) {
      diff.delta_cents[f[3]] += Cents(f[5]) - Cents(f[4]);
    }
  }
  return diff;
}

// "summary: NAME = VALUE" lines as a map, in their order checked against the engine's names.
std::map<std::string, std::string> SummaryValues(const std::string& lines) {
  std::map<std::string, std::string> values;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    const std::string prefix = "summary: ";
    size_t eq = line.find(" = ");
    if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) {
      ADD_FAILURE() << "not a summary line: " << line;
      continue;
    }
    values[line.substr(prefix.size(), eq - prefix.size())] = line.substr(eq + 3);
  }
  return values;
}

int Int(const std::map<std::string, std::string>& values, const std::string& name) {
  auto found = values.find(name);
  if (found == values.end()) {
    ADD_FAILURE() << "no summary line " << name;
    return -1;
  }
  return std::stoi(found->second);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The rows of the report's summary table.
std::map<std::string, std::string> ReportSummary(const std::string& html) {
  std::map<std::string, std::string> rows;
  size_t start = html.find("<table class=\"summary\">");
  size_t end = html.find("</table>", start);
  if (start == std::string::npos || end == std::string::npos) return rows;
  std::string table = html.substr(start, end - start);
  std::regex row("<tr><th>([^<]*)</th><td>([^<]*)</td></tr>");
  for (std::sregex_iterator it(table.begin(), table.end(), row), last; it != last; ++it) {
    rows[(*it)[1]] = (*it)[2];
  }
  return rows;
}

// The characters of `page` as iconv reads UTF-8 (no overlong form, no surrogate, nothing past
// U+10FFFF); a page that is not UTF-8 fails the test.
std::u32string CodePoints(const std::string& page) {
  std::unique_ptr<void, int (*)(iconv_t)> decoder(iconv_open("UTF-32LE", "UTF-8"), iconv_close);
  if (decoder.get() == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "no UTF-8 decoder";
    return {};
  }
  std::string in = page, out(page.size() * 4, '\0');
  char *in_at = in.data(), *out_at = out.data();
  size_t in_left = in.size(), out_left = out.size();
  if (iconv(decoder.get(), &in_at, &in_left, &out_at, &out_left) == static_cast<size_t>(-1)) {
    ADD_FAILURE() << "not UTF-8 at byte " << in.size() - in_left << ": "
                  << page.substr(in.size() - in_left, 40);
  }
  std::u32string points((out.size() - out_left) / 4, U'\0');
  for (size_t i = 0; i < points.size(); ++i) {
    for (int b = 3; b >= 0; --b) points[i] = points[i] << 8 | static_cast<uint8_t>(out[i * 4 + b]);
  }
  return points;
}

// Fails the test for each character HTML does not allow in text: a control other than tab, line
// feed and carriage return (which the page's own lines do not use either), and a noncharacter.
void ExpectOnlyTextCharacters(const std::string& page) {
  for (char32_t c : CodePoints(page)) {
    bool control = (c < 0x20 && c != U'\t' && c != U'\n') || (c >= 0x7F && c < 0xA0);
    bool noncharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
    EXPECT_FALSE(control || noncharacter) << "U+" << std::hex << static_cast<uint32_t>(c);
  }
}

class RunSummary : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoRoot(root_.path(), DemoOptions{1, 800, 3});
    practice_ = root_.File("Practice1");
    before_ = root_.File("before");
    fs::copy(practice_, before_, fs::copy_options::recursive);
    presses_ = root_.path() + "/" + kDemoPressesFolder + "/Demo Practice 1.txt";
  }
  Outcome Run(const std::string& report, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"run",        practice_,  "--quiet",    "--from",
                                     "01/01/2004", "--to",     "12/31/2004", "--who-paid",
                                     presses_,     "--report", report};
    args.insert(args.end(), more.begin(), more.end());
    return Rivenoak(args);
  }
  TempFolder root_;
  std::string practice_, before_, presses_;
};

TEST_F(RunSummary, SummaryLinesAndReportAgreeWithTheChangeReport) {
  std::string report = root_.File("report.html");
  Outcome o = Run(report);
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  std::map<std::string, std::string> summary = SummaryValues(o.summary);
  EXPECT_EQ(summary.size(), conversion::SummaryOf(conversion::RunCounts()).size());
  Diff diff = ReadDiff(before_, practice_);

  EXPECT_GT(Int(summary, "transaction types changed"), 0);
  int types_changed = 0;
  for (const auto& [type, lines] : diff.to["Transaction Type"]) types_changed += lines;
  EXPECT_EQ(Int(summary, "transaction types changed"), types_changed);
  EXPECT_EQ(Int(summary, "procedure codes added"), diff.added["mwpro.adt"]);
  EXPECT_GT(Int(summary, "application records written"), 0);
  EXPECT_EQ(Int(summary, "application records written"), diff.added["mwpax.adt"]);
  for (const char* letter : {"1", "2", "3", "G", "A"}) {
    EXPECT_EQ(Int(summary, std::string("payers assigned ") + letter), diff.to["Who Paid"][letter])
        << letter;
  }
  for (const char* flag : conversion::kPaidFlags) {
    EXPECT_EQ(Int(summary, std::string("charges marked ") + flag), diff.to[flag]["T"]) << flag;
  }
  // Every amount a charge column gained is what payment application put there and what the
  // adjustment moved there.
  for (const char* column : conversion::kAmountColumns) {
    long long applied = Cents(summary[std::string("amount applied to ") + column]);
    long long moved = Cents(summary[std::string("amount moved to ") + column]);
    EXPECT_EQ(applied + moved, diff.delta_cents[column]) << column;
  }
  EXPECT_EQ(Int(summary, "payor questions asked"), Int(summary, "payor questions answered yes") +
                                                       Int(summary, "payor questions answered no"));

  // The report shows the same counts and lists every record the change report names.
  std::string html = ReadFile(report);
  std::map<std::string, std::string> table = ReportSummary(html);
  EXPECT_EQ(table, summary);
  EXPECT_NE(
      html.find("<p class=\"count\">" + std::to_string(diff.records.size()) + " records changed"),
      std::string::npos);
  // The first 1,000 records are listed, the rest only counted.
  size_t listed = 0;
  for (size_t at = html.find("<tr class=\"changed\">"); at != std::string::npos;
       at = html.find("<tr class=\"changed\">", at + 1)) {
    ++listed;
  }
  ASSERT_GT(diff.records.size(), 1000u) << "the demo run changes more records than are listed";
  EXPECT_EQ(listed, 1000u);
  EXPECT_NE(
      html.find("the first 1000 listed, " + std::to_string(diff.records.size() - 1000) + " more"),
      std::string::npos);
  // Self-contained: nothing is fetched, nothing runs.
  for (const char* outside : {"<script", "src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  }
  for (const char* chart : {"applied-per-column", "documents-per-month", "time-per-phase"}) {
    EXPECT_NE(html.find(std::string("id=\"") + chart + "\""), std::string::npos) << chart;
  }
}

TEST_F(RunSummary, ASecondRunCountsEveryDocumentAsAlreadyApplied) {
  Outcome first = Run(root_.File("first.html"));
  ASSERT_EQ(first.status, 0) << first.out;
  Outcome second = Run(root_.File("second.html"));
  ASSERT_EQ(second.status, 0) << second.out;
  std::map<std::string, std::string> one = SummaryValues(first.summary);
  std::map<std::string, std::string> two = SummaryValues(second.summary);
  EXPECT_GT(Int(one, "documents applied"), 0);
  EXPECT_EQ(Int(two, "documents applied"), 0);
  EXPECT_EQ(Int(two, "application records written"), 0);
  EXPECT_EQ(Int(two, "documents skipped already applied"), Int(one, "documents applied"));
  EXPECT_EQ(Int(two, "documents skipped outside the range"),
            Int(one, "documents skipped outside the range"));
  EXPECT_EQ(Int(two, "transaction types changed"), 0);
  EXPECT_EQ(Int(two, "payers assigned G"), 0);
}

TEST_F(RunSummary, ANarrowRangeCountsTheDocumentsItLeavesOut) {
  Outcome wide = Rivenoak({"run", practice_, "--quiet", "--no-adjust", "--from", "01/01/2004",
                           "--to", "12/31/2004", "--who-paid", presses_});
  ASSERT_EQ(wide.status, 0) << wide.out;
  fs::remove_all(practice_);
  fs::copy(before_, practice_, fs::copy_options::recursive);
  Outcome day = Rivenoak({"run", practice_, "--quiet", "--no-adjust", "--who-paid", presses_});
  ASSERT_EQ(day.status, 0) << day.out;
  std::map<std::string, std::string> all = SummaryValues(wide.summary);
  std::map<std::string, std::string> one = SummaryValues(day.summary);
  EXPECT_EQ(Int(all, "documents skipped outside the range"), 0);
  EXPECT_GT(Int(one, "documents skipped outside the range"), 0);
  EXPECT_LT(Int(one, "documents applied"), Int(all, "documents applied"));
}

TEST_F(RunSummary, ADryRunsReportNamesThePracticeAndSaysItWasNotChanged) {
  std::string report = root_.File("dry.html");
  Outcome o = Run(report, {"--dry-run"});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_TRUE(testing::Differences(before_, practice_).empty());
  std::string html = ReadFile(report);
  std::string folder = fs::absolute(practice_).lexically_normal().string();
  EXPECT_NE(html.find("<h1>Rivenoak dry run: Practice1</h1>\n<p class=\"muted\">" + folder +
                      "</p>\n<p class=\"dry-run\">Dry run on a copy: "),
            std::string::npos)
      << html.substr(0, 2000);
  EXPECT_NE(html.find("the practice itself was not changed"), std::string::npos);
  EXPECT_EQ(html.find("rivenoak-dry-run"), std::string::npos) << "names the deleted copy";
  EXPECT_NE(html.find("<tr><th>Outcome</th><td>finished (dry run on a copy; the practice was not "
                      "changed)</td></tr>"),
            std::string::npos);
  // The records the run changed in the copy are listed as a real run's are.
  EXPECT_NE(html.find("records changed in the copy; the first 1000 listed"), std::string::npos);

  // A real run's page says nothing of a dry run.
  Outcome real = Run(report);
  ASSERT_EQ(real.status, 0) << real.out << real.err;
  html = ReadFile(report);
  EXPECT_NE(html.find("<h1>Rivenoak run: Practice1</h1>"), std::string::npos);
  EXPECT_EQ(html.find("ry run"), std::string::npos);
}

// Another program wrote the practice: a folder name that is no UTF-8 (a lone Windows-1252 byte,
// one it leaves undefined, an overlong form, a surrogate, a sequence cut short) with control
// characters and a noncharacter in it, a procedure code with control characters (the key of the
// code the run adds for it), a transaction type that is a NUL (a field the run changes).
TEST_F(RunSummary, TextsOtherProgramsWroteReachThePageAsValidText) {
  std::string hostile = root_.File(
      "Caf\xE9 \x01\x81\xC0\x80<b>\xED\xA0\x80\xEF\xBF\xBE\xC2\x85\xF0\x9F\x98\x80\xE2\x82");
  fs::rename(practice_, hostile);
  practice_ = hostile;
  RunSql(practice_ + "/MWTRN.ADT",
         "UPDATE records SET \"Procedure Code\"=CAST(X'4B01E97F3C62' AS TEXT) WHERE _recno=1");
  RunSql(practice_ + "/MWTRN.ADT",
         "UPDATE records SET \"Transaction Type\"=CAST(X'00' AS TEXT) WHERE _recno=2");
  std::string report = root_.File("report.html");
  Outcome o = Run(report);
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  std::string html = ReadFile(report);
  ExpectOnlyTextCharacters(html);
  // A byte that is no UTF-8 is read as Windows-1252, as the engine reads the tables' texts; a
  // control character (one of the five bytes that code page leaves undefined among them) and a
  // noncharacter show as U+FFFD; the HTML escaping holds.
  EXPECT_NE(html.find("<h1>Rivenoak run: Caf\u00E9 \uFFFD\uFFFD\u00C0\u20AC&lt;b&gt;"
                      "\u00ED\u00A0\u20AC\uFFFD\uFFFD\U0001F600\u00E2\u201A</h1>"),
            std::string::npos)
      << html.substr(0, 2000);
  EXPECT_NE(html.find("<td>K\uFFFD\u00E9\uFFFD&lt;b</td><td>added</td>"), std::string::npos);
  EXPECT_NE(html.find("Transaction Type: \uFFFD \u2192 "), std::string::npos);
}

TEST_F(RunSummary, AReportThatCannotBeWrittenIsRefusedBeforeTheRun) {
  Outcome o = Run(root_.File("no-such-folder/report.html"));
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("no-such-folder is missing"), std::string::npos) << o.err;
  // The run did not begin.
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(o.summary.empty());
}

}  // namespace
}  // namespace app
