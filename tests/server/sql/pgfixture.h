#pragma once
// The PostgreSQL side of the dialect tests: a database of its own on the
// cluster named by VOREL_TEST_PG, built as the server builds one (schema,
// demo, then the fixture's script of fixture.h), and statements run there
// the way the server runs them.
#include "fixture.h"
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/schema/oraclescript.h"
#include "server/core/oraerror.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgerrors.h"
#include "server/backend/postgres/pgschema.h"
#include "sqlrun.h"
#include "server/backend/postgres/pgclassrows.h"
#include "server/backend/postgres/pgdialect.h"

#include <QElapsedTimer>
#include <QHash>
#include <QUrl>
#include <QUuid>
#include <memory>

namespace dialecttest {

inline const char *pgSkipReason()
{
    return "PostgreSQL not available: VOREL_TEST_PG is not set";
}

inline QString pgUri()
{
    return qEnvironmentVariable("VOREL_TEST_PG");
}

class PgFixture
{
public:
    // Creates the database and fills it; false (and why) when the cluster
    // cannot be reached or the database cannot be built.
    bool open(QString *why)
    {
        m_admin = pgUri();
        m_name = QStringLiteral("vorel_dialect_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
        try {
            {
                vorel::server::pg::Connection admin(m_admin);
                admin.exec(QStringLiteral("CREATE DATABASE ") + m_name);
            }
            QElapsedTimer timer;
            timer.start();
            conn = connect();
            vorel::server::pg::createSchema(*conn);
            vorel::server::pg::fillDemo(*conn);
            vorel::server::pg::runOracleScript(*conn, QString::fromUtf8(fixtureScript()), fixtureFiles());
            vorel::server::pg::createSessionTables(*conn, QStringLiteral("990001"));
            const vorel::server::pg::Result r = conn->exec(QStringLiteral("SELECT NAME FROM VOREL_SPELLING"));
            for (int i = 0; i < r.rows(); ++i)
                m_spellings.insert(r.text(i, 0).toLower(), r.text(i, 0));
            qInfo("PostgreSQL database built in %lld ms", timer.elapsed());
        } catch (const vorel::server::pg::Error &e) {
            *why = QString::fromUtf8(e.what());
            return false;
        } catch (const vorel::server::OraError &e) {
            *why = e.message();
            return false;
        }
        return true;
    }

    void close()
    {
        conn.reset();
        if (m_name.isEmpty())
            return;
        try {
            vorel::server::pg::Connection admin(m_admin);
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
        } catch (const std::exception &) {
        }
        m_name.clear();
    }

    // Runs one client statement as the server does on PostgreSQL: the
    // declared spellings name the columns, failures are Oracle's texts.
    Result run(const QString &oracleSql, vorel::server::pg::Connection *on = nullptr)
    {
        vorel::server::pg::Connection &c = on ? *on : *conn;
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

    // Another session on the database: its own working rows, RSESION for
    // `user`.
    std::unique_ptr<vorel::server::pg::Connection> session(const QString &user)
    {
        auto c = connect();
        vorel::server::pg::createSessionTables(*c, user);
        return c;
    }

    // The database's own URI, for a server session on it.
    QString uri() const
    {
        QUrl url(m_admin);
        url.setPath(QLatin1Char('/') + m_name);
        return url.toString();
    }

    std::unique_ptr<vorel::server::pg::Connection> conn;
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
        {
            const double d = t.toDouble();
            return d == qint64(d) ? QString::number(qint64(d)) : QString::number(d, 'g', 15);
        }
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

    // A connection set up as the server sets up a session's.
    std::unique_ptr<vorel::server::pg::Connection> connect() const
    {
        auto c = std::make_unique<vorel::server::pg::Connection>(uri());
        c->exec(vorel::server::PgDatabase::sessionSettings());
        return c;
    }

    QString m_admin, m_name;
    QHash<QString, QString> m_spellings; // VOREL_SPELLING, by lower-case name
};

} // namespace dialecttest
