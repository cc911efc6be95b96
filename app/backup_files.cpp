// The files of a backup: checksums, durable copies and texts, and the manifest (see the header).
#include "app/backup_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "app/practice_copy.h"

namespace app::backup_files {

namespace fs = std::filesystem;

namespace {

// An open file descriptor, closed when it goes; a file that cannot be opened is refused by name.
class Fd {
 public:
  Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0666)) {
    if (fd_ < 0) {
      throw PracticeDataError("Cannot open " + path + ": " + std::strerror(errno));
    }
  }
  ~Fd() { ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string Join(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
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
  Fd fd(path, folder ? O_RDONLY | O_DIRECTORY : O_RDONLY);
  if (::fsync(fd.get()) != 0) {
    throw PracticeDataError("Cannot write " + path + " to the disk: " + std::strerror(errno));
  }
}

// The size and checksum of the file at `from`; with `to` given, the bytes are also copied there
// (a new file, on the disk when this returns).
FileSum SumFile(const std::string& from, const std::string& to) {
  Fd in(from, O_RDONLY);
  std::unique_ptr<Fd> out;
  if (!to.empty()) out = std::make_unique<Fd>(to, O_WRONLY | O_CREAT | O_TRUNC);
  FileSum sum;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw PracticeDataError("Cannot read " + from + ": " + std::strerror(errno));
    if (got == 0) break;
    sum.crc = Crc32Update(sum.crc, buffer.data(), static_cast<size_t>(got));
    sum.size += static_cast<uint64_t>(got);
    for (ssize_t done = 0; out && done < got;) {
      ssize_t put = ::write(out->get(), buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) throw PracticeDataError("Cannot write " + to + ": " + std::strerror(errno));
      done += put;
    }
  }
  if (out && ::fsync(out->get()) != 0) {
    throw PracticeDataError("Cannot write " + to + " to the disk: " + std::strerror(errno));
  }
  return sum;
}

// Writes `text` to `path` through a temporary file given the name last, on the disk when this
// returns: whoever reads `path` finds all of the text or no file.
void WriteWhole(const std::string& path, const std::string& text) {
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw PracticeDataError("Cannot write " + temporary);
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

// The entries of the manifest of `backup`, each checked against its file; throws naming what is
// missing or different.
std::vector<ManifestEntry> ReadManifest(const std::string& backup) {
  std::string path = Join(backup, kManifestName);
  std::ifstream in(path);
  auto refuse = [&](const std::string& why) -> PracticeDataError {
    return PracticeDataError("The folder " + backup + " is not a complete backup: " + why +
                             "; nothing was restored");
  };
  std::string line;
  if (!in || !std::getline(in, line) || line != kManifestFirstLine) {
    if (!Exists(path)) {
      throw refuse(std::string(kManifestName) +
                   " is missing (a backup that was stopped before it was finished has none)");
    }
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
      throw refuse(std::string(kManifestName) + " has a broken line: " + line);
    }
    entry.sum.crc = static_cast<uint32_t>(std::strtoul(crc.c_str(), nullptr, 16));
    entries.push_back(entry);
  }
  if (!ended) throw refuse(std::string(kManifestName) + " is cut short");
  for (const ManifestEntry& entry : entries) {
    std::string file = Join(backup, entry.name);
    if (!Exists(file)) throw refuse(entry.name + " is missing");
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
