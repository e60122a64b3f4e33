// The decimals SQLite's arithmetic computes on: a double reads as the
// shortest digits it was written with, sums and products are exact,
// quotients are rounded half away from zero to 15 digits.
#include "server/backend/sqlite/sqlitedecimal.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

using namespace vorel::server::decimal;

class TstDecimal : public QObject
{
    Q_OBJECT

private slots:
    void readsBackAsTheSameDouble()
    {
        QRandomGenerator random(7);
        for (int i = 0; i < 200000; ++i) {
            // money-like values half the time, any finite double else
            const double d = i % 2 ? double(qint64(random.generate64() % 100000000)) / 100.0
                                   : std::ldexp(random.generateDouble() - 0.5, int(random.bounded(2000)) - 1000);
            Decimal x;
            QVERIFY(fromDouble(d, &x));
            QCOMPARE(nearestDouble(x), d);
        }
        Decimal x;
        QVERIFY(!fromDouble(INFINITY, &x) && !fromDouble(NAN, &x));
        QVERIFY(fromDouble(0.29, &x));
        QCOMPARE(double(x.mantissa) * std::pow(10.0, x.exponent), 0.29);
    }

    void computes_data()
    {
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<char>("op");
        QTest::addColumn<double>("expected");
        QTest::newRow("sum") << 0.1 << 0.2 << '+' << 0.3;
        QTest::newRow("product") << 0.29 << 3.0 << '*' << 0.87;
        QTest::newRow("large product") << 1e20 << 1e20 << '*' << 1e40;
        QTest::newRow("quotient rounded up") << 2.0 << 3.0 << '/' << 0.666666666666667;
        QTest::newRow("negative away from zero") << -2.0 << 3.0 << '/' << -0.666666666666667;
        QTest::newRow("exact quotient") << 1.0 << 8.0 << '/' << 0.125;
        QTest::newRow("quotient of a quotient") << 3.0 << 0.00333333333333333 << '/' << 900.000000000001;
        QTest::newRow("remainder with the dividend's sign") << -7.0 << 0.29 << '%' << -0.04;
        QTest::newRow("remainder far apart") << 1e24 << 3.0 << '%' << 1.0;
    }
    void computes()
    {
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(char, op);
        QFETCH(double, expected);
        Decimal x, y, r;
        QVERIFY(fromDouble(a, &x) && fromDouble(b, &y));
        const bool ok = op == '+' ? add(x, y, &r)
                        : op == '*' ? multiply(x, y, &r)
                        : op == '/' ? divide(x, y, &r)
                                    : remainder(x, y, &r);
        QVERIFY(ok);
        QCOMPARE(nearestDouble(r), expected);
    }

    // Past 38 digits the caller computes in binary instead.
    void refusesWhatDoesNotFit()
    {
        Decimal x, y, r;
        QVERIFY(fromDouble(1e30, &x) && fromDouble(1e-30, &y));
        QVERIFY(!add(x, y, &r));
        QVERIFY(!remainder(x, y, &r));
    }
};

QTEST_APPLESS_MAIN(TstDecimal)
#include "tst_decimal.moc"
