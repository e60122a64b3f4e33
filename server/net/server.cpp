#include "server/net/server.h"

#include "common/exception.h"
#include "server/core/backend.h"
#include "server/core/database.h"
#include "server/core/oraerror.h"
#include "server/net/director.h"
#include "server/net/peer.h"
#include "server/net/replies.h"
#include "server/net/session.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QRegularExpression>
#include <QSslSocket>
#include <QThread>
#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vorel::server {

namespace {

const char kBadLogin[] = "Usuario o contraseña incorrectos";
// Failed Logins from one address said a minute: the throttle's first few
// delays, each with the user it concerned; the rest are counted.
constexpr int kFailedLoginLines = 5;

// Runs on a thread of the check pool: opens the database, checks the user
// and starts the session's working rows. Nothing here touches the peer.
LoginOutcome checkOnPool(const ServerConfig &config, const QStringList &args, const QString &address,
                         const QString &label)
{
    LoginOutcome out;
    const QString &user = args[0];
    const QString &password = args[1];
    const QString &database = args[2];
    try {
        const ServerConfig::Db *served = config.databaseFor(database);
        if (!served || served->file.isEmpty())
            throw vorel::Exception(QStringLiteral("Base de datos desconocida: ") + database);
        std::unique_ptr<Database> db = served->backend->open(served->file);
        bool rehashed = false;
        if (!db->checkUser(user, password, &rehashed)) {
            if (config.throttle) {
                const auto [forUser, forAddress] = config.throttle->failed(user.trimmed(), address);
                logFrom(address, QStringLiteral("failed Login"),
                        QStringLiteral("%1: failed Login for user %2 (%3 in a row for the user, %4 from the "
                                       "address); the next attempt waits %5 ms")
                            .arg(label, user.trimmed())
                            .arg(forUser)
                            .arg(forAddress)
                            .arg(LoginThrottle::delayAfter(qMax(forUser, forAddress))),
                        kFailedLoginLines);
            }
            throw vorel::Exception(QString::fromUtf8(kBadLogin));
        }
        if (config.throttle)
            config.throttle->succeeded(user.trimmed(), address);
        if (rehashed)
            logLine(QStringLiteral("%1: the password of user %2 was stored as typed; it is kept as a salted hash now")
                        .arg(label, user.trimmed()));
        db->setQueryTimeout(config.queryTimeoutMs);
        db->startSession(user);
        out.db = std::move(db);
        out.user = user.trimmed();
    } catch (const OraError &e) {
        out.error = e.message();
    } catch (const vorel::Exception &e) {
        out.error = e.message();
    } catch (const std::exception &e) {
        out.error = QString::fromUtf8(e.what());
    } catch (...) {
        out.error = QStringLiteral("Error interno del servidor");
    }
    return out;
}

} // namespace

const ServerConfig::Db *ServerConfig::databaseFor(const QString &name) const
{
    for (const Db &db : databases) {
        if (!db.name.isEmpty() && db.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &db;
    }
    for (const Db &db : databases) {
        if (db.name.isEmpty())
            return &db;
    }
    return nullptr;
}

QString ServerConfig::serverFor(const QHostAddress &local) const
{
    if (director) {
        const QString member = director->choose();
        if (!member.isEmpty())
            return member;
    }
    if (!advertise.isEmpty())
        return advertise;
    bool v4 = false;
    const quint32 ip = local.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip).toString() : local.toString();
}

Server::Server(ServerConfig config, QObject *parent) : QTcpServer(parent), m_config(std::move(config))
{
#if defined(__GLIBC__)
    // Packets of rows are built, coded and sent in buffers of a megabyte
    // or so. With glibc's default thresholds each would be a fresh mapping,
    // or heap given back and taken again, whose pages all fault in anew:
    // a walk took a third longer. The heaps go back to the system once the
    // last session is gone (below).
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
    // One arena per core rather than eight: with a thread per session, 800
    // sessions peaked the same and gave back 31 MB of 38 (bench_org);
    // jemalloc peaked 30 % higher and mimalloc 70 % higher, keeping more.
    mallopt(M_ARENA_MAX, qMax(2, QThread::idealThreadCount()));
#endif
    // Checks hash passwords and open databases: a few at a time is what two
    // cores and a database server take; more would only queue inside.
    m_checks.setMaxThreadCount(qBound(2, QThread::idealThreadCount() * 2, 8));
}

Server::~Server()
{
    close();
    m_checks.waitForDone();
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QSslSocket;
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    const QString source = socket->peerAddress().toString();
    // The bound per address holds once the listener is half full: a shift
    // starting behind one NAT address logs in at once unhindered, while a
    // flood from a few addresses is held to its share.
    const bool pressed = m_config.maxStartups <= 0 || int(m_peers.size()) >= m_config.maxStartups / 2;
    if (pressed && m_config.maxStartupsPerSource > 0 && m_perSource.value(source) >= m_config.maxStartupsPerSource) {
        noteSource(source, QStringLiteral("more than %1 connections not logged in from the address; the oldest "
                                          "are closed")
                               .arg(m_config.maxStartupsPerSource));
        if (!shedOldest(source)) {
            delete socket;
            return;
        }
    }
    if (m_config.maxStartups > 0 && int(m_peers.size()) >= m_config.maxStartups) {
        noteSource(QStringLiteral("(all)"), QStringLiteral("more than %1 connections not logged in; the oldest are "
                                                           "closed")
                                                .arg(m_config.maxStartups));
        if (!shedOldest(QString())) {
            delete socket;
            return;
        }
    }
    qint64 hold = 0;
    if (m_config.throttle) {
        hold = m_config.throttle->connectWaitMs(source);
        if (hold > 0)
            noteSource(source, QStringLiteral("many connections without a request; each new one waits %1 ms").arg(hold));
    }
    auto *peer = new Peer(socket, ++m_lastId, this, hold);
    peer->setParent(this);
    m_peers.push_back(peer);
    ++m_perSource[source];
    peer->start();
}

bool Server::shedOldest(const QString &source)
{
    for (Peer *p : m_peers) {
        if (!p->checking() && (source.isEmpty() || p->source() == source)) {
            p->shed();
            return true;
        }
    }
    return false;
}

void Server::peerEnded(Peer *peer)
{
    const auto it = std::find(m_peers.begin(), m_peers.end(), peer);
    if (it == m_peers.end())
        return;
    forget(it);
    if (peer->wasted() && m_config.throttle)
        m_config.throttle->silent(peer->source());
    peer->deleteLater();
}

void Server::forget(std::list<Peer *>::iterator peer)
{
    if (--m_perSource[(*peer)->source()] <= 0)
        m_perSource.remove((*peer)->source());
    m_peers.erase(peer);
}

bool Server::reserveSession()
{
    int now = m_sessions.load();
    do {
        if (m_config.maxSessions > 0 && now >= m_config.maxSessions)
            return false;
    } while (!m_sessions.compare_exchange_weak(now, now + 1));
    return true;
}

void Server::checkLogin(Peer *peer, const QStringList &args)
{
    const int id = peer->id();
    const QString address = peer->source();
    const QString label = peer->label();
    m_checks.start([this, id, args, address, label] {
        auto outcome = std::make_shared<LoginOutcome>(checkOnPool(m_config, args, address, label));
        QMetaObject::invokeMethod(this, [this, id, outcome] { loginChecked(id, outcome); }, Qt::QueuedConnection);
    });
}

void Server::loginChecked(int peerId, const std::shared_ptr<LoginOutcome> &outcome)
{
    const auto it = std::find_if(m_peers.begin(), m_peers.end(), [peerId](Peer *p) { return p->id() == peerId; });
    if (it == m_peers.end() || !outcome->db) {
        --m_sessions;
        if (it != m_peers.end())
            (*it)->loginFailed(outcome->error);
        return; // a peer gone meanwhile: its database closes here
    }
    Peer *peer = *it;
    forget(it);
    startSession(peer, std::move(*outcome));
}

void Server::startSession(Peer *peer, LoginOutcome outcome)
{
    const int id = peer->id();
    const quint32 loginRequest = peer->loginRequest();
    QSslSocket *socket = peer->release();
    peer->deleteLater();

    auto *thread = new QThread;
    socket->moveToThread(thread);
    auto *session = new Session(socket, id, &m_config, std::move(outcome.db), outcome.user, loginRequest);
    session->moveToThread(thread);
    connect(thread, &QThread::started, session, &Session::start);
    {
        const std::lock_guard<std::mutex> lock(m_liveMutex);
        m_live.insert(session);
    }
    connect(session, &Session::finished, thread, &QThread::quit);
    connect(
        session, &Session::finished, this,
        [this, session] {
            {
                const std::lock_guard<std::mutex> lock(m_liveMutex);
                m_live.erase(session);
            }
            --m_sessions;
        },
        Qt::DirectConnection);
#if defined(__GLIBC__)
    // What ended sessions freed stays in malloc's arenas until trimmed: a
    // moment after sessions end it goes back to the system, once for many
    // ending together. Only after the session is deleted: its database and
    // buffers are freed then.
    connect(session, &QObject::destroyed, this, [this] {
        if (!m_trim) {
            m_trim = new QTimer(this);
            m_trim->setSingleShot(true);
            m_trim->setInterval(1000);
            connect(m_trim, &QTimer::timeout, this, [] { malloc_trim(0); });
        }
        if (!m_trim->isActive())
            m_trim->start();
    });
#endif
    connect(thread, &QThread::finished, session, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void Server::noteSource(const QString &source, const QString &what)
{
    // One line per address and kind of event: the figures in a line vary.
    QString kind = what.left(48);
    kind.remove(QRegularExpression(QStringLiteral("[0-9]+")));
    logFrom(source, kind, QStringLiteral("source %1: %2").arg(source, what));
}

void Server::shutdown(int boundMs, std::function<void(bool allEnded)> done)
{
    close();
    for (Peer *peer : std::list<Peer *>(m_peers))
        peer->shed();
    {
        // Queued: each session takes it after the request it is on.
        const std::lock_guard<std::mutex> lock(m_liveMutex);
        for (Session *session : m_live)
            QMetaObject::invokeMethod(session, &Session::stop, Qt::QueuedConnection);
    }
    auto *poll = new QTimer(this);
    const QDeadlineTimer bound(boundMs);
    connect(poll, &QTimer::timeout, this, [this, poll, bound, done] {
        // Logins being checked hold a place too; they find the door shut.
        const bool ended = m_sessions.load() == 0;
        if (!ended && !bound.hasExpired())
            return;
        poll->deleteLater();
        done(ended);
    });
    poll->start(20);
}

void Server::setTls(const QSslConfiguration &tls)
{
    m_config.tls = tls;
    // The shared context was made from the configuration before.
    m_tlsContext.reset();
}

} // namespace vorel::server
