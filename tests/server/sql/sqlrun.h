#pragma once
// Runs statements the way the server does: class rows through classrows,
// everything else through the translator; failures as Oracle texts.
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/core/oraerror.h"
#include "server/backend/sqlite/sqliteclassrows.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteerrors.h"

#include <sqlite3.h>

#include <QStringList>
#include <QVariant>

#include <cmath>

namespace dialecttest {

using namespace vorel::server;

struct Result {
    QStringList columns;
    QList<QStringList> rows; // values as text, NULL as <null>
    QString error;
};

// A number as both engines' answers are compared: whole ones without a
// fraction, the rest to 15 digits.
inline QString numberCell(double d)
{
    return std::fabs(d) < 9e18 && d == std::trunc(d) ? QString::number(qint64(d)) : QString::number(d, 'g', 15);
}

inline QString cellText(sqlite3_stmt *st, int i)
{
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL: return QStringLiteral("<null>");
    case SQLITE_FLOAT: return numberCell(sqlite3_column_double(st, i));
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)),
                                 sqlite3_column_bytes(st, i));
    }
}

inline Result run(sqlite3 *db, const QString &oracleSql)
{
    Result r;
    try {
        if (const auto steps = mergeSteps(oracleSql, schemaLookup(db))) {
            runMerge(
                db, *steps,
                [db](const QString &sql, bool) {
                    sqlite3_stmt *st = nullptr;
                    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
                        sqlite3_finalize(st);
                        throw OraError(oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))));
                    }
                    return st;
                },
                [db] { return oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))); });
            return r;
        }
        BoundQuery q;
        if (auto call = parseClassRowsCall(oracleSql))
            q = classRowsQuery(db, *call);
        else
            q.sql = translateOracle(oracleSql, schemaLookup(db));
        sqlite3_stmt *st = nullptr;
        const QByteArray sql = q.sql.toUtf8();
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
            r.error = oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_finalize(st);
            return r;
        }
        for (int i = 0; i < q.binds.size(); ++i) {
            const QVariant &v = q.binds[i];
            if (v.isNull()) {
                sqlite3_bind_null(st, i + 1);
            } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
                sqlite3_bind_int64(st, i + 1, v.toLongLong());
            } else if (v.typeId() == QMetaType::Double) {
                sqlite3_bind_double(st, i + 1, v.toDouble());
            } else {
                const QByteArray t = v.toString().toUtf8();
                sqlite3_bind_text(st, i + 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            }
        }
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            r.columns << QString::fromUtf8(sqlite3_column_name(st, i));
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                row << cellText(st, i);
            r.rows << row;
        }
        if (rc != SQLITE_DONE)
            r.error = oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(st);
    } catch (const OraError &e) {
        r.error = e.message();
    }
    return r;
}

inline void raw(sqlite3 *db, const QString &sql)
{
    char *err = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const QString m = QString::fromUtf8(err);
        sqlite3_free(err);
        throw OraError(m);
    }
}

} // namespace dialecttest
