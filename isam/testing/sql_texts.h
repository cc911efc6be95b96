// Texts the SQL tests share: the program's two statements, line by line as the program holds
// them, and small helpers for writing texts compactly. Header only, so that the sanitised parser
// test can use it without the engine.
#ifndef RIVENOAK_ISAM_TESTING_SQL_TEXTS_H_
#define RIVENOAK_ISAM_TESTING_SQL_TEXTS_H_

#include <string>
#include <vector>

namespace isam::testing {

inline const std::vector<std::string> kTrnDocQueryLines = {
    "Select Distinct",
    " \"Chart Number\",",
    " \"Document Number\"",
    "From \"MWTRN.ADT\"",
    "Where ",
    " (\"Date Created\" >= :\"bConvDate\") and",
    " (\"Date Created\" <= :\"eConvDate\")"};

inline const std::vector<std::string> kWhoPaidQueryLines = {"Select ",
                                                            " \"Entry Number\",",
                                                            " \"Transaction Type\",",
                                                            " \"Procedure Code\",",
                                                            " \"Who Paid\"",
                                                            "From \"MWTRN.ADT\"",
                                                            "Where",
                                                            " (\"Transaction Type\" >= 'I') and",
                                                            " (\"Transaction Type\" <= 'O') and",
                                                            " (\"Who Paid\" IS NULL)",
                                                            "Order By \"Procedure Code\""};

// Lines joined with line breaks, as a query's text is.
inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return out;
}

inline const std::string kTrnDocQuery = JoinLines(kTrnDocQueryLines);
inline const std::string kWhoPaidQuery = JoinLines(kWhoPaidQueryLines);

// The pieces of a list written as one text, separated by '|'.
inline std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == '|')
      out.emplace_back();
    else
      out.back().push_back(c);
  }
  return out;
}

}  // namespace isam::testing

#endif  // RIVENOAK_ISAM_TESTING_SQL_TEXTS_H_
