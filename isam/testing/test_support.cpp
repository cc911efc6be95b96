#include "isam/testing/test_support.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "isam/folder_filesystem.h"
#include "isam/registry.h"

namespace isam::testing {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "rivenoak-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  path_ = buf.data();
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string LastErrorText() {
  uint32_t code = 0;
  char text[600];
  uint16_t len = sizeof text;
  IsamGetLastError(&code, text, &len);
  return std::to_string(code) + " " + std::string(text, len);
}

namespace {

void WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n > 0) text.append(buf, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  return text;
}

}  // namespace

std::string InChildProcess(const std::function<std::string()>& body, unsigned seconds) {
  int channel[2];
  if (pipe(channel) != 0) {
    ADD_FAILURE() << "no pipe to a child process";
    return "";
  }
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    alarm(seconds);
    try {
      WriteAll(channel[1], body());
    } catch (...) {
      WriteAll(channel[1], "(an exception left the call)");
    }
    _exit(0);
  }
  close(channel[1]);
  std::string text = child > 0 ? ReadAll(channel[0]) : "";
  close(channel[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    ADD_FAILURE() << "no child process";
  } else if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "the call did not return ("
                  << (WTERMSIG(status) == SIGALRM ? "blocked" : "ended by a signal") << ")";
  }
  return text;
}

void CreateTable(const std::string& path, const std::vector<std::string>& fields,
                 const std::vector<std::string>& indexes) {
  std::vector<const char*> f, i;
  for (const auto& s : fields) f.push_back(s.c_str());
  for (const auto& s : indexes) i.push_back(s.c_str());
  IsamResult rc = IsamCreateTable(path.c_str(), static_cast<uint16_t>(f.size()), f.data(),
                                  static_cast<uint16_t>(i.size()), i.data());
  ASSERT_EQ(rc, 0u) << LastErrorText();
}

void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << text;
}

const JournalMode kJournalModes[2] = {JournalMode::kRollback, JournalMode::kWal};

std::string JournalModeName(JournalMode mode) {
  return mode == JournalMode::kWal ? "Wal" : "Rollback";
}

std::string JournalModeTestName(const ::testing::TestParamInfo<JournalMode>& info) {
  return JournalModeName(info.param);
}

namespace {

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// The statements that give a new file the layout's marks and the journal mode.
std::string MarksAndMode(JournalMode mode) {
  return std::string("PRAGMA application_id = 1230193997; PRAGMA user_version = 1; ") +
         (mode == JournalMode::kWal ? "PRAGMA journal_mode = WAL;"
                                    : "PRAGMA journal_mode = DELETE;");
}

}  // namespace

void WriteTableFile(const std::string& path, const std::vector<std::string>& fields,
                    const std::vector<std::string>& indexes, JournalMode mode) {
  std::string sql = MarksAndMode(mode) + " CREATE TABLE records (\"_recno\" INTEGER PRIMARY KEY";
  for (const std::string& field : fields) {
    size_t space = field.find_last_of(' ');
    ASSERT_NE(space, std::string::npos) << field;
    sql += ", " + QuoteName(field.substr(0, space)) + " " + field.substr(space + 1);
  }
  sql += ");";
  for (const std::string& index : indexes) {
    size_t equals = index.find('=');
    ASSERT_NE(equals, std::string::npos) << index;
    std::string keys, rest = index.substr(equals + 1);
    for (size_t start = 0; start <= rest.size();) {
      size_t end = std::min(rest.find(';', start), rest.size());
      keys += (keys.empty() ? "" : ", ") + QuoteName(rest.substr(start, end - start));
      start = end + 1;
    }
    sql += " CREATE INDEX " + QuoteName(index.substr(0, equals)) + " ON records (" + keys + ");";
  }
  RunSql(path, sql);
}

void RewriteTableFile(const std::string& source, const std::string& target, JournalMode mode) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  std::string schema;
  sqlite3_prepare_v2(db,
                     "SELECT sql FROM sqlite_schema WHERE sql IS NOT NULL "
                     "ORDER BY type = 'index', rowid",
                     -1, &stmt, nullptr);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    schema += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    schema += ";\n";
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  ASSERT_FALSE(schema.empty()) << source;
  std::string from = "'";
  for (char c : source) from += c == '\'' ? std::string("''") : std::string(1, c);
  from += "'";
  RunSql(target, MarksAndMode(mode) + schema + " ATTACH DATABASE " + from +
                     " AS source; INSERT INTO main.records SELECT * FROM source.records;");
}

ReadingProgram::ReadingProgram(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK ||
      sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM records;", nullptr, nullptr, nullptr) !=
          SQLITE_OK) {
    ADD_FAILURE() << "another program cannot read " << path << ": " << sqlite3_errmsg(db_);
  }
}

ReadingProgram::~ReadingProgram() {
  End();
}

void ReadingProgram::End() {
  if (!db_) return;
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
  db_ = nullptr;
}

ScopedConnection::ScopedConnection(const std::string& folder) {
  IsamResult rc = IsamConnect(folder.c_str(), &handle_);
  EXPECT_EQ(rc, 0u) << LastErrorText();
}

ScopedConnection::~ScopedConnection() {
  if (handle_) IsamDisconnect(handle_);
}

IsamHandle ScopedConnection::Open(const std::string& name, uint32_t open_mode) {
  IsamHandle table = 0;
  IsamResult rc =
      IsamOpenTable(handle_, name.c_str(), nullptr, ISAM_TABLE_TYPE_NATIVE, ISAM_CHAR_ANSI,
                    ISAM_LOCK_PROPRIETARY, ISAM_RIGHTS_CHECK, open_mode, &table);
  EXPECT_EQ(rc, 0u) << "open " << name << ": " << LastErrorText();
  return table;
}

std::string FieldText(IsamHandle order, uint16_t field) {
  char buf[4096];
  uint32_t len = sizeof buf;
  IsamResult rc = IsamGetField(order, field, buf, &len);
  EXPECT_EQ(rc, 0u) << LastErrorText();
  return rc ? std::string() : std::string(buf, len);
}

uint16_t FieldNumber(IsamHandle table, const std::string& name) {
  uint16_t field = 0;
  IsamResult rc = IsamGetFieldNum(table, name.c_str(), &field);
  EXPECT_EQ(rc, 0u) << LastErrorText();
  return field;
}

int64_t RecordNumber(IsamHandle order) {
  int64_t recno = 0;
  IsamResult rc = IsamGetRecordNum(order, ISAM_RECORD_NUMBER_PHYSICAL, &recno);
  EXPECT_EQ(rc, 0u) << LastErrorText();
  return recno;
}

std::vector<uint8_t> RecordImageOf(IsamHandle order) {
  uint32_t length = 0;
  EXPECT_EQ(IsamGetRecordLength(order, &length), 0u);
  std::vector<uint8_t> image(length);
  EXPECT_EQ(IsamGetRecord(order, image.data(), &length), 0u) << LastErrorText();
  return image;
}

bool AtEof(IsamHandle order) {
  uint16_t v = 0;
  EXPECT_EQ(IsamAtEOF(order, &v), 0u);
  return v != 0;
}

bool AtBof(IsamHandle order) {
  uint16_t v = 0;
  EXPECT_EQ(IsamAtBOF(order, &v), 0u);
  return v != 0;
}

std::vector<int64_t> WalkForward(IsamHandle order) {
  std::vector<int64_t> out;
  EXPECT_EQ(IsamGotoTop(order), 0u) << LastErrorText();
  while (!AtEof(order) && out.size() < 1000000) {
    out.push_back(RecordNumber(order));
    EXPECT_EQ(IsamSkip(order, 1), 0u) << LastErrorText();
  }
  return out;
}

std::vector<int64_t> WalkBackward(IsamHandle order) {
  std::vector<int64_t> out;
  EXPECT_EQ(IsamGotoBottom(order), 0u) << LastErrorText();
  if (AtEof(order)) return out;
  while (out.size() < 1000000) {
    out.push_back(RecordNumber(order));
    EXPECT_EQ(IsamSkip(order, -1), 0u) << LastErrorText();
    if (AtBof(order)) break;
  }
  return out;
}

std::vector<uint8_t> TextKey(IsamHandle index, const std::vector<std::string>& values) {
  EXPECT_EQ(IsamInitRawKey(index), 0u) << LastErrorText();
  for (size_t i = 0; i < values.size(); ++i) {
    char name[256];
    uint16_t len = sizeof name;
    EXPECT_EQ(IsamGetSegmentFieldname(index, static_cast<uint16_t>(i + 1), name, &len), 0u);
    uint16_t field = 0;
    EXPECT_EQ(IsamGetFieldNum(index, name, &field), 0u) << LastErrorText();
    EXPECT_EQ(IsamSetField(index, field, values[i].c_str()), 0u) << LastErrorText();
  }
  std::vector<uint8_t> key(1024);
  uint16_t length = static_cast<uint16_t>(key.size());
  EXPECT_EQ(IsamBuildRawKey(index, key.data(), &length), 0u) << LastErrorText();
  key.resize(length);
  return key;
}

void WriteFields(IsamHandle table, const std::vector<std::pair<std::string, std::string>>& values,
                 bool append) {
  if (append) {
    ASSERT_EQ(IsamAppendRecord(table), 0u) << LastErrorText();
  }
  for (const auto& [name, text] : values) {
    ASSERT_EQ(IsamSetField(table, FieldNumber(table, name), text.c_str()), 0u)
        << name << "=" << text << ": " << LastErrorText();
  }
  ASSERT_EQ(IsamWriteRecord(table), 0u) << LastErrorText();
}

namespace {

// Answers as a computer would whose root is on a local disk and `folder` is mounted from a server.
class NetworkFolderProbe : public FilesystemProbe {
 public:
  NetworkFolderProbe(const std::string& folder, const std::string& type, const std::string& options)
      : mount_info_(
            "1 0 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
            "2 1 0:99 / " +
            SystemFilesystemProbe().RealPath(folder) + " rw,relatime - " + type +
            " server:/practice " + options + "\n") {}
  // Unknown to statfs: the mount table decides, as for any filesystem not known by number.
  std::optional<uint64_t> Magic(const std::string&) const override { return std::nullopt; }
  std::string MountInfo() const override { return mount_info_; }
  std::string RealPath(const std::string& folder) const override {
    return SystemFilesystemProbe().RealPath(folder);
  }

 private:
  std::string mount_info_;
};

}  // namespace

FakeNetworkFolder::FakeNetworkFolder(const std::string& folder, const std::string& type,
                                     const std::string& options) {
  std::lock_guard<std::recursive_mutex> lock(Registry::Get().mutex());
  Registry::Get().set_filesystem_probe(std::make_shared<NetworkFolderProbe>(folder, type, options));
}

FakeNetworkFolder::~FakeNetworkFolder() {
  std::lock_guard<std::recursive_mutex> lock(Registry::Get().mutex());
  Registry::Get().set_filesystem_probe(nullptr);
}

}  // namespace isam::testing
