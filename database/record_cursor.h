// The rows of a recordset as a script moves over them and edits them, apart from the
// automation objects: a position, an edit buffer for the current row, rows added and
// deleted, and the statements that write the edits back to the one table the rows
// come from (identified by its key columns).
//
// Values written back stay with the row (the result read from the engine is never
// changed), so a row shows what was stored in it since.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/engine.h"

namespace database {

class RecordCursor {
 public:
  enum class Mode { kNone, kEditing, kAdding };

  explicit RecordCursor(std::shared_ptr<const ResultSet> rows);

  const std::vector<ColumnInfo>& Columns() const { return rows_->Columns(); }
  size_t RecordCount() const;
  // Before the first row / after the last; both when there is no row.
  bool Bof() const;
  bool Eof() const;
  // On a row that is not deleted.
  bool HasCurrent() const;
  bool CurrentDeleted() const;

  // Moves skip deleted rows; MoveNext at the end and MovePrevious at the start fail.
  void MoveFirst();
  void MoveLast();
  bool MoveNext();
  bool MovePrevious();

  // The current row's value: the edit buffer's, else what was stored, else what was read.
  ValueView Cell(size_t column) const;

  Mode EditMode() const { return mode_; }
  // Empty when the rows can be written back; else why not.
  const std::string& NotUpdatable() const { return notUpdatable_; }
  // Empty when the column's value can be set; else why not.
  std::string ColumnFixed(size_t column) const;

  // Puts a value into the edit buffer of the current row (an edit begins when none is
  // in progress).
  void SetValue(size_t column, Value value);
  // The value the edit buffer holds for a column, or null.
  Value* PendingValue(size_t column);
  void AddNew();
  void CancelUpdate();
  // Writes the edit buffer back: UPDATE of the changed columns or INSERT of a new row
  // (whose other columns come back from the table: defaults, generated keys). Nothing
  // to write succeeds at once. On failure the buffer is kept.
  bool Update(Session& session, std::string* error);
  bool Delete(Session& session, std::string* error);

 private:
  static constexpr size_t kAdded = static_cast<size_t>(-1);
  struct Row {
    size_t base = kAdded;                      // the row of the result, or kAdded
    std::vector<std::optional<Value>> stored;  // values written since it was read
    bool deleted = false;
  };

  void FindTarget();
  ValueView StoredCell(const Row& row, size_t column) const;
  bool KeyCondition(const Row& row, Session& session, Parameters* parameters, std::string* sql,
                    std::string* error) const;
  bool UpdateRow(Session& session, std::string* error);
  bool InsertRow(Session& session, std::string* error);

  std::shared_ptr<const ResultSet> rows_;
  std::vector<Row> records_;
  ptrdiff_t position_ = 0;  // -1 before the first row, records_.size() after the last
  Mode mode_ = Mode::kNone;
  std::vector<std::optional<Value>> pending_;
  ptrdiff_t positionBeforeAdd_ = 0;
  std::string table_;  // the table rows are written to
  std::string notUpdatable_;
  std::vector<size_t> keys_;
};

}  // namespace database
