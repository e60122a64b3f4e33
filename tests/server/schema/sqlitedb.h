#pragma once
// A database opened straight through SQLite, read as text: what the schema
// tests compare against.
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sqlite3.h>

namespace vorel::test {

class SqliteDb
{
public:
    explicit SqliteDb(const QString &path = QStringLiteral(":memory:")) { sqlite3_open(path.toUtf8().constData(), &m_db); }
    ~SqliteDb() { sqlite3_close(m_db); }
    SqliteDb(const SqliteDb &) = delete;
    SqliteDb &operator=(const SqliteDb &) = delete;
    operator sqlite3 *() const { return m_db; }

    // Every row as text, NULL as "<null>".
    QList<QStringList> rows(const QString &sql) const
    {
        QList<QStringList> out;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(sql), sqlite3_errmsg(m_db));
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList r;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                r << (sqlite3_column_type(st, i) == SQLITE_NULL
                          ? QStringLiteral("<null>")
                          : QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i))));
            out << r;
        }
        sqlite3_finalize(st);
        return out;
    }
    QString value(const QString &sql) const
    {
        const auto r = rows(sql);
        return r.isEmpty() ? QString() : r.first().value(0);
    }
    int count(const QString &sql) const { return value(sql).toInt(); }
    // The error text of a statement that must fail; empty when it succeeded.
    QString failure(const QString &sql) const
    {
        char *err = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &err) == SQLITE_OK)
            return {};
        const QString msg = QString::fromUtf8(err);
        sqlite3_free(err);
        return msg;
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace vorel::test
