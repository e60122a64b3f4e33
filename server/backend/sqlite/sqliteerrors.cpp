// SQLite's failures worded as Oracle words them. The client reads the
// number after "ORA-" and the name between the first parentheses, so the
// constraint or column comes first and SQLite's own text, where kept, last.
#include "server/backend/sqlite/sqliteerrors.h"

#include <sqlite3.h>

#include <QStringList>

namespace vorel::server {

namespace {

QString detail(const QString &sqliteMessage)
{
    return QStringLiteral(" (") + sqliteMessage + QLatin1Char(')');
}

// "T.a, T.b" -> table T, columns a and b (upper case).
bool splitColumns(const QString &list, QString *table, QStringList *columns)
{
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString item = part.trimmed();
        const qsizetype dot = item.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0)
            return false;
        QString t = item.left(dot).toUpper();
        const qsizetype schemaDot = t.lastIndexOf(QLatin1Char('.'));
        if (schemaDot >= 0)
            t = t.mid(schemaDot + 1);
        if (!table->isEmpty() && *table != t)
            return false;
        *table = t;
        columns->append(item.mid(dot + 1).toUpper());
    }
    return !columns->isEmpty();
}

// The primary or unique key of `table` made of exactly `columns`, read from
// the dictionary views; empty when there is none (or no dictionary).
QString uniqueConstraint(sqlite3 *db, const QString &table, QStringList columns)
{
    if (!db)
        return {};
    sqlite3_stmt *st = nullptr;
    const char *sql =
        "SELECT c.CONSTRAINT_NAME, cc.COLUMN_NAME FROM ALL_CONSTRAINTS c "
        "JOIN ALL_CONS_COLUMNS cc ON cc.CONSTRAINT_NAME = c.CONSTRAINT_NAME "
        "WHERE UPPER(c.TABLE_NAME) = ?1 AND c.CONSTRAINT_TYPE IN ('P', 'U') "
        "ORDER BY c.CONSTRAINT_TYPE, c.CONSTRAINT_NAME, cc.POSITION";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return {};
    }
    const QByteArray t = table.toUtf8();
    sqlite3_bind_text(st, 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
    QList<std::pair<QString, QStringList>> keys;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const QString name = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        const QString col = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1))).toUpper();
        if (keys.isEmpty() || keys.last().first != name)
            keys.append({name, {}});
        keys.last().second.append(col);
    }
    sqlite3_finalize(st);
    columns.sort();
    for (auto &[name, cols] : keys) {
        cols.sort();
        if (cols == columns)
            return name.toUpper();
    }
    return {};
}

QString afterColon(const QString &message)
{
    const qsizetype colon = message.indexOf(QLatin1String(": "));
    return colon < 0 ? QString() : message.mid(colon + 2).trimmed();
}

} // namespace

QString oracleMessage(sqlite3 *db, int rc, const QString &sqliteMessage)
{
    const QString &m = sqliteMessage;
    if (m.startsWith(QLatin1String("ORA-")))
        return m;
    const int primary = rc & 0xff;

    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY
        || m.startsWith(QLatin1String("UNIQUE constraint failed:"))) {
        QString table;
        QStringList columns;
        QString name;
        if (splitColumns(afterColon(m), &table, &columns))
            name = uniqueConstraint(db, table, columns);
        if (name.isEmpty())
            return QStringLiteral("ORA-00001: unique constraint (VOREL.SYS_%1) violated").arg(table) + detail(m);
        return QStringLiteral("ORA-00001: unique constraint (VOREL.%1) violated").arg(name);
    }
    if (rc == SQLITE_CONSTRAINT_NOTNULL || m.startsWith(QLatin1String("NOT NULL constraint failed:"))) {
        const QString target = afterColon(m);
        const qsizetype dot = target.lastIndexOf(QLatin1Char('.'));
        QString table = target.left(dot).toUpper();
        table = table.mid(table.lastIndexOf(QLatin1Char('.')) + 1);
        return QStringLiteral("ORA-01400: cannot insert NULL into (\"VOREL\".\"%1\".\"%2\")")
            .arg(table, target.mid(dot + 1).toUpper());
    }
    if (rc == SQLITE_CONSTRAINT_CHECK || m.startsWith(QLatin1String("CHECK constraint failed:")))
        return QStringLiteral("ORA-02290: check constraint (VOREL.%1) violated").arg(afterColon(m).toUpper());
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY)
        return QStringLiteral("ORA-02291: integrity constraint (VOREL.SYS_FK) violated - parent key not found")
               + detail(m);

    struct Known {
        const char *sqlitePrefix;
        const char *oracle; // %1: the name SQLite reported, upper case
    };
    static const Known known[] = {
        {"no such table: ", "ORA-00942: table or view does not exist"},
        {"no such view: ", "ORA-00942: table or view does not exist"},
        {"no such column: ", "ORA-00904: \"%1\": invalid identifier"},
        {"no such function: ", "ORA-00904: \"%1\": invalid identifier"},
        {"ambiguous column name: ", "ORA-00918: column ambiguously defined"},
        {"wrong number of arguments to function ", "ORA-00909: invalid number of arguments"},
        {"incomplete input", "ORA-00921: unexpected end of SQL command"},
        {"table ", "ORA-00955: name is already used by an existing object"},
        {"cannot start a transaction within a transaction", "ORA-00900: invalid SQL statement"},
    };
    for (const Known &k : known) {
        if (!m.startsWith(QLatin1String(k.sqlitePrefix)))
            continue;
        if (QLatin1String(k.sqlitePrefix) == QLatin1String("table ") && !m.endsWith(QLatin1String("already exists")))
            continue;
        QString name = m.mid(qsizetype(strlen(k.sqlitePrefix))).trimmed().toUpper();
        name = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1);
        QString text = QString::fromLatin1(k.oracle);
        if (text.contains(QLatin1String("%1")))
            text = text.arg(name);
        return text + detail(m);
    }
    if (m.contains(QLatin1String("values for")) && m.contains(QLatin1String("columns"))) {
        // "2 values for 3 columns", "table T has 3 columns but 2 values were supplied"
        const QStringList words = m.split(QLatin1Char(' '));
        QList<int> numbers;
        for (const QString &w : words) {
            bool ok = false;
            const int n = w.toInt(&ok);
            if (ok)
                numbers << n;
        }
        const bool tooMany = numbers.size() == 2 && numbers[0] > numbers[1];
        return QString::fromLatin1(tooMany ? "ORA-00913: too many values" : "ORA-00947: not enough values")
               + detail(m);
    }
    if (m.contains(QLatin1String("columns but")) && m.contains(QLatin1String("values were supplied"))) {
        QList<int> numbers;
        for (const QString &w : m.split(QLatin1Char(' '))) {
            bool ok = false;
            const int n = w.toInt(&ok);
            if (ok)
                numbers << n;
        }
        const bool tooMany = numbers.size() == 2 && numbers[1] > numbers[0];
        return QString::fromLatin1(tooMany ? "ORA-00913: too many values" : "ORA-00947: not enough values")
               + detail(m);
    }
    // The authoriser's refusals (tables, pragmas, functions).
    if (primary == SQLITE_AUTH || m.startsWith(QLatin1String("not authorized")))
        return QStringLiteral("ORA-01031: insufficient privileges");
    if (m.startsWith(QLatin1String("near ")) && m.contains(QLatin1String("syntax error")))
        return QStringLiteral("ORA-00933: SQL command not properly ended") + detail(m);

    switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("ORA-00054: resource busy and acquire with NOWAIT specified or timeout expired")
               + detail(m);
    case SQLITE_AUTH:
        return QStringLiteral("ORA-01031: insufficient privileges");
    case SQLITE_INTERRUPT:
        return QStringLiteral("ORA-01013: user requested cancel of current operation");
    case SQLITE_READONLY:
        return QStringLiteral("ORA-16000: database or pluggable database open for read-only access") + detail(m);
    case SQLITE_FULL:
        return QStringLiteral("ORA-01653: unable to extend table") + detail(m);
    case SQLITE_MISMATCH:
        return QStringLiteral("ORA-00932: inconsistent datatypes") + detail(m);
    case SQLITE_TOOBIG:
        return QStringLiteral("ORA-01489: result of string concatenation is too long") + detail(m);
    case SQLITE_CONSTRAINT:
        return QStringLiteral("ORA-02290: check constraint (VOREL.SYS_CHECK) violated") + detail(m);
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
        return QStringLiteral("ORA-01115: IO error reading block from file") + detail(m);
    default:
        return QStringLiteral("ORA-00900: invalid SQL statement") + detail(m);
    }
}

} // namespace vorel::server
