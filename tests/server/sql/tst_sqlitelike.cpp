// The server's own LIKE on SQLite, which a late request can stop midway,
// answers as SQLite's case-sensitive LIKE does; its text search finds what
// indexOf finds, in linear time.
#include "server/backend/sqlite/sqlitelike.h"
#include "server/backend/sqlite/textsearch.h"

#include <QElapsedTimer>
#include <QTest>
#include <sqlite3.h>
#include <thread>

using namespace vorel::server;

namespace {

// `expression` on a connection with SQLite's LIKE (case-sensitive, as the
// server sets it) or with the server's; the value as text, or the error.
QString evaluate(const QString &expression, bool ours)
{
    sqlite3 *db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
    if (ours)
        registerLike(db, nullptr);
    sqlite3_stmt *stmt = nullptr;
    QString out;
    const QByteArray sql = ("SELECT " + expression).toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK) {
        out = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
    } else if (sqlite3_step(stmt) == SQLITE_ROW) {
        out = sqlite3_column_type(stmt, 0) == SQLITE_NULL
                  ? QStringLiteral("NULL")
                  : QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    } else {
        out = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
}

} // namespace

class TstSqliteLike : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersAsSqlite_data()
    {
        QTest::addColumn<QString>("expression");
        const char *const cases[] = {
            "'abc' LIKE 'abc'",
            "'abc' LIKE 'ABC'",
            "'abc' LIKE 'a%'",
            "'abc' LIKE '%c'",
            "'abc' LIKE '%b%'",
            "'abc' LIKE 'a_c'",
            "'abc' LIKE '_'",
            "'' LIKE ''",
            "'' LIKE '%'",
            "'' LIKE '_'",
            "'a' LIKE ''",
            "'abc' LIKE '%%%'",
            "'abc' LIKE 'a%%c'",
            "'abcabd' LIKE '%ab_'",
            "'aaab' LIKE '%a%ab'",
            "'mississippi' LIKE '%iss%ipp%'",
            "'mississippi' LIKE 'm%s_s%i'",
            "'mississippi' LIKE '%issx%'",
            "'año' LIKE 'a_o'",
            "'año' LIKE '__o'",
            "'€uro' LIKE '_uro'",
            "'AÑO' LIKE 'año'",
            "'50%' LIKE '50!%' ESCAPE '!'",
            "'50x' LIKE '50!%' ESCAPE '!'",
            "'a_b' LIKE 'a!_b' ESCAPE '!'",
            "'axb' LIKE 'a!_b' ESCAPE '!'",
            "'a!b' LIKE 'a!!b' ESCAPE '!'",
            "'ab' LIKE 'ab!' ESCAPE '!'",
            "'a%b' LIKE 'a%%b' ESCAPE '%'",
            "'axb' LIKE 'a%%b' ESCAPE '%'",
            "'añb' LIKE 'añ%' ESCAPE 'ñ'",
            "'ab' LIKE 'ab' ESCAPE ''",
            "'ab' LIKE 'ab' ESCAPE 'xy'",
            "'ab' LIKE 'ab' ESCAPE NULL",
            "NULL LIKE 'a'",
            "'a' LIKE NULL",
            "12 LIKE '1%'",
            "1.5 LIKE '1._'",
            "x'6162' LIKE 'ab'",
            "'ab' LIKE x'6162'",
            "'a' || char(0) || 'b' LIKE 'a'",
            "'ab' NOT LIKE 'a%'",
            "like('a%', 'abc')",
            "like('a!%', 'a%', '!')",
            "'x' LIKE printf('%.*c', 1001, '%')",
        };
        for (const char *c : cases)
            QTest::newRow(c) << QString::fromUtf8(c);
    }

    void answersAsSqlite()
    {
        QFETCH(QString, expression);
        QCOMPARE(evaluate(expression, true), evaluate(expression, false));
    }

    // The work of a match grows as text times pattern; a stop asked for
    // from another thread ends it within a few milliseconds.
    void stopsWhenAsked()
    {
        const QByteArray text(3 * 1000 * 1000, 'a');
        const QByteArray pattern = '%' + QByteArray(998, 'a') + 'b';
        std::atomic<bool> stop{false};
        std::thread stopper([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stop = true;
        });
        QElapsedTimer t;
        t.start();
        const LikeOutcome outcome =
            likeMatch(reinterpret_cast<const unsigned char *>(pattern.constData()), size_t(pattern.size()),
                      reinterpret_cast<const unsigned char *>(text.constData()), size_t(text.size()), 0, &stop);
        stopper.join();
        QCOMPARE(outcome, LikeOutcome::Stopped);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    }

    // The text search INSTR and REPLACE use finds what indexOf finds, in
    // order, overlapping or not.
    void searchFindsAsIndexOf_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("overlapping");
        QTest::newRow("none") << QStringLiteral("abcabc") << QStringLiteral("x") << true;
        QTest::newRow("overlapping") << QStringLiteral("aaaaa") << QStringLiteral("aa") << true;
        QTest::newRow("not overlapping") << QStringLiteral("aaaaa") << QStringLiteral("aa") << false;
        QTest::newRow("borders") << QStringLiteral("abababcabababab") << QStringLiteral("ababab") << true;
        QTest::newRow("whole") << QStringLiteral("ñandú") << QStringLiteral("ñandú") << false;
        QTest::newRow("longer") << QStringLiteral("ab") << QStringLiteral("abc") << true;
    }

    void searchFindsAsIndexOf()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QFETCH(bool, overlapping);
        QList<qsizetype> expected, found;
        for (qsizetype at = text.indexOf(pattern); at >= 0;
             at = text.indexOf(pattern, at + (overlapping ? 1 : pattern.size())))
            expected << at;
        TextSearch(pattern).scan(text, 0, overlapping, nullptr, [&](qsizetype at) {
            found << at;
            return true;
        });
        QCOMPARE(found, expected);
    }

    // A pattern of a million characters over three million that nearly
    // match everywhere: hours for a search that starts again at each place,
    // a moment for this one; and a stop asked for is heeded.
    void searchIsLinearAndStops()
    {
        const QString text(3 * 1000 * 1000, u'a');
        const QString pattern = QString(1000 * 1000, u'a') + u'b';
        QElapsedTimer t;
        t.start();
        QCOMPARE(TextSearch(pattern).scan(text, 0, true, nullptr, [](qsizetype) { return true; }),
                 TextSearch::Outcome::Done);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        const std::atomic<bool> stop{true};
        QCOMPARE(TextSearch(pattern).scan(text, 0, true, &stop, [](qsizetype) { return true; }),
                 TextSearch::Outcome::Stopped);
    }
};

QTEST_GUILESS_MAIN(TstSqliteLike)
#include "tst_sqlitelike.moc"
