// Two server processes in front of one database, as several machines serve
// one central PostgreSQL database: what one session commits, the other
// sees; what it has not committed, and its working rows, it does not.
#include "rawclient.h"
#include "support/testserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;

namespace {

// A second vorel-server on the first one's database.
class SecondServer
{
public:
    bool start(const QString &database, QString *error)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(TestServer::serverProgram(),
                        {QStringLiteral("serve"), QStringLiteral("--db"), database, QStringLiteral("--listen"),
                         QStringLiteral("127.0.0.1:0"), QStringLiteral("--tls-cert"), TestServer::certificateFile(),
                         QStringLiteral("--tls-key"), TestServer::keyFile()});
        if (!m_process.waitForStarted(30000) || !m_process.waitForReadyRead(30000)) {
            *error = QStringLiteral("the second server did not start");
            return false;
        }
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        const auto m = listening.match(QString::fromUtf8(m_process.readLine()));
        if (!m.hasMatch()) {
            *error = QStringLiteral("the second server did not report its port");
            return false;
        }
        m_port = quint16(m.captured(1).toUInt());
        return true;
    }
    ~SecondServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

qint64 countOf(RawClient &c, const QString &sql)
{
    const proto::Message m = c.open(QStringLiteral("dspq0"), sql);
    if (m.type != MsgType::OpenResult) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(m.text));
        return -1;
    }
    c.closeCursor(m.cursor);
    return m.rows.value(0, 0).toLongLong();
}

} // namespace

class TstTwoServers : public QObject
{
    Q_OBJECT

private:
    TestServer m_first;
    std::unique_ptr<SecondServer> m_second;

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_REQUIRE_BACKEND();
        QString error;
        QVERIFY2(m_first.start(&error), qPrintable(error));
        m_second = std::make_unique<SecondServer>();
        QVERIFY2(m_second->start(m_first.databaseFile(), &error), qPrintable(error));
    }

    void committedChangesAreSeenThroughTheOther()
    {
        RawClient a, b;
        QVERIFY(a.connectTo(m_first.port()) && a.login());
        QVERIFY(b.connectTo(m_second->port()) && b.login());
        const QString count = QStringLiteral("SELECT count(*) FROM TPARAMS WHERE PARA_Param = 'DOSSERV'");
        QCOMPARE(countOf(b, count), 0);

        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('DOSSERV', 'uno')")})
                     .type,
                 MsgType::CallResult);
        // Its own transaction sees it; the other server's session does not yet.
        QCOMPARE(countOf(a, count), 1);
        QCOMPARE(countOf(b, count), 0);
        QCOMPARE(a.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(countOf(b, count), 1);

        // And back: a change through the second, rolled back, never shows.
        QCOMPARE(b.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'DOSSERV'")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QCOMPARE(countOf(a, count), 1);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'DOSSERV'")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(countOf(a, count), 0);
    }

    void workingRowsStayWithTheirSession()
    {
        RawClient a, b, c;
        QVERIFY(a.connectTo(m_first.port()) && a.login());
        QVERIFY(b.connectTo(m_second->port()) && b.login());
        QVERIFY(c.connectTo(m_first.port()) && c.login());
        const QString insert =
            QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, '%1')");
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {insert.arg(QStringLiteral("A%"))}).type, MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {insert.arg(QStringLiteral("B%"))}).type, MsgType::CallResult);
        const QString mine = QStringLiteral("SELECT count(*) FROM vorel.RVFILRAP WHERE VFIL_Valor = '%1'");
        QCOMPARE(countOf(a, mine.arg(QStringLiteral("A%"))), 1);
        QCOMPARE(countOf(a, mine.arg(QStringLiteral("B%"))), 0);
        QCOMPARE(countOf(b, mine.arg(QStringLiteral("B%"))), 1);
        QCOMPARE(countOf(b, mine.arg(QStringLiteral("A%"))), 0);
        // Another session of the same server and user has none of them.
        QCOMPARE(countOf(c, QStringLiteral("SELECT count(*) FROM vorel.RVFILRAP")), 0);
        // Each session's own row of RSESION names its user.
        QCOMPARE(countOf(b, QStringLiteral("SELECT count(*) FROM vorel.RSESION")), 1);
    }
};

QTEST_GUILESS_MAIN(TstTwoServers)
#include "tst_twoservers.moc"
