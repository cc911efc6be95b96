#include "app/practice/run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "common/text.h"
#include "conversion/who_paid.h"
#include "isam/codepage.h"

namespace app {

void ChangedRecords::Take(const FieldChange& change) {
  bool same_record = change.table == last_table_ && change.recno == last_recno_;
  if (!same_record) {
    ++total_;
    last_table_ = change.table;
    last_recno_ = change.recno;
    if (kept_.size() < limit_) {
      ChangedRecord record{change.table, change.recno, change.key, "changed", {}};
      if (change.field.empty()) record.change = change.new_text;
      kept_.push_back(record);
    } else {
      return;
    }
  } else if (kept_.empty() || kept_.back().table != change.table ||
             kept_.back().recno != change.recno) {
    return;  // a record past the limit
  }
  if (!change.field.empty()) kept_.back().fields.push_back(change);
}

namespace {

// Appends what the page shows for one character, `encoded` being its UTF-8. Tab and line feed are
// the only control characters HTML allows in text; every other control character and every
// noncharacter is shown as U+FFFD, which any font draws (the Control Pictures that would name the
// character are missing from common fonts, DejaVu's among them, and came out as empty boxes). The
// exact bytes are in `rivenoak diff`'s CSV.
void AppendShown(uint32_t code_point, std::string_view encoded, std::string& out) {
  bool control = (code_point < 0x20 && code_point != '\t' && code_point != '\n') ||
                 (code_point >= 0x7F && code_point < 0xA0);
  bool noncharacter =
      (code_point >= 0xFDD0 && code_point <= 0xFDEF) || (code_point & 0xFFFE) == 0xFFFE;
  if (control || noncharacter) {
    out += "\uFFFD";
  } else {
    out += encoded;
  }
}

// `text` as the page may hold it: valid UTF-8 with no control character but tab and line feed.
// Texts come from tables, folder names and messages that other programs may have written. A byte
// that starts no well-formed UTF-8 sequence is read as Windows-1252, as the engine reads such
// bytes in the tables' texts (isam/codepage.h), so that the page shows what the run itself saw;
// Windows-1252's five undefined bytes come out as C1 controls and so as U+FFFD.
std::string PageText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code_point = 0;
    size_t length = common::Utf8Sequence(text.substr(i), &code_point);
    if (length > 0) {
      AppendShown(code_point, text.substr(i, length), out);
      i += length;
    } else {
      std::string decoded = isam::Utf8FromAnsi(std::string(1, text[i]));
      common::Utf8Sequence(decoded, &code_point);
      AppendShown(code_point, decoded, out);
      ++i;
    }
  }
  return out;
}

// `text` made safe for the page (PageText), then escaped for HTML text and attribute values.
std::string Escaped(const std::string& raw) {
  std::string text = PageText(raw);
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

struct Bar {
  std::string label;
  double value = 0;
  std::string value_text;
};

// A horizontal bar chart as inline SVG: one row per bar, its label on the left, the bar scaled
// to the largest value, the value's text after it. Every bar is drawn, a zero one with no width.
std::string BarChart(const std::string& id, const std::string& title,
                     const std::vector<Bar>& bars) {
  constexpr int kLabelWidth = 190, kBarSpace = 360, kRow = 24, kTop = 30, kWidth = 640;
  double largest = 0;
  for (const Bar& bar : bars) largest = std::max(largest, std::abs(bar.value));
  int height = kTop + kRow * static_cast<int>(bars.size()) + 10;
  std::string svg = "<figure><svg class=\"chart\" id=\"" + id +
                    "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
                    "\" height=\"" + std::to_string(height) + "\" role=\"img\" aria-label=\"" +
                    Escaped(title) + "\">";
  svg += "<text class=\"title\" x=\"0\" y=\"18\">" + Escaped(title) + "</text>";
  int y = kTop;
  for (const Bar& bar : bars) {
    double width = largest > 0 ? kBarSpace * std::abs(bar.value) / largest : 0;
    svg += "<text class=\"label\" x=\"" + std::to_string(kLabelWidth - 8) + "\" y=\"" +
           std::to_string(y + 16) + "\" text-anchor=\"end\">" + Escaped(bar.label) + "</text>";
    svg += "<rect class=\"bar\" x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
           std::to_string(y + 4) + "\" width=\"" + Number(width, 1) + "\" height=\"" +
           std::to_string(kRow - 8) + "\"><title>" + Escaped(bar.label + ": " + bar.value_text) +
           "</title></rect>";
    svg += "<text class=\"value\" x=\"" + Number(kLabelWidth + width + 6, 1) + "\" y=\"" +
           std::to_string(y + 16) + "\">" + Escaped(bar.value_text) + "</text>";
    y += kRow;
  }
  return svg + "</svg></figure>\n";
}

std::string Row(const std::string& name, const std::string& value) {
  return "<tr><th>" + Escaped(name) + "</th><td>" + Escaped(value) + "</td></tr>\n";
}

constexpr const char* kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 24px; color: #1c2430; }
h1 { font-size: 22px; margin-bottom: 4px; }
h2 { font-size: 17px; margin-top: 28px; border-bottom: 1px solid #c8d0da; }
table { border-collapse: collapse; font-size: 13px; }
th, td { text-align: left; padding: 3px 10px 3px 0; vertical-align: top; }
table.summary td { text-align: right; font-variant-numeric: tabular-nums; }
table.changes td, table.changes th { border-bottom: 1px solid #e4e8ee; padding-right: 14px; }
.columns { display: flex; flex-wrap: wrap; gap: 0 48px; }
.charts { display: flex; flex-wrap: wrap; gap: 12px 32px; }
figure { margin: 0; }
svg.chart text { font-size: 12px; fill: #1c2430; }
svg.chart text.title { font-size: 14px; font-weight: bold; }
svg.chart rect.bar { fill: #3b6ea5; }
.muted { color: #5a6472; }
.dry-run { font-weight: bold; padding: 6px 10px; background: #fff4d6; border: 1px solid #e0b84a; }
)";

// What a dry run's page says at its top, and after its outcome.
constexpr const char* kDryRunNotice =
    "Dry run on a copy: the run worked on a temporary copy of the practice, deleted after the "
    "run; the practice itself was not changed.";
constexpr const char* kDryRunOutcome = " (dry run on a copy; the practice was not changed)";

}  // namespace

void WriteRunReport(const RunRecord& run, const ChangedRecords& changes, std::ostream& out) {
  std::string heading = (run.dry_run ? "Rivenoak dry run: " : "Rivenoak run: ") + run.practice;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'\">\n"
      << "<title>" << Escaped(heading) << "</title>\n<style>" << kStyle
      << "</style>\n</head>\n<body>\n";
  out << "<h1>" << Escaped(heading) << "</h1>\n";
  out << "<p class=\"muted\">" << Escaped(run.data_path) << "</p>\n";
  if (run.dry_run) {
    out << "<p class=\"dry-run\">" << Escaped(kDryRunNotice) << "</p>\n";
  }

  out << "<div class=\"columns\">\n<section><h2>Run</h2>\n<table class=\"run\">\n";
  out << Row("Outcome", run.dry_run ? run.outcome + kDryRunOutcome : run.outcome);
  out << Row("Range", run.date_from + " to " + run.date_to);
  out << Row("Started", run.started);
  out << Row("Took", Number(run.seconds, 2) + " s");
  for (const PhaseTime& phase : run.phases) out << Row(phase.name, Number(phase.seconds, 2) + " s");
  out << "</table></section>\n<section><h2>Options</h2>\n<table class=\"options\">\n";
  for (const auto& [name, value] : run.options) out << Row(name, value);
  out << "</table></section>\n</div>\n";

  out << "<h2>Charts</h2>\n<div class=\"charts\">\n";
  std::vector<Bar> columns;
  for (const char* column : conversion::kAmountColumns) {
    auto found = run.counts.applied.find(column);
    data::Money amount = found == run.counts.applied.end() ? data::Money() : found->second;
    columns.push_back({column, amount.ToDouble(), amount.ToString()});
  }
  out << BarChart("applied-per-column", "Amount applied per payer column", columns);
  std::vector<Bar> months;
  for (const auto& [month, documents] : run.counts.documents_per_month) {
    months.push_back({month, static_cast<double>(documents), std::to_string(documents)});
  }
  if (months.empty()) months.push_back({"none", 0, "0"});
  out << BarChart("documents-per-month", "Documents applied per month of \"Date Created\"", months);
  std::vector<Bar> phases;
  for (const PhaseTime& phase : run.phases) {
    phases.push_back({phase.name, phase.seconds, Number(phase.seconds, 2) + " s"});
  }
  if (phases.empty()) phases.push_back({"no phase ran", 0, "0.00 s"});
  out << BarChart("time-per-phase", "Time per phase", phases);
  out << "</div>\n";

  out << "<h2>Summary</h2>\n<table class=\"summary\">\n";
  for (const auto& [name, value] : conversion::SummaryOf(run.counts)) out << Row(name, value);
  out << "</table>\n";

  out << "<h2>Changed records</h2>\n";
  long long rest = changes.Total() - static_cast<long long>(changes.Kept().size());
  out << "<p class=\"count\">" << changes.Total() << " records changed";
  if (run.dry_run) out << " in the copy";
  if (rest > 0) out << "; the first " << changes.Kept().size() << " listed, " << rest << " more";
  out << ".</p>\n";
  if (!changes.Kept().empty()) {
    out << "<table class=\"changes\">\n<tr><th>table</th><th>record</th><th>key</th>"
           "<th>change</th><th>fields</th></tr>\n";
    for (const ChangedRecord& record : changes.Kept()) {
      std::string fields;
      for (const FieldChange& field : record.fields) {
        if (!fields.empty()) fields += "; ";
        fields += field.field + ": " + field.old_text + " \u2192 " + field.new_text;
      }
      out << "<tr class=\"changed\"><td>" << Escaped(record.table) << "</td><td>" << record.recno
          << "</td><td>" << Escaped(record.key) << "</td><td>" << Escaped(record.change)
          << "</td><td>" << Escaped(fields) << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  out << "</body>\n</html>\n";
}

}  // namespace app
