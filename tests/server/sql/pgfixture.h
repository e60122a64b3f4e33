#pragma once
// The PostgreSQL side of the dialect tests: statements run on a session's
// connection the way the server runs them, the declared spellings naming
// the columns.
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/core/oraerror.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgerrors.h"
#include "sqlrun.h"
#include "server/backend/postgres/pgclassrows.h"
#include "server/backend/postgres/pgdialect.h"
#include "support/testdatabase.h"

#include <QHash>
#include <memory>

namespace dialecttest {

class PgFixture
{
public:
    // A session of user 990001 on `db`; false (and why) when it cannot be had.
    bool open(const vorel::test::TestDatabase &db, QString *why)
    {
        try {
            m_session = db.open(QStringLiteral("990001"));
            conn = &static_cast<vorel::server::PgDatabase &>(*m_session).connection();
            const vorel::server::pg::Result r = conn->exec(QStringLiteral("SELECT NAME FROM VOREL_SPELLING"));
            for (int i = 0; i < r.rows(); ++i)
                m_spellings.insert(r.text(i, 0).toLower(), r.text(i, 0));
        } catch (const std::exception &e) {
            *why = QString::fromUtf8(e.what());
            conn = nullptr;
            return false;
        }
        return true;
    }

    // Runs one client statement as the server does on PostgreSQL: the
    // declared spellings name the columns, failures are Oracle's texts.
    Result run(const QString &oracleSql)
    {
        vorel::server::pg::Connection &c = *conn;
        using namespace vorel::server;
        Result r;
        try {
            BoundQuery q;
            ColumnNaming naming;
            naming.declared = [this](const QString &, const QString &column) {
                return m_spellings.value(column.toLower());
            };
            if (auto call = parseClassRowsCall(oracleSql))
                q = classRowsQuery(c, *call, naming.declared);
            else
                q.sql = translateOracle(oracleSql, schemaLookup(c), Target::Postgres, naming);
            lastSql = q.sql;
            const pg::Result res = q.binds.isEmpty() ? c.exec(q.sql) : c.exec(q.sql, q.binds);
            for (int i = 0; i < res.columns(); ++i) {
                // A table's own column name (from a *) gets its declared
                // spelling, as the backend names it to the client; an
                // alias stays as written.
                QString name = res.name(i);
                if (res.table(i) != 0 && name == name.toLower() && m_spellings.contains(name)
                    && attributeName(c, res.table(i), res.tableColumn(i)) == name)
                    name = m_spellings.value(name);
                r.columns << name;
            }
            for (int row = 0; row < res.rows(); ++row) {
                QStringList cells;
                for (int i = 0; i < res.columns(); ++i)
                    cells << cell(res, row, i);
                r.rows << cells;
            }
        } catch (const OraError &e) {
            r.error = e.message();
        } catch (const pg::Error &e) {
            r.error = pg::oracleMessage(c, e.failure());
        }
        return r;
    }

    vorel::server::pg::Connection *conn = nullptr; // the session's
    QString lastSql;

private:
    // Cells as the SQLite half writes them (sqlrun.h's cellText).
    static QString cell(const vorel::server::pg::Result &r, int row, int i)
    {
        if (r.isNull(row, i))
            return QStringLiteral("<null>");
        const QString t = r.text(row, i);
        switch (r.type(i)) {
        case 700:  // float4
        case 701:  // float8
        case 1700: // numeric
            return numberCell(t.toDouble());
        case 17: // bytea, \x hex
            return QString::fromUtf8(QByteArray::fromHex(t.mid(2).toLatin1()));
        default:
            return t;
        }
    }

    static QString attributeName(vorel::server::pg::Connection &c, unsigned table, int column)
    {
        const vorel::server::pg::Result r =
            c.exec(QStringLiteral("SELECT attname FROM pg_catalog.pg_attribute WHERE attrelid = $1 AND attnum = $2"),
                   {qlonglong(table), column});
        return r.rows() ? r.text(0, 0) : QString();
    }

    std::unique_ptr<vorel::server::Database> m_session;
    QHash<QString, QString> m_spellings; // VOREL_SPELLING, by lower-case name
};

} // namespace dialecttest
