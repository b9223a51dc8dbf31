#include "database/record_cursor.h"

#include <algorithm>

namespace database {

namespace {

constexpr char kRowNotFound[] =
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read.";
constexpr char kNoKey[] = "Insufficient key column information for updating or refreshing.";

}  // namespace

RecordCursor::RecordCursor(std::shared_ptr<const ResultSet> rows) : rows_(std::move(rows)) {
  records_.resize(rows_->RowCount());
  for (size_t i = 0; i < records_.size(); ++i) records_[i].base = i;
  FindTarget();
}

void RecordCursor::FindTarget() {
  const std::vector<ColumnInfo>& columns = Columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].sourceTable.empty()) continue;
    if (table_.empty()) table_ = columns[i].sourceTable;
    if (columns[i].sourceTable != table_) {
      notUpdatable_ = "the rows come from more than one table";
      return;
    }
    if (columns[i].key) keys_.push_back(i);
  }
  if (table_.empty()) notUpdatable_ = "the rows come from no table";
}

size_t RecordCursor::RecordCount() const {
  return static_cast<size_t>(
      std::count_if(records_.begin(), records_.end(), [](const Row& row) { return !row.deleted; }));
}

bool RecordCursor::Bof() const { return position_ < 0 || RecordCount() == 0; }

bool RecordCursor::Eof() const {
  return position_ >= static_cast<ptrdiff_t>(records_.size()) || RecordCount() == 0;
}

bool RecordCursor::HasCurrent() const {
  return !Bof() && !Eof() && !records_[static_cast<size_t>(position_)].deleted;
}

bool RecordCursor::CurrentDeleted() const {
  return !Bof() && !Eof() && records_[static_cast<size_t>(position_)].deleted;
}

void RecordCursor::MoveFirst() {
  position_ = 0;
  while (position_ < static_cast<ptrdiff_t>(records_.size()) &&
         records_[static_cast<size_t>(position_)].deleted) {
    ++position_;
  }
}

void RecordCursor::MoveLast() {
  position_ = static_cast<ptrdiff_t>(records_.size()) - 1;
  while (position_ >= 0 && records_[static_cast<size_t>(position_)].deleted) --position_;
  if (position_ < 0) position_ = static_cast<ptrdiff_t>(records_.size());  // no row: at the end
}

bool RecordCursor::MoveNext() {
  if (Eof()) return false;
  do {
    ++position_;
  } while (position_ < static_cast<ptrdiff_t>(records_.size()) &&
           records_[static_cast<size_t>(position_)].deleted);
  return true;
}

bool RecordCursor::MovePrevious() {
  if (Bof()) return false;
  do {
    --position_;
  } while (position_ >= 0 && records_[static_cast<size_t>(position_)].deleted);
  return true;
}

ValueView RecordCursor::StoredCell(const Row& row, size_t column) const {
  if (!row.stored.empty() && row.stored[column]) return row.stored[column]->View();
  return row.base == kAdded ? ValueView::Null() : rows_->Cell(row.base, column);
}

ValueView RecordCursor::Cell(size_t column) const {
  if (mode_ != Mode::kNone && pending_[column]) return pending_[column]->View();
  return StoredCell(records_[static_cast<size_t>(position_)], column);
}

std::string RecordCursor::ColumnFixed(size_t column) const {
  if (!notUpdatable_.empty()) return notUpdatable_;
  if (Columns()[column].sourceColumn.empty()) {
    return "the field " + Columns()[column].name + " is computed, not a column of the table";
  }
  return {};
}

void RecordCursor::SetValue(size_t column, Value value) {
  if (mode_ == Mode::kNone) {
    mode_ = Mode::kEditing;
    pending_.assign(Columns().size(), std::nullopt);
  }
  pending_[column] = std::move(value);
}

Value* RecordCursor::PendingValue(size_t column) {
  return mode_ != Mode::kNone && pending_[column] ? &*pending_[column] : nullptr;
}

void RecordCursor::AddNew() {
  positionBeforeAdd_ = position_;
  Row added;
  added.stored.resize(Columns().size());
  records_.push_back(std::move(added));
  position_ = static_cast<ptrdiff_t>(records_.size()) - 1;
  mode_ = Mode::kAdding;
  pending_.assign(Columns().size(), std::nullopt);
}

void RecordCursor::CancelUpdate() {
  if (mode_ == Mode::kAdding) {
    records_.pop_back();
    position_ = std::min(positionBeforeAdd_, static_cast<ptrdiff_t>(records_.size()));
  }
  mode_ = Mode::kNone;
  pending_.clear();
}

bool RecordCursor::KeyCondition(const Row& row, Session& session, Parameters* parameters,
                                std::string* sql, std::string* error) const {
  if (keys_.empty()) {
    *error = kNoKey;
    return false;
  }
  *sql += " WHERE ";
  for (size_t k = 0; k < keys_.size(); ++k) {
    const size_t column = keys_[k];
    if (k > 0) *sql += " AND ";
    parameters->values.push_back(StoredCell(row, column));
    *sql += QuoteIdentifier(Columns()[column].sourceColumn) + " = " +
            session.Placeholder(static_cast<int>(parameters->values.size()));
  }
  return true;
}

bool RecordCursor::UpdateRow(Session& session, std::string* error) {
  Row& row = records_[static_cast<size_t>(position_)];
  Parameters parameters;
  std::string sql = "UPDATE " + table_ + " SET ";
  for (size_t column = 0; column < pending_.size(); ++column) {
    if (!pending_[column]) continue;
    if (!parameters.values.empty()) sql += ", ";
    parameters.values.push_back(pending_[column]->View());
    sql += QuoteIdentifier(Columns()[column].sourceColumn) + " = " +
           session.Placeholder(static_cast<int>(parameters.values.size()));
  }
  if (parameters.values.empty()) return true;  // nothing was changed
  if (!KeyCondition(row, session, &parameters, &sql, error)) return false;
  Outcome outcome;
  if (!session.Execute(sql, parameters, false, &outcome, error)) return false;
  if (outcome.changed != 1) {
    *error = kRowNotFound;
    return false;
  }
  row.stored.resize(Columns().size());
  for (size_t column = 0; column < pending_.size(); ++column) {
    if (pending_[column]) row.stored[column] = std::move(pending_[column]);
  }
  return true;
}

bool RecordCursor::InsertRow(Session& session, std::string* error) {
  Row& row = records_[static_cast<size_t>(position_)];
  Parameters parameters;
  std::string names;
  std::string placeholders;
  std::string returning;
  std::vector<size_t> returned;
  for (size_t column = 0; column < pending_.size(); ++column) {
    const std::string name = QuoteIdentifier(Columns()[column].sourceColumn);
    if (pending_[column]) {
      parameters.values.push_back(pending_[column]->View());
      names += (names.empty() ? "" : ", ") + name;
      placeholders += (placeholders.empty() ? "" : ", ") +
                      session.Placeholder(static_cast<int>(parameters.values.size()));
    } else if (!Columns()[column].sourceColumn.empty()) {
      returning += (returning.empty() ? " RETURNING " : ", ") + name;
      returned.push_back(column);
    }
  }
  const std::string sql =
      "INSERT INTO " + table_ +
      (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + placeholders + ")") +
      returning;
  Outcome outcome;
  if (!session.Execute(sql, parameters, false, &outcome, error)) return false;
  for (size_t column = 0; column < pending_.size(); ++column) {
    if (pending_[column]) row.stored[column] = std::move(pending_[column]);
  }
  if (outcome.rows && outcome.rows->RowCount() == 1) {
    for (size_t k = 0; k < returned.size(); ++k) {
      row.stored[returned[k]] = Value::Copy(outcome.rows->Cell(0, k));
    }
  }
  return true;
}

bool RecordCursor::Update(Session& session, std::string* error) {
  if (mode_ == Mode::kNone) return true;
  const bool ok = mode_ == Mode::kAdding ? InsertRow(session, error) : UpdateRow(session, error);
  if (ok) {
    mode_ = Mode::kNone;
    pending_.clear();
  }
  return ok;
}

bool RecordCursor::Delete(Session& session, std::string* error) {
  Row& row = records_[static_cast<size_t>(position_)];
  Parameters parameters;
  std::string sql = "DELETE FROM " + table_;
  if (!KeyCondition(row, session, &parameters, &sql, error)) return false;
  Outcome outcome;
  if (!session.Execute(sql, parameters, false, &outcome, error)) return false;
  if (outcome.changed != 1) {
    *error = kRowNotFound;
    return false;
  }
  row.deleted = true;
  return true;
}

}  // namespace database
