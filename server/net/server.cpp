#include "server/net/server.h"

#include "common/exception.h"
#include "server/core/backend.h"
#include "server/core/database.h"
#include "server/core/metrics.h"
#include "server/core/oraerror.h"
#include "server/net/director.h"
#include "server/net/peer.h"
#include "server/net/replies.h"
#include "server/net/session.h"
#include "server/net/sockopts.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QThread>
#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vorel::server {

namespace {

const char kBadLogin[] = "Usuario o contraseña incorrectos";
const char kDraining[] = "El servidor de aplicaciones se detiene y no admite sesiones nuevas. Inténtelo más tarde.";
// Failed Logins from one address said a minute: the throttle's first few
// delays, each with the user it concerned; the rest are counted.
constexpr int kFailedLoginLines = 5;

// Runs on a thread of the check pool: opens the database, checks the user
// and starts the session's working rows. Nothing here touches the peer.
// `verdict` runs once the password is judged, before the session starts.
LoginOutcome checkOnPool(const ServerConfig &config, const QStringList &args, const QString &address,
                         const QString &label, const std::function<void()> &verdict)
{
    LoginOutcome out;
    const QString user = canonicalUser(args[0]);
    const QString &password = args[1];
    const QString &database = args[2];
    bool clientFault = false;
    try {
        const ServerConfig::Db *served = config.databaseFor(database);
        if (!served || served->file.isEmpty()) {
            clientFault = true;
            throw vorel::Exception(QStringLiteral("Base de datos desconocida: ") + database);
        }
        std::unique_ptr<Database> db = served->backend->open(served->file);
        bool rehashed = false;
        // A number in another form is no user: it costs a hash all the same,
        // as an unknown user does, so that the time taken tells nothing.
        const bool known =
            user.isEmpty() ? (Database::spendHash(password), false) : db->checkUser(user, password, &rehashed);
        if (known) {
            if (config.throttle)
                config.throttle->succeeded(user, address);
            verdict();
        }
        if (!known) {
            clientFault = true;
            const QString counted = user.isEmpty() ? args[0].trimmed() : user;
            if (config.throttle) {
                const auto [forUser, forAddress] = config.throttle->failed(counted, address);
                out.retryMs = LoginThrottle::delayAfter(qMax(forUser, forAddress));
                logFrom(address, QStringLiteral("failed Login"),
                        QStringLiteral("%1: failed Login for user %2 (%3 in a row for the user, %4 from the "
                                       "address); the next attempt waits %5 ms")
                            .arg(label, counted)
                            .arg(forUser)
                            .arg(forAddress)
                            .arg(out.retryMs),
                        kFailedLoginLines);
            }
            throw vorel::Exception(QString::fromUtf8(kBadLogin));
        }
        if (rehashed)
            logLine(QStringLiteral("%1: the password of user %2 was stored as typed; it is kept as a salted hash now")
                        .arg(label, user));
        db->setQueryTimeout(config.queryTimeoutMs);
        db->startSession(user);
        out.db = std::move(db);
        out.user = user;
    } catch (const OraError &e) {
        out.error = e.message();
    } catch (const vorel::Exception &e) {
        out.error = e.message();
    } catch (const std::exception &e) {
        out.error = QString::fromUtf8(e.what());
    } catch (...) {
        out.error = QStringLiteral("Error interno del servidor");
    }
    out.serverFault = !out.db && !clientFault;
    return out;
}

} // namespace

QString canonicalUser(const QString &typed)
{
    static const QRegularExpression number(QStringLiteral("^(0|[1-9][0-9]{0,17})$"));
    const QString user = typed.trimmed();
    return number.match(user).hasMatch() ? user : QString();
}

int ServerConfig::sessionsPerUser() const
{
    // One person works in a few windows, not in half the server's places.
    if (maxSessionsPerUser > 0)
        return maxSessions > 0 ? qMin(maxSessionsPerUser, maxSessions) : maxSessionsPerUser;
    return maxSessions > 0 ? qMax(1, maxSessions / 2) : 0;
}

int ServerConfig::sessionsPerSource() const
{
    // A branch office behind one address takes most of a server, never all.
    if (maxSessionsPerSource > 0)
        return maxSessions > 0 ? qMin(maxSessionsPerSource, maxSessions) : maxSessionsPerSource;
    return maxSessions > 0 ? qMax(1, maxSessions - maxSessions / 8) : 0;
}

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
    m_dueTimer.setSingleShot(true);
    connect(&m_dueTimer, &QTimer::timeout, this, &Server::runDue);
}

Server::~Server()
{
    stopListening();
    for (const Parked &p : m_parked)
        sockopts::closeRaw(p.descriptor);
    m_checks.waitForDone();
}

bool Server::start(const QHostAddress &address, quint16 port)
{
    if (!listen(address, port))
        return false;
    // Qt would accept everything waiting in one go, building a socket for
    // each before any bound applies; the listener takes them itself.
    pauseAccepting();
    auto *notifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Server::acceptSome);
    m_acceptor = notifier;
    return true;
}

void Server::stopListening()
{
    delete m_acceptor;
    m_acceptor = nullptr;
    close();
}

void Server::acceptSome()
{
    // What is left waits for the next turn of the event loop, after the
    // peers' handshakes, the Logins' answers and the metrics page.
    for (int i = 0; i < kAcceptsPerTurn && m_acceptor; ++i) {
        const qintptr fd = sockopts::acceptOne(socketDescriptor());
        if (fd < 0)
            return;
        incomingConnection(fd);
    }
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    const QHostAddress address = sockopts::peerAddress(socketDescriptor);
    if (address.isNull() || m_draining) {
        sockopts::closeRaw(socketDescriptor);
        return;
    }
    const QString source = address.toString();
    if (admit(socketDescriptor, source))
        return;
    // No room now: the connection waits unserved, costing a descriptor.
    if (m_parkedPerSource.value(source) >= kParkedPerSource || int(m_parked.size()) >= kParked) {
        noteSource(source, QStringLiteral("more than %1 connections waiting to be served; new ones are refused")
                               .arg(m_parkedPerSource.value(source)));
        Metrics::instance().refusedPeer();
        sockopts::closeRaw(socketDescriptor);
        return;
    }
    const qint64 now = QDeadlineTimer::current().deadline();
    m_parked.push_back({socketDescriptor, source, now});
    ++m_parkedPerSource[source];
    tickParked();
}

void Server::tickParked()
{
    // Those waiting too long are closed as time passes, with no event to
    // say so: while some wait, they are looked at again every second.
    if (m_parkTick || m_parked.empty())
        return;
    m_parkTick = true;
    wake(nullptr, 0, 1000);
}

void Server::admitParkedSoon()
{
    // Once per turn of the loop however many peers left meanwhile.
    if (m_admitQueued)
        return;
    m_admitQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_admitQueued = false;
            admitParked();
        },
        Qt::QueuedConnection);
}

bool Server::admit(qintptr descriptor, const QString &source, bool quiet)
{
    // The bound per address holds once the listener is half full: a shift
    // starting behind one NAT address logs in at once unhindered, while a
    // flood from a few addresses is held to its share.
    const int idle = int(m_idle.size());
    const bool pressed = m_config.maxStartups <= 0 || idle >= m_config.maxStartups / 2;
    if (pressed && m_config.maxStartupsPerSource > 0 && m_perSource.value(source) >= m_config.maxStartupsPerSource) {
        if (!quiet)
            noteSource(source, QStringLiteral("more than %1 connections not logged in from the address; new ones "
                                              "wait for room")
                                   .arg(m_config.maxStartupsPerSource));
        return false;
    }
    if (m_config.maxStartups > 0 && int(m_idle.size()) >= m_config.maxStartups) {
        if (!quiet)
            noteSource(QStringLiteral("(all)"), QStringLiteral("more than %1 connections not logged in; the oldest "
                                                               "of the busiest address are closed")
                                                    .arg(m_config.maxStartups));
        if (!shedForRoom(source))
            return false;
    }
    sockopts::findDeadPeers(descriptor);
    auto *socket = new QSslSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        sockopts::closeRaw(descriptor);
        return true;
    }
    qint64 hold = 0;
    if (m_config.throttle) {
        hold = m_config.throttle->connectWaitMs(source);
        if (hold > 0)
            noteSource(source, QStringLiteral("many connections without a request; each new one waits %1 ms").arg(hold));
    }
    auto *peer = new Peer(socket, ++m_lastId, this, source, hold);
    peer->setParent(this);
    m_byId.emplace(peer->id(), peer);
    listIdle(peer);
    peer->start();
    return true;
}

void Server::admitParked()
{
    const qint64 now = QDeadlineTimer::current().deadline();
    for (auto it = m_parked.begin(); it != m_parked.end();) {
        const Parked p = *it;
        // Its client has given up waiting, or is about to.
        const bool stale = m_config.loginTimeoutMs > 0 && now - p.since >= m_config.loginTimeoutMs;
        if (!m_draining && !stale && !admit(p.descriptor, p.source, true)) {
            ++it;
            continue;
        }
        if (stale || m_draining)
            sockopts::closeRaw(p.descriptor);
        if (--m_parkedPerSource[p.source] <= 0)
            m_parkedPerSource.remove(p.source);
        it = m_parked.erase(it);
    }
    tickParked();
}

bool Server::shedForRoom(const QString &source)
{
    // The address holding the most places gives one up: a flood from a few
    // addresses cannot keep a quiet one out, and a real client is never the
    // oldest of a flood for long. One of the busiest addresses waits.
    QString busiest;
    int most = 0;
    for (auto it = m_perSource.constBegin(); it != m_perSource.constEnd(); ++it) {
        if (it.value() > most) {
            most = it.value();
            busiest = it.key();
        }
    }
    if (busiest.isEmpty() || most <= m_perSource.value(source) + 1)
        return false;
    for (Peer *p : m_idle) {
        if (p->source() == busiest) {
            p->m_shedding = true;
            p->shed();
            return true;
        }
    }
    return false;
}

void Server::listIdle(Peer *peer)
{
    if (peer->m_listed)
        return;
    peer->m_place = m_idle.insert(m_idle.end(), peer);
    peer->m_listed = true;
    ++m_perSource[peer->source()];
}

void Server::unlistIdle(Peer *peer)
{
    if (!peer->m_listed)
        return;
    m_idle.erase(peer->m_place);
    peer->m_listed = false;
    if (--m_perSource[peer->source()] <= 0)
        m_perSource.remove(peer->source());
}

void Server::loginSent(Peer *peer)
{
    unlistIdle(peer);
    if (!m_parked.empty())
        admitParkedSoon();
}

void Server::loginQueued(Peer *peer)
{
    if (peer->m_inQueue)
        return;
    peer->m_queuePlace = m_loginQueue.insert(m_loginQueue.end(), peer);
    peer->m_inQueue = true;
    loginSent(peer);
}

void Server::loginUnqueued(Peer *peer)
{
    if (peer->m_inQueue) {
        m_loginQueue.erase(peer->m_queuePlace);
        peer->m_inQueue = false;
    }
    if (m_byId.count(peer->id()))
        listIdle(peer);
}

void Server::takeQueuedLogins()
{
    // In arrival order, each whose user and address have no attempt in
    // flight now; taking one may end peers or queue others, hence the ids.
    std::vector<int> ids;
    for (Peer *p : m_loginQueue)
        if (m_draining || (!checkingUser(p->loginUser()) && !checkingSource(p->source())))
            ids.push_back(p->id());
    for (int id : ids) {
        const auto it = m_byId.find(id);
        if (it != m_byId.end())
            it->second->takeQueuedLogin();
    }
}

void Server::loginAnswered(Peer *peer)
{
    if (m_byId.count(peer->id()))
        listIdle(peer);
}

void Server::peerEnded(Peer *peer)
{
    if (!m_byId.erase(peer->id()))
        return;
    unlistIdle(peer);
    if (peer->m_inQueue) {
        m_loginQueue.erase(peer->m_queuePlace);
        peer->m_inQueue = false;
    }
    if (peer->wasted() && m_config.throttle)
        m_config.throttle->silent(peer->source());
    // Shed for room, from the listener's own accepting: nothing of the peer
    // is on the stack, and a flood should not leave its peers to a later turn.
    if (peer->shedding())
        delete peer;
    else
        peer->deleteLater();
    if (!m_parked.empty())
        admitParkedSoon();
}

void Server::forget(Peer *peer)
{
    m_byId.erase(peer->id());
    unlistIdle(peer);
    if (peer->m_inQueue) {
        m_loginQueue.erase(peer->m_queuePlace);
        peer->m_inQueue = false;
    }
    if (!m_parked.empty())
        admitParkedSoon();
}

void Server::wake(Peer *peer, int what, qint64 ms)
{
    const qint64 at = QDeadlineTimer::current().deadline() + qMax<qint64>(0, ms);
    m_due.push({at, peer ? peer->id() : 0, what});
    if (m_due.top().at == at)
        m_dueTimer.start(int(qMax<qint64>(0, ms)));
}

void Server::runDue()
{
    const qint64 now = QDeadlineTimer::current().deadline();
    bool parkedDue = false;
    while (!m_due.empty() && m_due.top().at <= now) {
        const Due due = m_due.top();
        m_due.pop();
        if (due.peer == 0) {
            parkedDue = true;
            m_parkTick = false;
            continue;
        }
        const auto it = m_byId.find(due.peer);
        if (it != m_byId.end())
            it->second->due(due.what);
    }
    if (parkedDue)
        admitParked();
    if (!m_due.empty())
        m_dueTimer.start(int(qMax<qint64>(0, m_due.top().at - QDeadlineTimer::current().deadline())));
}

int Server::loginRoom() const
{
    if (m_draining)
        return 0;
    return m_config.maxSessions > 0 ? qMax(0, m_config.maxSessions - m_sessions.load()) : 1 << 20;
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

bool Server::reservePlaces(const QString &user, const QString &source)
{
    const std::lock_guard<std::mutex> lock(m_liveMutex);
    const int perUser = m_config.sessionsPerUser();
    const int perSource = m_config.sessionsPerSource();
    if ((perUser > 0 && m_sessionsOfUser.value(user) >= perUser)
        || (perSource > 0 && m_sessionsOfSource.value(source) >= perSource))
        return false;
    ++m_sessionsOfUser[user];
    ++m_sessionsOfSource[source];
    return true;
}

void Server::releasePlaces(const QString &user, const QString &source)
{
    const std::lock_guard<std::mutex> lock(m_liveMutex);
    if (--m_sessionsOfUser[user] <= 0)
        m_sessionsOfUser.remove(user);
    if (--m_sessionsOfSource[source] <= 0)
        m_sessionsOfSource.remove(source);
}

QString Server::reserveLogin(const QString &user, const QString &source)
{
    if (m_draining)
        return QString::fromUtf8(kDraining);
    if (!reserveSession()) {
        noteSource(source, QStringLiteral("Login refused: %1 sessions already open").arg(m_config.maxSessions));
        return QStringLiteral("El servidor de aplicaciones está ocupado: atiende ya el máximo de %1 sesiones. "
                              "Inténtelo más tarde.")
            .arg(m_config.maxSessions);
    }
    if (!reservePlaces(user, source)) {
        --m_sessions;
        noteSource(source, QStringLiteral("Login refused: the user or the address holds its most sessions"));
        return QStringLiteral("El servidor de aplicaciones no admite más sesiones de este usuario (%1) o de esta "
                              "dirección (%2). Cierre alguna e inténtelo de nuevo.")
            .arg(m_config.sessionsPerUser())
            .arg(m_config.sessionsPerSource());
    }
    return QString();
}

bool Server::checkingSource(const QString &source) const
{
    const int checking = m_checkingSources.value(source);
    if (checking == 0)
        return false;
    const bool suspect = m_config.throttle && m_config.throttle->suspect(QString(), source);
    return checking >= (suspect ? 1 : kChecksPerSource);
}

void Server::loginRefused(const QString &user, const QString &source)
{
    releasePlaces(user, source);
    --m_sessions;
}

void Server::checkLogin(Peer *peer, const QStringList &args)
{
    const int id = peer->id();
    const QString address = peer->source();
    const QString label = peer->label();
    const QString user = peer->loginUser();
    ++m_checkingUsers[user];
    ++m_checkingSources[address];
    m_checks.start([this, id, args, address, label, user] {
        // The next attempt of the user or the address waits for the
        // password's verdict only, not for the session's start.
        bool judged = false;
        auto verdict = [&] {
            if (std::exchange(judged, true))
                return;
            QMetaObject::invokeMethod(
                this, [this, user, address] { loginJudged(user, address); }, Qt::QueuedConnection);
        };
        auto outcome = std::make_shared<LoginOutcome>(checkOnPool(m_config, args, address, label, verdict));
        if (!outcome->db)
            verdict(); // after the throttle counted the failure
        QMetaObject::invokeMethod(
            this, [this, id, user, address, outcome] { loginChecked(id, user, address, outcome); },
            Qt::QueuedConnection);
    });
}

void Server::loginJudged(const QString &user, const QString &source)
{
    if (--m_checkingUsers[user] <= 0)
        m_checkingUsers.remove(user);
    if (--m_checkingSources[source] <= 0)
        m_checkingSources.remove(source);
    takeQueuedLogins();
}

void Server::loginChecked(int peerId, const QString &user, const QString &source,
                          const std::shared_ptr<LoginOutcome> &outcome)
{
    if (outcome->db)
        m_loginPathUp = true;
    else if (outcome->serverFault && m_loginPathUp.exchange(false)) {
        logLine(QStringLiteral("logins fail on the server's side (%1): the health check says so until the "
                               "database answers again")
                    .arg(outcome->error));
        probeLoginPath();
    }
    const auto it = m_byId.find(peerId);
    Peer *peer = it == m_byId.end() ? nullptr : it->second;
    if (!peer || !outcome->db || m_draining) {
        loginRefused(user, source);
        if (peer)
            peer->loginFailed(outcome->db ? QString::fromUtf8(kDraining) : outcome->error,
                              outcome->db ? 0 : outcome->retryMs);
    } else {
        forget(peer);
        startSession(peer, std::move(*outcome));
    }
    // A peer gone meanwhile: its database closes here.
}

void Server::probeLoginPath()
{
    if (m_probing || m_loginPathUp.load())
        return;
    m_probing = true;
    // Opens each database as a Login would, every 2 s until one opens: the
    // director sends no client while the way to log in is broken, so no
    // Login would tell.
    QTimer::singleShot(2000, this, [this] {
        m_checks.start([this] {
            bool up = true;
            for (const ServerConfig::Db &db : m_config.databases) {
                try {
                    if (!db.file.isEmpty())
                        db.backend->open(db.file);
                } catch (...) {
                    up = false;
                }
            }
            QMetaObject::invokeMethod(
                this,
                [this, up] {
                    m_probing = false;
                    if (up && !m_loginPathUp.exchange(true))
                        logLine(QStringLiteral("the databases answer again: logins are taken"));
                    probeLoginPath();
                },
                Qt::QueuedConnection);
        });
    });
}

void Server::startSession(Peer *peer, LoginOutcome outcome)
{
    const int id = peer->id();
    const quint32 loginRequest = peer->loginRequest();
    const QString user = peer->loginUser();
    const QString source = peer->source();
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
        [this, session, user, source] {
            {
                const std::lock_guard<std::mutex> lock(m_liveMutex);
                m_live.erase(session);
            }
            releasePlaces(user, source);
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

void Server::shutdown(int boundMs, int graceMs, std::function<void(bool allEnded)> done)
{
    m_draining = true;
    stopListening();
    admitParked(); // closes them
    while (!m_idle.empty()) {
        m_idle.front()->m_shedding = true;
        m_idle.front()->shed();
    }
    takeQueuedLogins(); // answered that the server stops
    {
        // Queued: each session takes it after the request it is on.
        const std::lock_guard<std::mutex> lock(m_liveMutex);
        for (Session *session : m_live)
            QMetaObject::invokeMethod(session, &Session::drain, Qt::QueuedConnection);
    }
    auto *poll = new QTimer(this);
    const QDeadlineTimer bound(boundMs);
    const QDeadlineTimer endNow(qMax(0, boundMs - graceMs));
    auto ended = std::make_shared<bool>(false);
    connect(poll, &QTimer::timeout, this, [this, poll, bound, endNow, done, ended] {
        // Logins being checked hold a place too; they find the door shut.
        const bool all = m_sessions.load() == 0;
        const bool hurried = m_hurryUntil >= 0;
        const bool over = bound.hasExpired() || (hurried && QDeadlineTimer::current().deadline() >= m_hurryUntil);
        if (!all && !over) {
            if ((endNow.hasExpired() || hurried) && !*ended) {
                *ended = true;
                const std::lock_guard<std::mutex> lock(m_liveMutex);
                for (Session *session : m_live)
                    QMetaObject::invokeMethod(session, &Session::stop, Qt::QueuedConnection);
            }
            return;
        }
        poll->deleteLater();
        done(all);
    });
    poll->start(20);
}

void Server::hurry(int boundMs) { m_hurryUntil = QDeadlineTimer::current().deadline() + boundMs; }

void Server::setTls(const QSslConfiguration &tls)
{
    m_config.tls = tls;
    // The shared context was made from the configuration before.
    m_tlsContext.reset();
}

} // namespace vorel::server
