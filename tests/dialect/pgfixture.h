#pragma once
// The PostgreSQL side of the dialect tests: a database of its own on the
// cluster named by VOREL_TEST_PG, holding a copy of the SQLite fixture's
// tables, rows and views (types as the PostgreSQL schema declares them),
// and statements run there the way the server runs them.
#include "server/classrows.h"
#include "server/dialect.h"
#include "server/oraerrors.h"
#include "server/pgconnection.h"
#include "sqlrun.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QMap>
#include <QRegularExpression>
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

// VARCHAR2(n) -> varchar(n), NUMBER(p) -> bigint, NUMBER(p,s) -> double
// precision, NUMBER -> numeric, DATE -> timestamp(0), BLOB -> bytea.
inline QString pgType(const QString &declared)
{
    const QString t = declared.trimmed().toUpper();
    static const QRegularExpression number(QStringLiteral(R"(^NUMBER\s*\(\s*\d+\s*(?:,\s*(\d+)\s*)?\)$)"));
    static const QRegularExpression varchar(QStringLiteral(R"(^VARCHAR2?\s*\((\s*\d+\s*)\)$)"));
    if (const auto m = number.match(t); m.hasMatch())
        return m.captured(1).isEmpty() || m.captured(1).toInt() == 0 ? QStringLiteral("bigint")
                                                                     : QStringLiteral("double precision");
    if (const auto m = varchar.match(t); m.hasMatch())
        return QStringLiteral("varchar(%1)").arg(m.captured(1).trimmed());
    if (t == QLatin1String("NUMBER"))
        return QStringLiteral("numeric");
    if (t == QLatin1String("DATE"))
        return QStringLiteral("timestamp(0)");
    if (t == QLatin1String("BLOB"))
        return QStringLiteral("bytea");
    if (t.contains(QLatin1String("INT")))
        return QStringLiteral("bigint");
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("DOUB")))
        return QStringLiteral("double precision");
    return QStringLiteral("text");
}

// The declared spelling of a column, from the SQLite schema the PostgreSQL
// one copies; what the backend keeps in its table of spellings.
inline vorel::server::ColumnSpelling declaredSpelling(sqlite3 *db)
{
    return [db](const QString &table, const QString &column) -> QString {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE", -1, &st,
                               nullptr)
            != SQLITE_OK)
            return {};
        const QByteArray t = table.toUtf8(), c = column.toUtf8();
        sqlite3_bind_text(st, 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, c.constData(), int(c.size()), SQLITE_TRANSIENT);
        QString out;
        if (sqlite3_step(st) == SQLITE_ROW)
            out = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    };
}

class PgFixture
{
public:
    // Creates the database and copies `lite` into it; false (and why) when
    // the cluster cannot be reached.
    bool open(sqlite3 *lite, QString *why)
    {
        m_lite = lite;
        m_admin = pgUri();
        m_name = QStringLiteral("vorel_dialect_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
        try {
            {
                vorel::server::pg::Connection admin(m_admin);
                admin.exec(QStringLiteral("CREATE DATABASE ") + m_name);
            }
            conn = connect();
            try {
                conn->exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS orafce"));
            } catch (const vorel::server::pg::Error &) {
                // the functions the translation calls do without it
            }
            conn->exec(QStringLiteral("SET search_path = oracle, public, pg_catalog"));
            for (const QString &f : vorel::server::postgresFunctions())
                conn->exec(f);
            // SQLite's total(), which the demo's views sum with: 0 over no rows.
            conn->exec(QStringLiteral("CREATE AGGREGATE public.total(double precision) "
                                      "(sfunc = float8pl, stype = float8, initcond = '0')"));
            copyTables(*conn, false);
            copyTables(*conn, true);
            copyIndexes();
            copyViews();
        } catch (const std::exception &e) {
            *why = QString::fromUtf8(e.what());
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

    // Runs one client statement as the server does on PostgreSQL. A `*`
    // list gets its columns' declared spellings back, as the backend does.
    Result run(const QString &oracleSql, vorel::server::pg::Connection *on = nullptr)
    {
        vorel::server::pg::Connection &c = on ? *on : *conn;
        using namespace vorel::server;
        Result r;
        try {
            BoundQuery q;
            bool star = false;
            if (auto call = parseClassRowsCall(oracleSql)) {
                q = classRowsQuery(c, *call, declaredSpelling(m_lite));
                star = true;
            } else {
                ColumnNaming naming;
                naming.declared = declaredSpelling(m_lite);
                q.sql = translateOracle(oracleSql, schemaLookup(c), Target::Postgres, naming);
                static const QRegularExpression selectStar(QStringLiteral(R"(^\s*select\s+\*)"),
                                                           QRegularExpression::CaseInsensitiveOption);
                star = selectStar.match(oracleSql).hasMatch();
            }
            lastSql = q.sql;
            const pg::Result res = q.binds.isEmpty() ? c.exec(q.sql) : c.exec(q.sql, q.binds);
            for (int i = 0; i < res.columns(); ++i)
                r.columns << (star ? spelled(res.table(i), res.name(i)) : res.name(i));
            for (int row = 0; row < res.rows(); ++row) {
                QStringList cells;
                for (int i = 0; i < res.columns(); ++i)
                    cells << cell(res, row, i);
                r.rows << cells;
            }
        } catch (const OraError &e) {
            r.error = e.message();
        } catch (const pg::Error &e) {
            r.error = QStringLiteral("PG ") + e.failure().sqlstate + QLatin1Char(' ') + e.failure().message;
        }
        return r;
    }

    // Another session on the database: its own working rows, RSESION for
    // `user`.
    std::unique_ptr<vorel::server::pg::Connection> session(const QString &user)
    {
        auto c = connect();
        c->exec(QStringLiteral("SET search_path = oracle, public, pg_catalog"));
        copyTables(*c, true, false);
        c->exec(QStringLiteral("INSERT INTO RSESION (SESI_Usua, SESI_USUADer) VALUES (%1, %1)").arg(user));
        return c;
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

    QString spelled(unsigned table, const QString &name)
    {
        if (table == 0)
            return name;
        const vorel::server::pg::Result r =
            conn->exec(QStringLiteral("SELECT relname FROM pg_catalog.pg_class WHERE oid = $1"), {qlonglong(table)});
        if (r.rows() == 0)
            return name;
        const QString s = declaredSpelling(m_lite)(r.text(0, 0), name);
        return s.isEmpty() ? name : s;
    }

    std::unique_ptr<vorel::server::pg::Connection> connect() const
    {
        QUrl url(m_admin);
        url.setPath(QLatin1Char('/') + m_name);
        return std::make_unique<vorel::server::pg::Connection>(url.toString());
    }

    void copyTables(vorel::server::pg::Connection &to, bool temp, bool rows = true)
    {
        using vorel::server::pg::Connection;
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(m_lite,
                           temp ? "SELECT name FROM sqlite_temp_master WHERE type = 'table'"
                                : "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'",
                           -1, &st, nullptr);
        QStringList tables;
        while (sqlite3_step(st) == SQLITE_ROW)
            tables << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        for (const QString &table : tables) {
            QStringList columns, defs;
            QMap<int, QString> key;
            const QString info = QStringLiteral("SELECT name, type, pk FROM %1.pragma_table_info('%2')")
                                     .arg(temp ? QStringLiteral("temp") : QStringLiteral("main"), table);
            sqlite3_prepare_v2(m_lite, info.toUtf8().constData(), -1, &st, nullptr);
            while (sqlite3_step(st) == SQLITE_ROW) {
                const QString c = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
                const QString t = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
                columns << c;
                defs << c + QLatin1Char(' ') + pgType(t);
                if (sqlite3_column_int(st, 2) > 0)
                    key.insert(sqlite3_column_int(st, 2), c);
            }
            sqlite3_finalize(st);
            // The keys, so that the demo's views are read in the time
            // their joins take with them.
            if (!key.isEmpty())
                defs << QStringLiteral("PRIMARY KEY (%1)").arg(key.values().join(QStringLiteral(", ")));
            to.exec(QStringLiteral("CREATE %1TABLE %2 (%3)")
                        .arg(temp ? QStringLiteral("TEMP ") : QString(), table, defs.join(QStringLiteral(", "))));
            if (rows)
                copyRows(to, table, temp, columns);
        }
    }

    void copyRows(vorel::server::pg::Connection &to, const QString &table, bool temp, const QStringList &columns)
    {
        sqlite3_stmt *st = nullptr;
        const QString sql = QStringLiteral("SELECT * FROM %1.%2").arg(temp ? QStringLiteral("temp") : QStringLiteral("main"), table);
        sqlite3_prepare_v2(m_lite, sql.toUtf8().constData(), -1, &st, nullptr);
        QVariantList params;
        QStringList rows;
        auto flush = [&] {
            if (rows.isEmpty())
                return;
            to.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                           .arg(table, columns.join(QStringLiteral(", ")), rows.join(QStringLiteral(", "))),
                       params);
            params.clear();
            rows.clear();
        };
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList marks;
            for (int i = 0; i < columns.size(); ++i) {
                switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER: params << qlonglong(sqlite3_column_int64(st, i)); break;
                case SQLITE_FLOAT: params << sqlite3_column_double(st, i); break;
                case SQLITE_BLOB:
                    params << QByteArray(reinterpret_cast<const char *>(sqlite3_column_blob(st, i)),
                                         sqlite3_column_bytes(st, i));
                    break;
                case SQLITE_TEXT: {
                    // PostgreSQL holds no empty texts, as Oracle: '' is NULL.
                    const QString t = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)),
                                                        sqlite3_column_bytes(st, i));
                    params << (t.isEmpty() ? QVariant() : QVariant(t));
                    break;
                }
                default: params << QVariant(); break;
                }
                marks << QLatin1Char('$') + QString::number(params.size());
            }
            rows << QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
            if (params.size() > 20000)
                flush();
        }
        sqlite3_finalize(st);
        flush();
    }

    void copyIndexes()
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(m_lite, "SELECT sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL", -1, &st,
                           nullptr);
        QStringList indexes;
        while (sqlite3_step(st) == SQLITE_ROW)
            indexes << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        for (const QString &i : indexes) {
            try {
                conn->exec(i);
            } catch (const vorel::server::pg::Error &) {
            }
        }
    }

    // The views as SQLite holds them; one PostgreSQL cannot read is left
    // out, and the cases reading it fail for want of it.
    void copyViews()
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(m_lite, "SELECT sql FROM sqlite_master WHERE type = 'view' ORDER BY rowid", -1, &st, nullptr);
        QStringList views;
        while (sqlite3_step(st) == SQLITE_ROW)
            views << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        for (const QString &v : views) {
            try {
                conn->exec(v);
            } catch (const vorel::server::pg::Error &) {
            }
        }
    }

    sqlite3 *m_lite = nullptr;
    QString m_admin, m_name;
};

} // namespace dialecttest
