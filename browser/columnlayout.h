#pragma once
// The widths and order a user gives the columns of a class's grid, kept per
// user, database and class in the settings store. Columns are named by
// field, so a column that the metadata no longer shows is passed over and
// one it adds keeps its place after the remembered ones.
#include <QString>

class QHeaderView;

namespace vorel {

class TDataSetModel;

// "NOMBRE:120,NIF:80": the shown columns in their visual order.
QString ColumnLayoutText(const QHeaderView &header, const TDataSetModel &model);
// Moves and sizes the columns as `text` says.
void ApplyColumnLayout(QHeaderView &header, const TDataSetModel &model, const QString &text);
// Puts every column back at its place in the data.
void ResetColumnOrder(QHeaderView &header);

// The layout `user` keeps for `classId` on `database`; empty when none.
// The user is the session's own: with several clients on one desktop the
// settings' last login may be someone else's.
QString StoredColumnLayout(const QString &user, const QString &database, const QString &classId);
// An empty text forgets the class's layout.
void StoreColumnLayout(const QString &user, const QString &database, const QString &classId, const QString &text);

} // namespace vorel
