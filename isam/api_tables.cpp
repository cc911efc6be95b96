// The engine's C interface, tables: opening a table (read-only, shared or exclusive; a table in a
// network folder opened for changes is this process's alone), checking that a table is free to
// change, closing it, and describing it: its name, record and bookmark lengths, fields and indexes.
#include <memory>
#include <string>

#include "isam/api_handles.h"
#include "isam/codepage.h"
#include "isam/file_lookup.h"
#include "isam/guard.h"
#include "isam/isam.h"

using namespace isam;

extern "C" {

IsamResult IsamOpenTable(IsamHandle connection, const char* name, const char*, uint16_t, uint16_t,
                         uint16_t, uint16_t, uint32_t open_mode, IsamHandle* table) {
  return Guard([&] {
    Need(name, "table name");
    Need(table, "output");
    Connection& conn = R().GetConnection(connection);
    std::string path = FindTableFile(conn.folder(), name);
    bool file_writable = IsWritableFile(path);
    bool read_only = (open_mode & ISAM_OPEN_READ_ONLY) != 0 || !file_writable;
    bool exclusive = (open_mode & ISAM_OPEN_EXCLUSIVE) != 0;
    // An exclusive open keeps every other handle out by itself.
    std::shared_ptr<LockFile> hold;
    if (!read_only && !exclusive) hold = HoldForChanges(conn.filesystem(), path);
    auto attachment = conn.Attach(path, !file_writable);
    if (!read_only) attachment->EnsureRollbackJournal();
    auto source = std::make_shared<RecordSource>(std::move(attachment));
    *table = R().AddTable(connection, std::make_unique<Table>(&conn, std::move(source), read_only,
                                                              exclusive, std::move(hold)));
  });
}

IsamResult IsamCheckTableFree(const char* folder, const char* name) {
  return Guard([&] {
    Need(folder, "folder");
    Need(name, "table name");
    std::string normalised = NormalisePath(folder);
    std::string path = FindTableFile(normalised, name);
    RefuseOddSideFiles(path);
    // In a network folder a change is refused where locks stay on this computer, and the table
    // must be free of every other program's open mark (see IsamGetConnectionType).
    FolderFilesystem filesystem = FilesystemOf(normalised);
    if (!filesystem.local_locks.empty()) {
      Fail(ISAM_ERR_NOT_SUPPORTED, LocalLocksText(normalised, filesystem));
    }
    HoldForChanges(filesystem, path);
    // A short hold is waited out, as a run waits for it.
    constexpr int kStepMs = 2;
    for (int waited = 0; HeldInWalModeElsewhere(path); waited += kStepMs) {
      if (waited >= kBusyTimeoutMs) Fail(ISAM_ERR_BUSY, HeldInWalModeText(path));
      sqlite3_sleep(kStepMs);
    }
  });
}

IsamResult IsamCloseTable(IsamHandle table) {
  return Guard([&] { R().RemoveTable(table); });
}

IsamResult IsamGetTableName(IsamHandle table, char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(TableOf(table).path(), buffer, length); });
}

IsamResult IsamGetRecordLength(IsamHandle table, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    *length = TableOf(table).schema().record_length;
  });
}

IsamResult IsamGetTableOpenOptions(IsamHandle table, uint32_t* options) {
  return Guard([&] {
    Need(options, "output");
    *options = TableOf(table).read_only() ? ISAM_TABLE_READ_ONLY
                                          : ISAM_TABLE_UPDATE_RIGHT | ISAM_TABLE_INSERT_RIGHT;
  });
}

IsamResult IsamGetBookmarkLength(IsamHandle table, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    TableOf(table);
    *length = sizeof(int64_t);
  });
}

IsamResult IsamGetNumFields(IsamHandle table, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    *count = static_cast<uint16_t>(TableOf(table).schema().fields.size());
  });
}

IsamResult IsamGetFieldName(IsamHandle table, uint16_t field, char* buffer, uint16_t* length) {
  return Guard([&] { CopyOut(AnsiFromUtf8(FieldOf(TableOf(table), field).name), buffer, length); });
}

IsamResult IsamGetFieldNum(IsamHandle table, const char* name, uint16_t* field) {
  return Guard([&] {
    Need(name, "field name");
    Need(field, "output");
    Table& t = TableOf(table);
    int found = t.schema().FindField(Utf8FromAnsi(name));
    if (found < 0) {
      Fail(ISAM_ERR_FIELD_NOT_FOUND,
           std::string("The field '") + name + "' is not in " + t.Title());
    }
    *field = static_cast<uint16_t>(found + 1);
  });
}

IsamResult IsamGetFieldType(IsamHandle table, uint16_t field, uint16_t* type) {
  return Guard([&] {
    Need(type, "output");
    *type = FieldOf(TableOf(table), field).type;
  });
}

IsamResult IsamGetFieldLength(IsamHandle table, uint16_t field, uint32_t* length) {
  return Guard([&] {
    Need(length, "output");
    *length = FieldOf(TableOf(table), field).length;
  });
}

IsamResult IsamGetFieldDecimals(IsamHandle table, uint16_t field, uint16_t* decimals) {
  return Guard([&] {
    Need(decimals, "output");
    *decimals = FieldOf(TableOf(table), field).decimals;
  });
}

IsamResult IsamGetFieldOffset(IsamHandle table, uint16_t field, uint32_t* offset) {
  return Guard([&] {
    Need(offset, "output");
    *offset = FieldOf(TableOf(table), field).offset;
  });
}

IsamResult IsamGetNumIndexes(IsamHandle table, uint16_t* count) {
  return Guard([&] {
    Need(count, "output");
    *count = static_cast<uint16_t>(TableOf(table).schema().indexes.size());
  });
}

IsamResult IsamGetIndexName(IsamHandle table, uint16_t index, char* buffer, uint16_t* length) {
  return Guard([&] {
    const auto& indexes = TableOf(table).schema().indexes;
    if (index < 1 || index > indexes.size()) {
      Fail(ISAM_ERR_INDEX_NOT_FOUND, "No index number " + std::to_string(index));
    }
    CopyOut(AnsiFromUtf8(indexes[index - 1u].name), buffer, length);
  });
}

IsamResult IsamGetIndexHandle(IsamHandle table, const char* name, IsamHandle* index) {
  return Guard([&] {
    Need(name, "index name");
    Need(index, "output");
    Table& t = R().GetTable(table);
    int found = t.schema().FindIndex(Utf8FromAnsi(name));
    if (found < 0) {
      if (const UnusableIndex* unusable = t.schema().FindUnusableIndex(Utf8FromAnsi(name))) {
        Fail(ISAM_ERR_NOT_SUPPORTED,
             "The index '" + AnsiFromUtf8(unusable->name) + "' of " + t.Title() +
                 " cannot be used: " + unusable->reason +
                 "; the engine follows only indexes over fields, ascending, with SQLite's "
                 "default (BINARY) collation");
      }
      Fail(ISAM_ERR_INDEX_NOT_FOUND,
           std::string("The index '") + name + "' is not in " + t.Title());
    }
    *index = R().IndexHandle(table, found);
  });
}

}  // extern "C"
