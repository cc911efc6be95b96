// The files of a backup: checksums, durable copies and texts, and the manifest (see the header).
#include "app/practice/backup_files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>

#include "app/practice/practice_data_error.h"
#include "common/file_entries.h"
#include "common/file_names.h"

namespace app::backup_files {

namespace fs = std::filesystem;

// Opened without waiting: opening a FIFO for reading would otherwise wait for a writer that never
// comes. On a plain file the flag changes nothing.
Fd::Fd(const std::string& path, int flags)
    : fd_(::open(path.c_str(), flags | O_CLOEXEC | ((flags & O_DIRECTORY) ? 0 : O_NONBLOCK),
                 0666)) {
  if (fd_.get() < 0) {
    throw PracticeDataError("Cannot open " + path + ": " + std::strerror(errno));
  }
  if (flags & O_DIRECTORY) return;
  struct stat st {};
  std::string kind =
      ::fstat(fd_.get(), &st) == 0 ? common::NonPlainKind(st.st_mode) : "no file to be read";
  if (!kind.empty()) {
    throw PracticeDataError("Cannot open " + path + ": it is " + kind + ", not a plain file");
  }
}

namespace {

void WriteAll(const Fd& out, const unsigned char* bytes, size_t size, const std::string& path) {
  for (size_t done = 0; done < size;) {
    ssize_t put = ::write(out.get(), bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) throw PracticeDataError("Cannot write " + path + ": " + std::strerror(errno));
    done += static_cast<size_t>(put);
  }
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The first of `names` that is `name` in some letter case; empty when none is.
std::string SameNameIn(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& other : names) {
    if (strcasecmp(other.c_str(), name.c_str()) == 0) return other;
  }
  return "";
}

// The first name of `names` listed again, in the words of ListedNamesFault; empty when none is.
std::string TwiceListed(const std::string& list, const std::string& kind,
                        const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    std::vector<std::string> earlier(names.begin(), names.begin() + static_cast<long>(i));
    std::string first = SameNameIn(earlier, names[i]);
    if (first.empty()) continue;
    std::string text =
        list + " lists the " + kind + " " + common::EscapeControlCharacters(first) + " twice";
    if (first != names[i]) text += " (also as " + common::EscapeControlCharacters(names[i]) + ")";
    return text;
  }
  return "";
}

}  // namespace

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool IsLink(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

std::string Join(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

bool IsWorkFile(const std::string& name) {
  for (const char* end : {"-journal", "-wal", "-shm", ".lck"}) {
    if (EndsWith(name, end)) return true;
  }
  size_t mj = name.rfind("-mj");
  return mj != std::string::npos && mj + 3 < name.size() &&
         name.find_first_not_of("0123456789ABCDEFabcdef", mj + 3) == std::string::npos;
}

bool IsReservedName(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.rfind(".rivenoak-", 0) == 0 || strcasecmp(name.c_str(), kManifestName) == 0 ||
         IsWorkFile(lower);
}

std::string ListedNamesFault(const std::string& list, const std::vector<std::string>& tables,
                             const std::vector<std::string>& logs) {
  for (const std::string& name : tables) {
    std::string shown = common::EscapeControlCharacters(name);
    if (!common::IsPlainFileName(name)) {
      return list + " names the table " + shown + ", which is no plain file name";
    }
    if (IsReservedName(name)) {
      return list + " names the table " + shown +
             ", a name this program keeps for its own files; no table has it";
    }
    if (strcasecmp(name.c_str(), kConvertLog) == 0) {
      return list + " names the table " + shown + ", which is no table's name";
    }
  }
  for (const std::string& name : logs) {
    if (strcasecmp(name.c_str(), kConvertLog) != 0) {
      return list + " names " + common::EscapeControlCharacters(name) + " as the " + kConvertLog;
    }
  }
  std::string twice = TwiceListed(list, "table", tables);
  return twice.empty() ? TwiceListed(list, "log", logs) : twice;
}

uint32_t Crc32Update(uint32_t crc, const unsigned char* bytes, size_t size) {
  static const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kTable[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
  return ~crc;
}

void Sync(const std::string& path, bool folder) {
  Fd fd(path, folder ? O_RDONLY | O_DIRECTORY : O_RDONLY | O_NOFOLLOW);
  if (::fsync(fd.get()) != 0) {
    throw PracticeDataError("Cannot write " + path + " to the disk: " + std::strerror(errno));
  }
}

FileSum SumFile(const std::string& from, const std::string& to) {
  Fd in(from, O_RDONLY | O_NOFOLLOW);
  std::unique_ptr<Fd> out;
  if (!to.empty()) out = std::make_unique<Fd>(to, O_WRONLY | O_CREAT | O_EXCL);
  FileSum sum;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw PracticeDataError("Cannot read " + from + ": " + std::strerror(errno));
    if (got == 0) break;
    sum.crc = Crc32Update(sum.crc, buffer.data(), static_cast<size_t>(got));
    sum.size += static_cast<uint64_t>(got);
    if (out) WriteAll(*out, buffer.data(), static_cast<size_t>(got), to);
  }
  if (out && ::fsync(out->get()) != 0) {
    throw PracticeDataError("Cannot write " + to + " to the disk: " + std::strerror(errno));
  }
  return sum;
}

std::string ReadText(const std::string& path) {
  Fd in(path, O_RDONLY | O_NOFOLLOW);
  std::string text;
  std::array<char, 4096> buffer;
  for (;;) {
    ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw PracticeDataError("Cannot read " + path + ": " + std::strerror(errno));
    if (got == 0) return text;
    text.append(buffer.data(), static_cast<size_t>(got));
  }
}

void WriteWhole(const std::string& path, const std::string& text) {
  std::string temporary = path + ".new";
  ::unlink(temporary.c_str());
  {
    Fd out(temporary, O_WRONLY | O_CREAT | O_EXCL);
    WriteAll(out, reinterpret_cast<const unsigned char*>(text.data()), text.size(), temporary);
  }
  Sync(temporary, false);
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) throw PracticeDataError("Cannot write " + path + ": " + ec.message());
  Sync(fs::path(path).parent_path().string(), true);
}

int64_t WriteTimeCount(const std::string& path) {
  return fs::last_write_time(path).time_since_epoch().count();
}

void SetWriteTime(const std::string& path, int64_t count) {
  fs::last_write_time(path, fs::file_time_type(fs::file_time_type::duration(count)));
}

// ---- the manifest of a backup ----

std::string ManifestText(const std::vector<ManifestEntry>& entries) {
  std::ostringstream text;
  text << kManifestFirstLine << "\n";
  for (const ManifestEntry& entry : entries) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", entry.sum.crc);
    text << (entry.table ? "table " : "log ") << crc << " " << entry.sum.size << " ";
    if (!entry.table) text << entry.write_time << " ";
    text << entry.name << "\n";
  }
  text << "end\n";
  return text.str();
}

std::vector<ManifestEntry> ReadManifest(const std::string& backup) {
  std::string path = Join(backup, kManifestName);
  auto refuse = [&](const std::string& why) -> PracticeDataError {
    return PracticeDataError("The folder " + backup + " is not a complete backup: " + why +
                             "; nothing was restored");
  };
  // Looked at before it is opened: a FIFO would hold the restore up for good.
  auto refuse_non_file = [&](const std::string& name) {
    std::string kind = common::NonPlainKindAt(Join(backup, name));
    if (!kind.empty()) throw refuse(name + " is " + kind + ", not a file of the backup");
  };
  if (!Exists(path)) {
    throw refuse(std::string(kManifestName) +
                 " is missing (a backup that was stopped before it was finished has none)");
  }
  refuse_non_file(kManifestName);
  std::istringstream in(ReadText(path));
  std::string line;
  if (!std::getline(in, line) || line != kManifestFirstLine) {
    throw refuse(std::string(kManifestName) + " is not a backup's manifest");
  }
  std::vector<ManifestEntry> entries;
  bool ended = false;
  while (std::getline(in, line)) {
    if (line == "end") {
      ended = true;
      break;
    }
    std::istringstream fields(line);
    ManifestEntry entry;
    std::string kind, crc;
    fields >> kind >> crc >> entry.sum.size;
    entry.table = kind == "table";
    if (!entry.table) fields >> entry.write_time;
    fields.get();
    std::getline(fields, entry.name);
    if (fields.fail() || (kind != "table" && kind != "log") || crc.size() != 8 ||
        entry.name.empty() || entry.name.find('/') != std::string::npos) {
      throw refuse(std::string(kManifestName) +
                   " has a broken line: " + common::EscapeControlCharacters(line));
    }
    entry.sum.crc = static_cast<uint32_t>(std::strtoul(crc.c_str(), nullptr, 16));
    entries.push_back(entry);
  }
  if (!ended) throw refuse(std::string(kManifestName) + " is cut short");
  std::vector<std::string> tables, logs;
  for (const ManifestEntry& entry : entries) (entry.table ? tables : logs).push_back(entry.name);
  std::string names = ListedNamesFault(kManifestName, tables, logs);
  if (!names.empty()) throw refuse(names);
  for (const ManifestEntry& entry : entries) {
    std::string file = Join(backup, entry.name);
    if (!Exists(file)) throw refuse(entry.name + " is missing");
    refuse_non_file(entry.name);
    if (SumFile(file) != entry.sum) {
      throw refuse(entry.name + " is not the file the backup wrote (its size or checksum differs)");
    }
  }
  if (std::none_of(entries.begin(), entries.end(), [](const auto& e) { return e.table; })) {
    throw refuse("it holds no tables");
  }
  return entries;
}

}  // namespace app::backup_files
