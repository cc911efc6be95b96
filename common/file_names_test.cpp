// Names from a practice list or a manifest, as an attacker who can write those files would give
// them: none may leave its folder, two may not meet in one file, and none may forge a line.
#include "common/file_names.h"

#include <gtest/gtest.h>

namespace common {
namespace {

TEST(FileNames, OnlyOnePlainComponentIsAFileName) {
  for (const char* name : {"MWTRN.ADT", "Convert.log", "a b", ".hidden", "x..y"}) {
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  }
  for (const char* name : {"", ".", "..", "../x", "a/b", "/etc/passwd", "a\\b", "..\\x", "a\nb",
                           "a\rb", "a\x7f", "tab\there"}) {
    EXPECT_FALSE(IsPlainFileName(name)) << name;
  }
  EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
  EXPECT_FALSE(IsPlainFileName(std::string(256, 'a')));
}

TEST(FileNames, ADatasetNameBecomesAPlainFileNameThatStaysInItsFolder) {
  EXPECT_EQ(SafeFileName("Demo Practice 1"), "Demo Practice 1");
  EXPECT_EQ(SafeFileName("O'Brien & Sons, (East)"), "O'Brien & Sons, (East)");
  EXPECT_EQ(SafeFileName("Smith/Jones"), "Smith_Jones");
  EXPECT_EQ(SafeFileName("../../escaped-backup"), "_.._escaped-backup");
  EXPECT_EQ(SafeFileName("x/../../../escaped-report"), "x_.._.._.._escaped-report");
  EXPECT_EQ(SafeFileName("C:\\Windows"), "C__Windows");
  EXPECT_EQ(SafeFileName("Demo\npractice: forged"), "Demo_practice_ forged");
  EXPECT_EQ(SafeFileName(".."), "practice");
  EXPECT_EQ(SafeFileName(""), "practice");
  EXPECT_EQ(SafeFileName(" .profile. "), "profile");
  EXPECT_EQ(SafeFileName("nul"), "_nul");
  EXPECT_EQ(SafeFileName("Com3.txt"), "_Com3.txt");
  EXPECT_EQ(SafeFileName("Console"), "Console");
  // Only ASCII: no half of a UTF-8 character at the cut, no letter a share folds its own way.
  EXPECT_EQ(SafeFileName("Caf\xe9"), "Caf_");
  EXPECT_EQ(SafeFileName("Caf\xc3\xa9"), "Caf__");
  EXPECT_EQ(SafeFileName(std::string(99, 'a') + "\xc3\xa9"), std::string(99, 'a') + "_");
  EXPECT_EQ(SafeFileName(std::string(300, 'a')).size(), 100u);
  for (const char* name : {"../../x", "a/b/../..", "\x01\x02", "....", "a\\..\\..\\b"}) {
    std::string safe = SafeFileName(name);
    EXPECT_TRUE(IsPlainFileName(safe)) << name;
    EXPECT_NE(safe.front(), '.') << name;
  }
}

TEST(FileNames, NamesOfOneListNeverShareAFile) {
  EXPECT_EQ(SafeFileNames({"Dup", "Dup", "dup", "Dup-2", "a/b", "a_b"}),
            (std::vector<std::string>{"Dup", "Dup-2", "dup-3", "Dup-2-2", "a_b", "a_b-2"}));
  EXPECT_EQ(SafeFileNames({"\xc3\x89"
                           "cole",
                           "\xc3\xa9"
                           "cole"}),
            (std::vector<std::string>{"__cole", "__cole-2"}));
}

TEST(FileNames, ControlCharactersArePrintedEscaped) {
  EXPECT_EQ(EscapeControlCharacters("Demo Practice 1"), "Demo Practice 1");
  EXPECT_EQ(EscapeControlCharacters("x\npractice: Demo: finished"), "x\\npractice: Demo: finished");
  EXPECT_EQ(EscapeControlCharacters(std::string("a\0b\r\t\\\x1b\x7f", 8)),
            "a\\x00b\\r\\t\\\\\\x1B\\x7F");
  EXPECT_EQ(EscapeControlCharacters("Caf\xe9"), "Caf\xe9");
}

}  // namespace
}  // namespace common
