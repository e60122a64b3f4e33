// Soak of the reference server at the protocol level: N clients, each on a
// thread of its own, send T seconds of the traffic a client sends (login,
// greeting, role menu, class opens with their working rows, walks of class
// rows in packets, changes in transactions) and check what comes back. Each
// client's working rows carry its own filter and example, so rows of another
// session in its results are a leak. Prints rounds, errors, leaks and the
// server's resident memory at start, middle and end (2 s after the last
// client left); exits 1 on any error or leak.
//
//   soak_driver CLIENTS SECONDS PORT SERVER_PID
#include "rawclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

using namespace vorel;
using vorel::test::RawClient;
using proto::Message;
using proto::MsgType;

namespace {

struct Totals {
    std::atomic<qint64> rounds{0};
    std::atomic<qint64> errors{0};
    std::atomic<qint64> leaks{0};
    std::atomic<qint64> logRows{0}; // access-log rows committed
    QMutex mutex;
    QStringList firstErrors;

    void error(int client, const QString &what)
    {
        ++errors;
        QMutexLocker lock(&mutex);
        if (firstErrors.size() < 10)
            firstErrors << QStringLiteral("client %1: %2").arg(client).arg(what);
    }
};

qint64 rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

class Client
{
public:
    Client(int index, quint16 port, const QStringList &provinces, Totals &totals)
        : m_index(index), m_port(port), m_totals(totals),
          m_user(QString::number(1001 + index % 8)),
          m_province(provinces.value(index % qMax<qsizetype>(1, provinces.size()))),
          m_letter(QString(QChar(u"aeiou"[index % 5])))
    {
    }

    void run(const QDeadlineTimer &end)
    {
        int sinceLogin = 0;
        while (!end.hasExpired()) {
            if (!m_client || sinceLogin >= 25) {
                if (!connect())
                    continue;
                sinceLogin = 0;
            }
            if (round())
                ++m_totals.rounds;
            ++sinceLogin;
        }
        m_client.reset();
    }

private:
    bool connect()
    {
        m_client = std::make_unique<RawClient>();
        if (!m_client->connectTo(m_port) || !m_client->login(m_user, QStringLiteral("clave"))) {
            m_totals.error(m_index, QStringLiteral("cannot connect and log in"));
            m_client.reset();
            QThread::msleep(200);
            return false;
        }
        return call(QStringLiteral("MenIni"));
    }

    bool failed(const Message &reply, const QString &what)
    {
        if (reply.type != MsgType::Error)
            return false;
        m_totals.error(m_index, what + QStringLiteral(": ") + reply.text);
        if (reply.text.startsWith(QLatin1Char('<')) || reply.requestId == 0)
            m_client.reset(); // the connection is gone
        return true;
    }

    bool call(const QString &method, const QStringList &args = {})
    {
        return !failed(m_client->call(method, args), method + QLatin1Char(' ') + args.join(QLatin1Char(' ')));
    }

    bool ejeDir(const QString &sql) { return call(QStringLiteral("EjeDir"), {sql}); }

    // Opens and walks a query in packets; the rows, or nullopt on failure.
    std::optional<QList<QVariantList>> rows(const QString &provider, const QString &sql, int packet,
                                            QList<proto::Column> *columns = nullptr)
    {
        const Message opened = m_client->open(provider, sql, packet);
        if (failed(opened, sql.left(80)))
            return std::nullopt;
        if (columns)
            *columns = opened.columns;
        QList<QVariantList> all = opened.rows.allRows();
        bool eof = opened.rows.eof;
        while (!eof) {
            const Message more = m_client->fetch(opened.cursor, packet);
            if (failed(more, QStringLiteral("Fetch")))
                return std::nullopt;
            all += more.rows.allRows();
            eof = more.rows.eof;
        }
        if (failed(m_client->closeCursor(opened.cursor), QStringLiteral("CloseCursor")))
            return std::nullopt;
        return all;
    }

    void leak(const QString &what)
    {
        ++m_totals.leaks;
        m_totals.error(m_index, QStringLiteral("leak: ") + what);
    }

    bool round()
    {
        // The role menu, as the shell builds it.
        if (!rows(QStringLiteral("dspMain"),
                  QStringLiteral("SELECT \r\n ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq \r\n"
                                 "FROM vorel.TROLES, Vorel.TUSUROL, Vorel.TCLAROL, Vorel.TCLASES \r\n"
                                 "WHERE USUR_Usua= %1\r\n  And USUR_Admin <> 2\r\n  And USUR_Rol= ROLE_Rol \r\n"
                                 "  And CLAR_Rol= ROLE_Rol \r\n  And CLAR_Activo= 1 \r\n  And CLAR_Menu= 1 \r\n"
                                 "  And CLAS_Clase= CLAR_Clase \r\nORDER BY ROLE_Rol \r\n")
                      .arg(m_user),
                  2))
            return false;
        if (!m_client)
            return false;

        // A class opened with a drill-down condition, an order and an
        // example, in the use case's transaction.
        if (!call(QStringLiteral("StartTran")))
            return false;
        const bool written = ejeDir(QStringLiteral("DELETE FROM vorel.RVFILRAP"))
            && ejeDir(QStringLiteral("DELETE FROM vorel.RQBEX"))
            && ejeDir(QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (NULL, "
                                     "'PROVINCIA= ''%1''')")
                          .arg(m_province))
            && ejeDir(QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'CLIENTE DESC')"))
            && ejeDir(QStringLiteral("INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES "
                                     "(1, 'NOMBRE', '%%1%', 0)")
                          .arg(m_letter));
        if (!written) {
            if (m_client)
                call(QStringLiteral("RollBackTran"));
            return false;
        }
        // The session's working rows are its own.
        const auto filters = rows(QStringLiteral("dspq0"),
                                  QStringLiteral("SELECT VFIL_Filtro, VFIL_Valor FROM vorel.RVFILRAP ORDER BY 1"), -1);
        const auto examples = rows(QStringLiteral("dspq0"),
                                   QStringLiteral("SELECT QBEX_Reg, QBEX_Campo, QBEX_Valor FROM vorel.RQBEX"), -1);
        if (!filters || !examples)
            return false;
        if (filters->size() != 2 || examples->size() != 1
            || examples->at(0).value(2).toString() != QStringLiteral("%%1%").arg(m_letter)
            || !(filters->at(0).value(1).toString() == QStringLiteral("CLIENTE DESC")
                 || filters->at(1).value(1).toString() == QStringLiteral("CLIENTE DESC")))
            leak(QStringLiteral("working rows of another session"));

        QList<proto::Column> columns;
        const auto clients = rows(QStringLiteral("dspModulo"), QStringLiteral("SELECT * FROM TABLE(pCLIENTES.main('VENTAS'))"),
                                  20, &columns);
        if (!clients)
            return false;
        int province = -1, name = -1;
        for (int c = 0; c < columns.size(); ++c) {
            if (columns[c].name == QLatin1String("PROVINCIA"))
                province = c;
            if (columns[c].name == QLatin1String("NOMBRE"))
                name = c;
        }
        for (const QVariantList &row : *clients) {
            if (row.value(province).toString() != m_province
                || !row.value(name).toString().contains(m_letter, Qt::CaseInsensitive)) {
                leak(QStringLiteral("a customer of another session's filter"));
                break;
            }
        }
        if (!call(QStringLiteral("CommitTran")))
            return false;

        // A walk of another class's rows without conditions.
        if (!call(QStringLiteral("StartTran")) || !ejeDir(QStringLiteral("DELETE FROM vorel.RVFILRAP"))
            || !ejeDir(QStringLiteral("DELETE FROM vorel.RQBEX")))
            return false;
        const auto products = rows(QStringLiteral("dspModulo"), QStringLiteral("SELECT * FROM TABLE(pPRODUCTOS.main('COMPRAS'))"), 50);
        if (!products || !call(QStringLiteral("CommitTran")))
            return false;
        if (products->isEmpty())
            leak(QStringLiteral("no products"));

        // A change in a transaction: read, then write, as a method does.
        if (!call(QStringLiteral("StartTran")))
            return false;
        const bool changed =
            rows(QStringLiteral("dspq0"),
                 QStringLiteral("SELECT USUA_Nombre NOMBRE, USUA_eMail email FROM Vorel.TUSUARIOS WHERE USUA_Usua= %1")
                     .arg(m_user),
                 -1)
                .has_value()
            && ejeDir(QStringLiteral("INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) "
                                     "SELECT %1, SESI_Usua, sysdate FROM vorel.RSESION")
                          .arg(9000 + m_index))
            && ejeDir(QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_eMail= 'soak%1@example.es' WHERE USUA_Usua= %2")
                          .arg(m_index)
                          .arg(m_user));
        if (!changed) {
            if (m_client)
                call(QStringLiteral("RollBackTran"));
            return false;
        }
        if (!call(QStringLiteral("CommitTran")))
            return false;
        ++m_totals.logRows;
        return true;
    }

    const int m_index;
    const quint16 m_port;
    Totals &m_totals;
    const QString m_user;
    const QString m_province;
    const QString m_letter;
    std::unique_ptr<RawClient> m_client;
};

qint64 countLog(quint16 port, const QString &where)
{
    RawClient c;
    if (!c.connectTo(port) || !c.login(QStringLiteral("1002"), QStringLiteral("clave")))
        return -1;
    const Message m = c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT count(*) N FROM vorel.TLOGACCESOS WHERE ") + where);
    if (m.type != MsgType::OpenResult || m.rows.isEmpty())
        return -1;
    return m.rows.value(0, 0).toLongLong();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fputs("usage: soak_driver CLIENTS SECONDS PORT SERVER_PID\n", stderr);
        return 2;
    }
    const int clients = qBound(1, args[1].toInt(), 1000);
    const int seconds = qBound(1, args[2].toInt(), 24 * 3600);
    const quint16 port = quint16(args[3].toUInt());
    const qint64 pid = args[4].toLongLong();

    QStringList provinces;
    {
        RawClient c;
        if (!c.connectTo(port) || !c.login(QStringLiteral("1002"), QStringLiteral("clave"))) {
            std::fputs("soak: cannot log in to the server\n", stderr);
            return 1;
        }
        const Message m = c.open(QStringLiteral("dspq0"),
                                 QStringLiteral("SELECT DISTINCT CLIE_Prov FROM vorel.TCLIENTES ORDER BY 1"));
        for (const QVariantList &row : m.rows.allRows())
            provinces << row.value(0).toString();
    }
    const qint64 logBefore = countLog(port, QStringLiteral("LOGA_Cuso >= 9000"));

    Totals totals;
    const qint64 rssStart = rssKb(pid);
    const QDeadlineTimer end(qint64(seconds) * 1000);
    std::vector<QThread *> threads;
    for (int i = 0; i < clients; ++i) {
        threads.push_back(QThread::create([i, port, provinces, &totals, end] {
            Client client(i, port, provinces, totals);
            client.run(end);
        }));
        threads.back()->start();
    }
    QThread::msleep(qMax<qint64>(0, end.remainingTime() / 2));
    const qint64 rssMiddle = rssKb(pid);
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    // The server notices the last disconnections a moment later.
    QThread::msleep(2000);
    const qint64 rssEnd = rssKb(pid);

    // Every committed change is in the database, and nothing else.
    const qint64 logAfter = countLog(port, QStringLiteral("LOGA_Cuso >= 9000"));
    if (logBefore < 0 || logAfter - logBefore != totals.logRows)
        totals.error(-1, QStringLiteral("access log holds %1 new rows, %2 were committed")
                             .arg(logAfter - logBefore)
                             .arg(totals.logRows.load()));

    std::printf("soak: %d clients x %d s: rounds=%lld errors=%lld leaks=%lld committed=%lld "
                "server_rss_kb start=%lld middle=%lld end=%lld\n",
                clients, seconds, (long long)totals.rounds.load(), (long long)totals.errors.load(),
                (long long)totals.leaks.load(), (long long)totals.logRows.load(), (long long)rssStart,
                (long long)rssMiddle, (long long)rssEnd);
    for (const QString &e : totals.firstErrors)
        std::printf("  %s\n", qPrintable(e));
    std::fflush(stdout);
    return totals.errors.load() == 0 && totals.leaks.load() == 0 && totals.rounds.load() > 0 ? 0 : 1;
}
