// The wire between client and server: nothing of a session goes to a server
// the client cannot trust, a server refuses peers in the clear, and a flood
// of connections that never log in does not keep users out.
#include "data/connection.h"
#include "data/servertrust.h"
#include "rawclient.h"
#include "server/net/tlscert.h"
#include "support/testserver.h"

#include "common/exception.h"
#include "common/platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>
#include <sys/resource.h>

using namespace vorel;
using namespace vorel::test;
namespace tls = vorel::server::tls;

namespace {

// A peer in the middle: presents `identity` to the client and passes the
// bytes on to the real server over TLS, as an attacker on the path would.
class Relay : public QObject
{
public:
    Relay(const tls::Identity &identity, quint16 upstream) : m_upstream(upstream)
    {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificate(QSslCertificate(identity.certificatePem));
        c.setPrivateKey(QSslKey(identity.keyPem, QSsl::Ec));
        moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            this,
            [this, c] {
                m_listener = new TlsListener(c, this);
                m_listener->listen(QHostAddress::LocalHost, 0);
                m_port = m_listener->serverPort();
                connect(m_listener, &QTcpServer::newConnection, this, &Relay::accept);
            },
            Qt::BlockingQueuedConnection);
    }
    ~Relay() override
    {
        QMetaObject::invokeMethod(this, [this] { delete m_listener; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }

private:
    void accept()
    {
        while (QTcpSocket *client = m_listener->nextPendingConnection()) {
            auto *up = new QSslSocket(client);
            QSslConfiguration c = QSslConfiguration::defaultConfiguration();
            c.setCaCertificates(QSslCertificate::fromPath(TestServer::certificateFile()));
            up->setSslConfiguration(c);
            connect(client, &QTcpSocket::readyRead, up, [client, up] { up->write(client->readAll()); });
            connect(up, &QSslSocket::readyRead, client, [client, up] { client->write(up->readAll()); });
            connect(client, &QTcpSocket::disconnected, up, &QSslSocket::disconnectFromHost);
            up->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_upstream);
        }
    }

    QThread m_thread;
    quint16 m_upstream;
    quint16 m_port = 0;
    TlsListener *m_listener = nullptr;
};

tls::Identity identity(const QStringList &names, int fromDays, int toDays)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return tls::makeSelfSigned(names, now.addDays(fromDays), now.addDays(toDays));
}

QString openFails(quint16 port)
{
    TSocketConnection c;
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(port);
    try {
        c.Open();
        c.Call(QStringLiteral("Login"), {QStringLiteral("1001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                         QStringLiteral("127.0.0.1")});
    } catch (const vorel::Exception &e) {
        return e.message();
    }
    return QString();
}

// Figures of a process from /proc: threads and resident memory in MB.
std::pair<int, int> threadsAndMemory(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QString text = QString::fromLatin1(f.readAll());
    const auto field = [&text](const char *name) {
        return QRegularExpression(QLatin1String(name) + QStringLiteral(":\\s*(\\d+)")).match(text).captured(1).toInt();
    };
    return {field("Threads"), field("VmRSS") / 1024};
}

// A certificate and key made by the openssl program with `args` (the
// subject and extensions); empty when there is no such program.
tls::Identity opensslIdentity(const QStringList &args)
{
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral("openssl"),
            QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-nodes"),
                        QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-keyout"),
                        dir.filePath(QStringLiteral("k.pem")), QStringLiteral("-out"),
                        dir.filePath(QStringLiteral("c.pem"))}
                + args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QFile c(dir.filePath(QStringLiteral("c.pem"))), k(dir.filePath(QStringLiteral("k.pem")));
    if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
        return {};
    return {c.readAll(), k.readAll()};
}

// Swaps the client's configuration for a folder of the test's own, with
// no CA file: the client trusts on first use.
class FirstUse
{
public:
    FirstUse() : m_ca(qgetenv("VOREL_CA_FILE")), m_config(qgetenv("VOREL_CONFIG_DIR"))
    {
        qunsetenv("VOREL_CA_FILE");
        qputenv("VOREL_CONFIG_DIR", m_dir.path().toLocal8Bit());
    }
    ~FirstUse()
    {
        qputenv("VOREL_CA_FILE", m_ca);
        if (m_config.isEmpty())
            qunsetenv("VOREL_CONFIG_DIR");
        else
            qputenv("VOREL_CONFIG_DIR", m_config);
    }
    QByteArray settings() const
    {
        QFile f(m_dir.filePath(QStringLiteral("settings.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_ca;
    QByteArray m_config;
};

} // namespace

class TstSecureWire : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_REQUIRE_BACKEND();
        QVERIFY2(m_server.start(&m_error), qPrintable(m_error));
        m_ecParameters = m_parameters.filePath(QStringLiteral("ec.pem"));
        QProcess::execute(QStringLiteral("openssl"),
                          {QStringLiteral("ecparam"), QStringLiteral("-name"), QStringLiteral("prime256v1"),
                           QStringLiteral("-out"), m_ecParameters});
        const tls::Identity rsa =
            opensslIdentity({QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-subj"),
                             QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                             QStringLiteral("subjectAltName=IP:127.0.0.1")});
        if (!rsa.certificatePem.isEmpty()) {
            QFile cert(m_parameters.filePath(QStringLiteral("rsa.crt"))),
                key(m_parameters.filePath(QStringLiteral("rsa.key")));
            QVERIFY(cert.open(QIODevice::WriteOnly) && cert.write(rsa.certificatePem) > 0);
            QVERIFY(key.open(QIODevice::WriteOnly) && key.write(rsa.keyPem) > 0);
            cert.close();
            key.close();
            TestServer::Options o;
            o.demo = false;
            o.serveArgs = {QStringLiteral("--tls-cert"), cert.fileName(), QStringLiteral("--tls-key"), key.fileName()};
            m_rsaServer = std::make_unique<TestServer>(o);
            QVERIFY2(m_rsaServer->start(&m_error), qPrintable(m_error));
        }
        // The flood below holds more descriptors than the usual soft limit.
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
        }
    }

    void untrustedServersGetNothing_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("fromDays");
        QTest::addColumn<int>("toDays");
        QTest::addColumn<bool>("inCaFile");
        QTest::addColumn<QString>("why");
        const QStringList local{QStringLiteral("127.0.0.1"), QStringLiteral("localhost")};
        QTest::newRow("relay with another key") << local << -1 << 30 << false
                                                << QStringLiteral("el certificado no lo firma la autoridad de "
                                                                  "certificación de <ca>");
        QTest::newRow("expired") << local << -30 << -1 << true << QStringLiteral("el certificado caducó el <to>");
        QTest::newRow("not yet valid") << local << 2 << 30 << true
                                       << QStringLiteral("el certificado no es válido hasta el <from>");
        QTest::newRow("other host") << QStringList{QStringLiteral("otro.example")} << -1 << 30 << true
                                    << QStringLiteral("el certificado es de otro.example, no de 127.0.0.1");
    }

    void untrustedServersGetNothing()
    {
        QFETCH(QStringList, names);
        QFETCH(int, fromDays);
        QFETCH(int, toDays);
        QFETCH(bool, inCaFile);
        QFETCH(QString, why);
        const tls::Identity other = identity(names, fromDays, toDays);
        QTemporaryDir dir;
        const QString caFile = dir.filePath(QStringLiteral("ca.pem"));
        QFile ca(caFile);
        QVERIFY(ca.open(QIODevice::WriteOnly));
        QFile own(TestServer::certificateFile());
        QVERIFY(own.open(QIODevice::ReadOnly));
        ca.write(own.readAll() + (inCaFile ? other.certificatePem : QByteArray()));
        ca.close();
        const QByteArray before = qgetenv("VOREL_CA_FILE");
        qputenv("VOREL_CA_FILE", caFile.toLocal8Bit());

        Relay relay(other, m_server.port());
        m_server.clearTrace();
        const QString message = openFails(relay.port());
        qputenv("VOREL_CA_FILE", before);

        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString date = QStringLiteral("dd/MM/yyyy");
        const QString reason = QString(why)
                                   .replace(QLatin1String("<ca>"), caFile)
                                   .replace(QLatin1String("<to>"), now.addDays(toDays).toLocalTime().toString(date))
                                   .replace(QLatin1String("<from>"), now.addDays(fromDays).toLocalTime().toString(date));
        QCOMPARE(message, QStringLiteral("El certificado del servidor de aplicaciones 127.0.0.1:%1 no es válido: %2. "
                                         "No se envió nada.")
                              .arg(relay.port())
                              .arg(reason));
        QTest::qWait(100);
        QCOMPARE(m_server.texts(), QStringList());
    }

    void changedCertificateAfterFirstUse()
    {
        FirstUse firstUse;
        // First use: the server's own certificate is remembered.
        QCOMPARE(openFails(m_server.port()), QString());
        const QString pinned = ServerTrust::fingerprint(QSslCertificate::fromPath(TestServer::certificateFile()).first());
        QVERIFY2(firstUse.settings().contains(
                     QStringLiteral("127.0.0.1:%1=%2").arg(m_server.port()).arg(pinned).toLatin1()),
                 firstUse.settings().constData());

        // Another key answers where that server was: a relay, pinned as if
        // the client had met the real server at its address.
        const tls::Identity other = identity({QStringLiteral("127.0.0.1")}, -1, 30);
        Relay relay(other, m_server.port());
        {
            platform::TSettingsStore store;
            store.OpenKey(QLatin1String(ServerTrust::PinKey), true);
            store.WriteString(ServerTrust::pinName(QStringLiteral("127.0.0.1"), relay.port()), pinned);
        }
        const QByteArray settings = firstUse.settings();
        m_server.clearTrace();
        const QString message = openFails(relay.port());
        const QString presented = ServerTrust::fingerprint(QSslCertificate(other.certificatePem));
        QVERIFY2(message.startsWith(QStringLiteral("El certificado del servidor de aplicaciones 127.0.0.1:%1 no es el de "
                                                   "siempre: la huella SHA-256 conocida es %2 y el servidor presenta %3.")
                                        .arg(relay.port())
                                        .arg(pinned, presented)),
                 qPrintable(message));
        QCOMPARE(firstUse.settings(), settings);
        QTest::qWait(100);
        QCOMPARE(m_server.texts(), QStringList());
    }

    void caFileFromTheSettings_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("deployed") << true;
        QTest::newRow("missing") << false;
    }

    void caFileFromTheSettings()
    {
        QFETCH(bool, exists);
        FirstUse noEnvironment;
        const QString named = exists ? TestServer::certificateFile() : QStringLiteral("/nonexistent/vorel-ca.pem");
        {
            platform::TSettingsStore store;
            store.OpenKey(QStringLiteral("\\Software\\Vorel7"), true);
            store.WriteString(QLatin1String(ServerTrust::CaValue), named);
        }
        const QString message = openFails(m_server.port());
        if (exists)
            QCOMPARE(message, QString());
        else
            QVERIFY2(message.startsWith(QStringLiteral("No se puede leer el archivo de autoridades de certificación ")
                                        + named),
                     qPrintable(message));
        // Checked against the file: nothing remembered on first use.
        QVERIFY(!noEnvironment.settings().contains("Certificados"));
    }

    void plaintextOnEitherSide()
    {
        // A client of an earlier release is told why.
        RawClient old;
        QVERIFY(old.connectTo(m_server.port(), false, true));
        proto::Message hello;
        hello.type = proto::MsgType::Hello;
        QCOMPARE(old.error(old.request(hello, 10000)),
                 QStringLiteral("El servidor de aplicaciones solo admite conexiones cifradas (TLS): el cliente debe ser "
                                "de una versión que las use."));
        QVERIFY(old.waitClosed());

        // A server in the clear is refused before anything is sent.
        TestServer::Options o;
        o.serveArgs = {QStringLiteral("--insecure-plaintext")};
        TestServer plain(o);
        QVERIFY2(plain.start(&m_error), qPrintable(m_error));
        QCOMPARE(openFails(plain.port()),
                 QStringLiteral("El servidor de aplicaciones 127.0.0.1:%1 no usa una conexión cifrada (TLS): no se envió "
                                "nada. Compruebe la dirección y el puerto, o actualice el servidor.")
                     .arg(plain.port()));
        QCOMPARE(plain.texts(), QStringList());
    }

    // With a CA file the host name is looked for among the certificate's
    // subject alternative names only: a name found only in its common name
    // (CN) is refused, with the reason.
    void hostNamesOnlyFromAlternativeNames_data()
    {
        QTest::addColumn<QStringList>("opensslArgs");
        QTest::addColumn<QString>("why");
        const QString ecKey = QStringLiteral("ec:") + m_ecParameters;
        QTest::newRow("name only in the CN")
            << QStringList{QStringLiteral("-newkey"), ecKey, QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}
            << QStringLiteral("el certificado nombra al equipo solo en su nombre común (CN), que no se admite; debe "
                              "llevar 127.0.0.1 entre sus nombres alternativos (subjectAltName)");
        QTest::newRow("name in the CN, another in the alternative names")
            << QStringList{QStringLiteral("-newkey"), ecKey,
                           QStringLiteral("-subj"),   QStringLiteral("/CN=127.0.0.1"),
                           QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:otro.example")}
            << QStringLiteral("el certificado es de otro.example, no de 127.0.0.1");
        QTest::newRow("name in the alternative names")
            << QStringList{QStringLiteral("-newkey"), ecKey,
                           QStringLiteral("-subj"),   QStringLiteral("/CN=otro"),
                           QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:otro.example,IP:127.0.0.1")}
            << QString();
    }

    void hostNamesOnlyFromAlternativeNames()
    {
        QFETCH(QStringList, opensslArgs);
        QFETCH(QString, why);
        const tls::Identity made = opensslIdentity(opensslArgs);
        if (made.certificatePem.isEmpty())
            QSKIP("no openssl program to make the certificate");
        QTemporaryDir dir;
        const QString caFile = dir.filePath(QStringLiteral("ca.pem"));
        QFile ca(caFile);
        QVERIFY(ca.open(QIODevice::WriteOnly));
        QFile own(TestServer::certificateFile());
        QVERIFY(own.open(QIODevice::ReadOnly));
        ca.write(own.readAll() + made.certificatePem);
        ca.close();
        const QByteArray before = qgetenv("VOREL_CA_FILE");
        qputenv("VOREL_CA_FILE", caFile.toLocal8Bit());
        Relay relay(made, m_server.port());
        const QString message = openFails(relay.port());
        qputenv("VOREL_CA_FILE", before);
        if (why.isEmpty())
            QCOMPARE(message, QString());
        else
            QCOMPARE(message, QStringLiteral("El certificado del servidor de aplicaciones 127.0.0.1:%1 no es válido: "
                                             "%2. No se envió nada.")
                                  .arg(relay.port())
                                  .arg(why));
    }

    // What the server's TLS takes: on TLS 1.2 an ephemeral key exchange with
    // an AEAD cipher only, though its certificate's RSA key would allow a
    // static one and CBC with SHA-1; TLS 1.3 as it is; and no ticket to
    // resume a session, which no client does.
    void serverTakesForwardSecretSuitesOnly_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("cipher");
        QTest::addColumn<bool>("taken");
        const int v12 = int(QSsl::TlsV1_2), v13 = int(QSsl::TlsV1_3);
        QTest::newRow("static RSA, GCM") << v12 << QStringLiteral("AES128-GCM-SHA256") << false;
        QTest::newRow("static RSA, CBC") << v12 << QStringLiteral("AES256-SHA") << false;
        QTest::newRow("ECDHE, CBC with SHA-1") << v12 << QStringLiteral("ECDHE-RSA-AES128-SHA") << false;
        QTest::newRow("ECDHE, CBC with SHA-256") << v12 << QStringLiteral("ECDHE-RSA-AES128-SHA256") << false;
        QTest::newRow("ECDHE, GCM") << v12 << QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384") << true;
        QTest::newRow("ECDHE, ChaCha20") << v12 << QStringLiteral("ECDHE-RSA-CHACHA20-POLY1305") << true;
        QTest::newRow("TLS 1.3") << v13 << QString() << true;
    }

    void serverTakesForwardSecretSuitesOnly()
    {
        QFETCH(int, protocol);
        QFETCH(QString, cipher);
        QFETCH(bool, taken);
        if (!m_rsaServer)
            QSKIP("no openssl program to make an RSA certificate");
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setProtocol(QSsl::SslProtocol(protocol));
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        // Kept, so that a ticket the server sent would show.
        c.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
        if (!cipher.isEmpty()) {
            const QSslCipher wanted(cipher);
            if (wanted.isNull())
                QSKIP("this OpenSSL does not offer the cipher");
            c.setCiphers({wanted});
        }
        QSslSocket socket;
        socket.setSslConfiguration(c);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_rsaServer->port());
        QCOMPARE(socket.waitForEncrypted(10000), taken);
        if (!taken)
            return;
        // A TLS 1.3 ticket comes after the handshake: an answer read after it
        // would bring it along.
        proto::Message hello;
        hello.type = proto::MsgType::Hello;
        socket.write(proto::encode(hello));
        QVERIFY(socket.waitForReadyRead(10000));
        QTest::qWait(200);
        socket.readAll();
        // A ticket's lifetime would show here (OpenSSL's default is 7200 s).
        const int hint = socket.sslConfiguration().sessionTicketLifeTimeHint();
        QVERIFY2(hint <= 0, qPrintable(QString::number(hint)));
    }

    void certificateMadeBesideTheDatabase()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("nueva.db"));
        QString said;
        QCOMPARE(TestServer::runServer({QStringLiteral("init"), db}, nullptr, &said), 0);
        const QString cert = tls::certificateFileIn(dir.path());
        const QString fp = ServerTrust::fingerprint(QSslCertificate::fromPath(cert).first());
        QVERIFY2(said.contains(fp), qPrintable(fp));
        QCOMPARE(QFile::permissions(tls::keyFileIn(dir.path())) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(TestServer::runServer({QStringLiteral("fingerprint"), db}, nullptr, &said), 0);
        QCOMPARE(said, fp + QLatin1Char('\n'));
    }

    void floodOfSilentPeersLocksNobodyOut()
    {
        TestServer::Options o;
        o.captureLog = true;
        TestServer server(o);
        QVERIFY2(server.start(&m_error), qPrintable(m_error));
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        const auto open = [&](int i, const QByteArray &first) {
            auto s = std::make_unique<QTcpSocket>();
            s->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % 8)), 0);
            s->connectToHost(QStringLiteral("127.0.0.1"), server.port());
            if (!first.isEmpty()) {
                s->waitForConnected(1000);
                s->write(first);
            }
            flood.push_back(std::move(s));
        };
        // 1,000 that say nothing, and 200 that stop inside their handshake:
        // a TLS record header announcing bytes that never come.
        for (int i = 0; i < 1000; ++i)
            open(i, {});
        for (int i = 0; i < 200; ++i)
            open(i, QByteArray::fromHex("1603010200") + QByteArray(60, '\x01'));
        QCoreApplication::processEvents();
        QTest::qWait(500);

        QElapsedTimer t;
        t.start();
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(server.port());
        c.Open();
        c.Call(QStringLiteral("Login"), {QStringLiteral("1001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                         QStringLiteral("127.0.0.1")});
        const qint64 loginMs = t.elapsed();
        auto opened = c.OpenCursor(QStringLiteral("dspModulo"), QStringLiteral("SELECT * FROM vorel.TCLIENTES"), 5);
        qsizetype rows = opened.rows.size();
        for (bool eof = opened.rows.eof; !eof;) {
            const proto::RowBlock block = c.Fetch(opened.cursor, 5);
            rows += block.size();
            eof = block.eof;
        }
        const qint64 walkMs = t.elapsed() - loginMs;
        const auto [threads, megabytes] = threadsAndMemory(server.pid());
        qInfo("login %lld ms, open and walk of %lld rows %lld ms; server: %d threads, %d MB resident, with %zu peers "
              "thrown at it",
              loginMs, qlonglong(rows), walkMs, threads, megabytes, flood.size());
        QVERIFY(rows > 0);
        QVERIFY2(loginMs < 3000, qPrintable(QString::number(loginMs)));
        QVERIFY2(threads > 0 && threads < 40, qPrintable(QString::number(threads)));
        QVERIFY2(megabytes > 0 && megabytes < 300, qPrintable(QString::number(megabytes)));
        // Said once per address, not once per connection.
        const QString log = server.log();
        QCOMPARE(log.count(QStringLiteral("source 127.0.0.2: more than 16 connections not logged in")), 1);
        QVERIFY2(log.count(QLatin1Char('\n')) < 100, qPrintable(log.left(2000)));
    }

private:
    TestServer m_server;
    QString m_error;
    QTemporaryDir m_parameters;
    QString m_ecParameters;
    std::unique_ptr<TestServer> m_rsaServer;
};

QTEST_GUILESS_MAIN(TstSecureWire)
#include "tst_securewire.moc"
