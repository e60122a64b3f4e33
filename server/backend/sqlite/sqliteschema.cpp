// The metadata schema in an SQLite file: its DDL, the foreign keys as
// triggers that fail with Oracle's texts, and the dictionary rows.
#include "server/backend/sqlite/sqliteschema.h"
#include "server/backend/sqlite/sqliteerrors.h"
#include "server/backend/sqlite/sqlitestatement.h"

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

namespace vorel::server {

namespace schemadef {

void exec(sqlite3 *db, const QString &sql)
{
    char *err = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_exec(db, utf8.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        throw OraError(oracleMessage(db, sqlite3_extended_errcode(db), msg));
    }
}

} // namespace schemadef

namespace {

using namespace schemadef;

QString q(const char *text) { return quoted(QString::fromUtf8(text)); }

// Oracle NULL semantics of a foreign key: checked only when every column has a value.
QString allNotNull(const std::vector<const char *> &cols, const QString &row)
{
    QStringList parts;
    for (const char *c : cols)
        parts << QStringLiteral("%1.%2 IS NOT NULL").arg(row, QString::fromUtf8(c));
    return parts.join(QLatin1String(" AND "));
}

QString matchCondition(const std::vector<const char *> &left, const std::vector<const char *> &right,
                       const QString &rightRow)
{
    QStringList parts;
    for (size_t i = 0; i < left.size(); ++i)
        parts << QStringLiteral("%1 = %2.%3").arg(QString::fromUtf8(left[i]), rightRow, QString::fromUtf8(right[i]));
    return parts.join(QLatin1String(" AND "));
}

// SQLite takes Oracle's types as they are declared.
QString declaredType(const QString &declared) { return declared; }

QString parentMissing(const ForeignKey &fk)
{
    return QString::fromLatin1(ora::kParentKeyNotFound).arg(QString::fromUtf8(fk.name));
}

QString childFound(const ForeignKey &fk)
{
    return QString::fromLatin1(ora::kChildRecordFound).arg(QString::fromUtf8(fk.name));
}

// The child side: the parent row must exist when the child names one.
QStringList childTriggers(const Table &t, const ForeignKey &fk, bool temp)
{
    const QString name = QString::fromUtf8(fk.name);
    const QString table = QString::fromUtf8(t.name);
    const QString parent = QString::fromUtf8(fk.parentTable);
    const QString kind = temp ? QStringLiteral("TEMP TRIGGER IF NOT EXISTS") : QStringLiteral("TRIGGER");
    const QString missing = QStringLiteral("%1 AND NOT EXISTS (SELECT 1 FROM %2 WHERE %3)")
                                .arg(allNotNull(fk.columns, QStringLiteral("NEW")), parent,
                                     matchCondition(fk.parentColumns, fk.columns, QStringLiteral("NEW")));
    const QString raise = QStringLiteral("BEGIN SELECT RAISE(ABORT, %1); END").arg(quoted(parentMissing(fk)));
    return {
        QStringLiteral("CREATE %1 TRG_%2_I BEFORE INSERT ON %3 WHEN %4\n%5").arg(kind, name, table, missing, raise),
        QStringLiteral("CREATE %1 TRG_%2_U BEFORE UPDATE OF %3 ON %4 WHEN %5\n%6")
            .arg(kind, name, joined(fk.columns), table, missing, raise),
    };
}

// The parent side: a key still named by children may neither go nor change.
QStringList parentTriggers(const Table &t, const ForeignKey &fk)
{
    const QString name = QString::fromUtf8(fk.name);
    const QString child = QString::fromUtf8(t.name);
    const QString parent = QString::fromUtf8(fk.parentTable);
    const QString children = QStringLiteral("EXISTS (SELECT 1 FROM %1 WHERE %2)")
                                 .arg(child, matchCondition(fk.columns, fk.parentColumns, QStringLiteral("OLD")));
    QStringList changed;
    for (const char *c : fk.parentColumns)
        changed << QStringLiteral("OLD.%1 IS NOT NEW.%1").arg(QString::fromUtf8(c));
    const QString raise = QStringLiteral("BEGIN SELECT RAISE(ABORT, %1); END").arg(quoted(childFound(fk)));
    return {
        QStringLiteral("CREATE TRIGGER TRG_%1_D BEFORE DELETE ON %2 WHEN %3\n%4").arg(name, parent, children, raise),
        QStringLiteral("CREATE TRIGGER TRG_%1_P BEFORE UPDATE OF %2 ON %3 WHEN (%4) AND %5\n%6")
            .arg(name, joined(fk.parentColumns), parent, changed.join(QLatin1String(" OR ")), children, raise),
    };
}


QStringList checkColumns(const Table &t, const Check &c)
{
    QStringList cols;
    const QString cond = QString::fromUtf8(c.condition);
    for (const Column &col : t.columns) {
        const QRegularExpression word(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(QString::fromUtf8(col.name))),
                                      QRegularExpression::CaseInsensitiveOption);
        if (word.match(cond).hasMatch())
            cols << QString::fromUtf8(col.name).toUpper();
    }
    return cols;
}

QStringList upper(const std::vector<const char *> &names)
{
    QStringList out;
    for (const char *n : names)
        out << QString::fromUtf8(n).toUpper();
    return out;
}

void registerConstraint(sqlite3 *db, const QString &name, const char *type, const QString &table,
                        const QStringList &columns, const QString &condition = {})
{
    exec(db, QStringLiteral("INSERT INTO TDICRESTR (DRES_Restr, DRES_Tipo, DRES_Tabla, DRES_Cond) VALUES (%1, '%2', %3, %4)")
                 .arg(quoted(name.toUpper()), QLatin1String(type), quoted(table.toUpper()),
                      condition.isEmpty() ? QStringLiteral("NULL") : quoted(condition)));
    for (int i = 0; i < columns.size(); ++i)
        exec(db, QStringLiteral("INSERT INTO TDICRESCOL (DRCO_Restr, DRCO_Pos, DRCO_Tabla, DRCO_Col) VALUES (%1, %2, %3, %4)")
                     .arg(quoted(name.toUpper())).arg(i + 1).arg(quoted(table.toUpper()), quoted(columns[i])));
}

// The primary or unique key of the parent that a foreign key points at.
QString referencedKey(sqlite3 *db, const ForeignKey &fk)
{
    const QString wanted = upper(fk.parentColumns).join(QLatin1Char(','));
    const QByteArray sql = QStringLiteral(
        "SELECT DRES_Restr, (SELECT group_concat(DRCO_Col, ',') FROM (SELECT DRCO_Col FROM TDICRESCOL "
        "WHERE DRCO_Restr = DRES_Restr ORDER BY DRCO_Pos)) FROM TDICRESTR "
        "WHERE DRES_Tabla = %1 AND DRES_Tipo IN ('P', 'U') ORDER BY DRES_Tipo")
        .arg(quoted(QString::fromUtf8(fk.parentTable).toUpper())).toUtf8();
    const sqlite::Statement stmt = sqlite::prepare(db, sql.constData());
    if (!stmt)
        throw OraError(lastFailure(db));
    QString found;
    while (found.isEmpty() && sqlite3_step(stmt.get()) == SQLITE_ROW) {
        if (sqlite::columnText(stmt.get(), 1) == wanted)
            found = sqlite::columnText(stmt.get(), 0);
    }
    if (found.isEmpty())
        throw OraError(ora::text(ora::kNoMatchingKey, QString::fromUtf8(fk.name)));
    return found;
}

void registerTable(sqlite3 *db, const Table &t)
{
    const QString table = QString::fromUtf8(t.name).toUpper();
    exec(db, QStringLiteral("INSERT INTO TDICTABLAS (DTAB_Tabla, DTAB_Tipo, DTAB_Coment) VALUES (%1, 'TABLE', %2)")
                 .arg(quoted(table), q(t.comment)));
    int pos = 0;
    for (const Column &c : t.columns)
        exec(db, QStringLiteral("INSERT INTO TDICCOLUM (DCOL_Tabla, DCOL_Col, DCOL_Pos, DCOL_Tipo, DCOL_Nulo, DCOL_Coment) "
                                "VALUES (%1, %2, %3, %4, '%5', %6)")
                     .arg(quoted(table), quoted(QString::fromUtf8(c.name).toUpper()))
                     .arg(++pos)
                     .arg(q(c.type), c.notNull ? QStringLiteral("N") : QStringLiteral("Y"), q(c.comment)));
    if (t.primaryKey.name)
        registerConstraint(db, QString::fromUtf8(t.primaryKey.name), "P", table, upper(t.primaryKey.columns));
    for (const Key &k : t.uniqueKeys)
        registerConstraint(db, QString::fromUtf8(k.name), "U", table, upper(k.columns));
    for (const Check &k : t.checks)
        registerConstraint(db, QString::fromUtf8(k.name), "C", table, checkColumns(t, k), QString::fromUtf8(k.condition));
}

void registerForeignKeys(sqlite3 *db, const Table &t)
{
    for (const ForeignKey &fk : t.foreignKeys) {
        const QString name = QString::fromUtf8(fk.name);
        registerConstraint(db, name, "R", QString::fromUtf8(t.name), upper(fk.columns));
        exec(db, QStringLiteral("UPDATE TDICRESTR SET DRES_RRestr = %1 WHERE DRES_Restr = %2")
                     .arg(quoted(referencedKey(db, fk)), quoted(name.toUpper())));
    }
}

const char *const kDictionaryViews[][3] = {
    {"ALL_TAB_COMMENTS", "Comentarios de tablas",
     "SELECT 'VOREL' AS OWNER, DTAB_Tabla AS TABLE_NAME, DTAB_Tipo AS TABLE_TYPE, DTAB_Coment AS COMMENTS FROM TDICTABLAS"},
    {"ALL_COL_COMMENTS", "Comentarios de columnas",
     "SELECT 'VOREL' AS OWNER, DCOL_Tabla AS TABLE_NAME, DCOL_Col AS COLUMN_NAME, DCOL_Coment AS COMMENTS FROM TDICCOLUM"},
    {"ALL_TAB_COLUMNS", "Columnas de tablas",
     "SELECT 'VOREL' AS OWNER, DCOL_Tabla AS TABLE_NAME, DCOL_Col AS COLUMN_NAME, DCOL_Tipo AS DATA_TYPE, "
     "DCOL_Nulo AS NULLABLE, DCOL_Pos AS COLUMN_ID FROM TDICCOLUM"},
    {"ALL_CONSTRAINTS", "Restricciones",
     "SELECT 'VOREL' AS OWNER, DRES_Restr AS CONSTRAINT_NAME, DRES_Tipo AS CONSTRAINT_TYPE, DRES_Tabla AS TABLE_NAME, "
     "DRES_Cond AS SEARCH_CONDITION, CASE WHEN DRES_RRestr IS NULL THEN NULL ELSE 'VOREL' END AS R_OWNER, "
     "DRES_RRestr AS R_CONSTRAINT_NAME, 'ENABLED' AS STATUS FROM TDICRESTR"},
    {"ALL_CONS_COLUMNS", "Columnas de restricciones",
     "SELECT 'VOREL' AS OWNER, DRCO_Restr AS CONSTRAINT_NAME, DRCO_Tabla AS TABLE_NAME, DRCO_Col AS COLUMN_NAME, "
     "DRCO_Pos AS POSITION FROM TDICRESCOL"},
};

void createSessionTable(sqlite3 *db, const Table &t)
{
    exec(db, createTableSql(t, true, declaredType));
    for (const ForeignKey &fk : t.foreignKeys)
        for (const QString &sql : childTriggers(t, fk, true))
            exec(db, sql);
}

class Savepoint
{
public:
    Savepoint(sqlite3 *db, const char *name) : m_db(db), m_name(QString::fromLatin1(name))
    {
        exec(m_db, QStringLiteral("SAVEPOINT ") + m_name);
    }
    ~Savepoint()
    {
        if (!m_done) {
            sqlite3_exec(m_db, QStringLiteral("ROLLBACK TO %1; RELEASE %1").arg(m_name).toUtf8().constData(),
                         nullptr, nullptr, nullptr);
        }
    }
    void commit()
    {
        exec(m_db, QStringLiteral("RELEASE ") + m_name);
        m_done = true;
    }

private:
    sqlite3 *m_db;
    QString m_name;
    bool m_done = false;
};

} // namespace

namespace schemadef {

void createTables(sqlite3 *db, const std::vector<Table> &tables)
{
    for (const Table &t : tables) {
        if (t.session)
            continue;
        exec(db, createTableSql(t, false, declaredType));
        for (const ForeignKey &fk : t.foreignKeys) {
            const QString index = foreignKeyIndex(t, fk);
            if (!index.isEmpty())
                exec(db, index);
        }
    }
    for (const Table &t : tables) {
        for (const ForeignKey &fk : t.foreignKeys) {
            if (t.session)
                continue;
            for (const QString &sql : childTriggers(t, fk, false) + parentTriggers(t, fk))
                exec(db, sql);
        }
    }
    for (const Table &t : tables)
        registerTable(db, t);
    for (const Table &t : tables)
        registerForeignKeys(db, t);
}

void registerView(sqlite3 *db, const QString &name, const QString &comment)
{
    exec(db, QStringLiteral("INSERT INTO TDICTABLAS (DTAB_Tabla, DTAB_Tipo, DTAB_Coment) VALUES (%1, 'VIEW', %2)")
                 .arg(quoted(name.toUpper()), quoted(comment)));
}

} // namespace schemadef

void createSchema(sqlite3 *db)
{
    Savepoint tx(db, "vorel_schema");
    createTables(db, metadataTables());
    for (const auto &view : kDictionaryViews) {
        exec(db, QStringLiteral("CREATE VIEW %1 AS %2").arg(QLatin1String(view[0]), QString::fromUtf8(view[2])));
        registerView(db, QLatin1String(view[0]), QString::fromUtf8(view[1]));
    }
    tx.commit();
}

void createWorkingTables(sqlite3 *db)
{
    for (const Table &t : metadataTables())
        if (t.session)
            createSessionTable(db, t);
}

void createSessionTables(sqlite3 *db, const QString &userId)
{
    createWorkingTables(db);
    exec(db, QStringLiteral("DELETE FROM temp.RSESION; DELETE FROM temp.RVFILRAP; DELETE FROM temp.RQBEX"));
    exec(db, QStringLiteral("INSERT INTO temp.RSESION (SESI_Usua, SESI_USUADer) VALUES (%1, %1)").arg(quoted(userId)));
}

void runScript(sqlite3 *db, const QString &sqlText)
{
    const QByteArray utf8 = sqlText.toUtf8();
    const char *tail = utf8.constData();
    const char *end = tail + utf8.size();
    int number = 0;
    Savepoint tx(db, "vorel_script");
    while (tail < end) {
        const char *start = tail;
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, start, int(end - start), &stmt, &tail);
        const QString statement = QString::fromUtf8(start, int(tail - start)).trimmed();
        if (rc == SQLITE_OK && !stmt)
            continue; // blanks or comments only
        ++number;
        if (rc == SQLITE_OK) {
            do
                rc = sqlite3_step(stmt);
            while (rc == SQLITE_ROW);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK) {
            const int extended = sqlite3_extended_errcode(db);
            const QString sqliteMessage = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_finalize(stmt);
            throw OraError(QStringLiteral("%1\nSentencia %2: %3")
                               .arg(oracleMessage(db, extended, sqliteMessage)).arg(number).arg(statement));
        }
        sqlite3_finalize(stmt);
    }
    tx.commit();
}

} // namespace vorel::server
