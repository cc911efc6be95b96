// Table files taken as files, outside any connection: what copies of a folder's tables, reports
// of their changes and checks of their records (table_checks.h) need from the engine beside
// isam.h. Nothing here lets a caller query a file in the storage's own terms.
//
// The contract:
// - A table file is read here, never changed record by record: a reader opens its own SQLite
//   connection to one file, outside the engine's connections, and reads the file's marks, fields
//   and records. The one write is a copy (TableFileWriter), which replaces a whole file by
//   another in one transaction, whole or not at all.
// - The open mark held here (OpenMarkHold) is the one the engine's table handles take, so that
//   holding it alone keeps them out of the file, in this program and in every other.
// - A file another program is busy with is waited for as long as a run waits for it (ten
//   seconds), then refused with ISAM_ERR_BUSY.
// - Every failure leaves as a TableFileError: a code of isam/errors.h and a text that names the
//   file. No other exception of the engine crosses this interface.
#ifndef RIVENOAK_ISAM_TABLE_FILES_H_
#define RIVENOAK_ISAM_TABLE_FILES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "isam/errors.h"

namespace isam {

class LockFile;

class TableFileError : public std::runtime_error {
 public:
  TableFileError(IsamResult code, const std::string& text)
      : std::runtime_error(text), code_(code) {}
  IsamResult code() const { return code_; }

 private:
  IsamResult code_;
};

// Whether the file's first bytes are those of a table file. False for any other file, a folder
// and a file that another program removed meanwhile; a file that cannot be read throws, and so
// does one that is no plain file (a named pipe, a socket, a device), which is never opened to
// wait for bytes: whoever lists a folder's tables learns of it rather than passing it over.
bool IsTableFile(const std::string& path);

// Throws ISAM_ERR_AMBIGUOUS_TABLE, naming every file, when the table `name` of `folder` is
// held in several files whose names differ only in letter case, as the engine refuses to open
// it; nothing otherwise.
void RefuseCaseTwins(const std::string& folder, const std::string& name);

// Why a change of the tables in `folder` cannot keep other computers out (a network mount that
// keeps its locks on this computer), in the words of the engine's own refusal; empty when it
// can.
std::string LocalLocksRefusal(const std::string& folder);

// The open mark of the table file at `path` (kept in "<path>.lck", made when missing), the mark
// every table handle of the engine holds while it has the table open. Held alone, it keeps
// every handle of every program from opening the table until this object is gone.
class OpenMarkHold {
 public:
  explicit OpenMarkHold(const std::string& path);
  ~OpenMarkHold();
  OpenMarkHold(const OpenMarkHold&) = delete;
  OpenMarkHold& operator=(const OpenMarkHold&) = delete;

  // Takes the mark alone; false, without waiting, when any handle has the table open.
  bool TryHoldAlone();
  // Whether the lock file's name still leads to the file this hold locks.
  bool StillNamed() const;
  // Removes the lock file's name while the hold keeps its lock, so that a mark kept only for a
  // while leaves no file behind. Another program that opened the file before may then lock a file
  // without a name, and a third make a new one: a hold counts only while StillNamed.
  void RemoveLockFile() const;
  // Whether any handle has the table at `path` open, or holds its mark alone; false when there is
  // no lock file. Makes nothing, and never waits.
  static bool HeldByAnyone(const std::string& path);

 private:
  std::unique_ptr<LockFile> lock_;
};

// A table file opened for reading while other programs may use it. It is opened as SQLite opens
// a file for writing, so that a journal left by a writer that was killed is rolled back first;
// in a folder that may only be read, a write-ahead table whose log holds nothing is read as the
// file stands. Texts name the file `path` as given.
class TableFileReader {
 public:
  explicit TableFileReader(const std::string& path);
  ~TableFileReader();
  TableFileReader(const TableFileReader&) = delete;
  TableFileReader& operator=(const TableFileReader&) = delete;

  const std::string& path() const;
  // Whether the file carries the table marks (application_id and user_version).
  bool HasTableMarks() const;
  // Starts a read transaction on every reader at once, so that everything read until each ends
  // (EndSnapshot) sees the tables as they were at one moment. When one is busy, those taken are
  // let go and the whole is tried again, for as long as a run waits; so it never holds one table
  // while a writer that holds another waits for it.
  static void HoldSnapshots(const std::vector<TableFileReader*>& readers);
  void EndSnapshot();

 private:
  friend class TableFileRecords;
  friend class TableFileWriter;
  friend struct TableFileReaderInside;  // the engine's own reads of the file
  struct State;

  // SQLite's result; a busy table is left without a transaction.
  int TryHoldSnapshot();

  std::unique_ptr<State> state_;
};

// The records of one table file in record-number order, one at a time, each field's value as
// `isam dump` writes it: logicals T or F, dates MM/DD/YYYY, numbers in the shortest form that
// reads back to the same value, empty values as nothing. A side without a reader has no fields
// and no records.
class TableFileRecords {
 public:
  // `reader` (may be null) stays open while this object lives; texts name the file `path`.
  TableFileRecords(const TableFileReader* reader, const std::string& path);
  ~TableFileRecords();
  TableFileRecords(const TableFileRecords&) = delete;
  TableFileRecords& operator=(const TableFileRecords&) = delete;

  std::vector<std::string> FieldNames() const;
  // Whether the table has the field; exact spelling first, then in any letter case.
  bool HasField(const std::string& name) const;
  // The fields of the PRIMARY index in key order; none without that index.
  std::vector<std::string> PrimaryKeyFields() const;

  // Chooses, by name, the fields that Text and SameValue take by number; a field this table
  // lacks is empty in every record.
  void UseFields(const std::vector<std::string>& names);
  // Moves to the next record; false at the end.
  bool Next();
  bool AtEnd() const;
  int64_t RecordNumber() const;
  std::string Text(size_t field) const;
  // Whether the chosen field `field` holds the same stored value here as in `other`.
  bool SameValue(const TableFileRecords& other, size_t field) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A table file written as a copy of another. Texts name the file `path` as given.
class TableFileWriter {
 public:
  // Opens the file at `path`, made when missing.
  explicit TableFileWriter(const std::string& path);
  ~TableFileWriter();
  TableFileWriter(const TableFileWriter&) = delete;
  TableFileWriter& operator=(const TableFileWriter&) = delete;

  // Takes the file from every other program until this object is gone: leaves the write-ahead
  // mode, rolls back what a killed writer left, and keeps SQLite's exclusive lock. A file kept
  // busy throws ISAM_ERR_BUSY.
  void HoldAlone();
  // Replaces the file by the table `source` reads, in one transaction; texts name the file
  // `target`. `progress`, when given, learns the pages in all and those left after each step.
  void CopyFrom(const TableFileReader& source, const std::string& target,
                const std::function<void(int pages, int left)>& progress);
  // Leaves the file in the rollback-journal mode, the mode the engine writes in, so that it can
  // also be read where no write-ahead log can be made.
  void UseRollbackJournal();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace isam

#endif  // RIVENOAK_ISAM_TABLE_FILES_H_
