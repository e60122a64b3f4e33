#include "support/faultproxy.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <deque>
#include <list>
#include <map>
#include <optional>

#include <sys/socket.h>

namespace vorel::test {

namespace {
constexpr int kDelayMs = 300;
}

class FaultRelay : public QObject
{
public:
    quint16 listen()
    {
        m_clock.start();
        m_listener = new QTcpServer(this);
        connect(m_listener, &QTcpServer::newConnection, this, [this] { accept(); });
        m_listener->listen(QHostAddress::LocalHost, 0);
        return m_listener->serverPort();
    }

    quint16 serverPort = 0;
    int accepted = 0;
    int delayMs = 0;
    std::optional<FaultProxy::Fault> armed;

    void apply(FaultProxy::Fault fault)
    {
        if (fault == FaultProxy::Fault::Delay) {
            delayMs = kDelayMs;
            return;
        }
        for (Link &link : m_links) {
            if (link.closed)
                continue;
            switch (fault) {
            case FaultProxy::Fault::Drop: closeBoth(link); break;
            case FaultProxy::Fault::Reset: reset(link); break;
            case FaultProxy::Fault::Blackhole: link.blackholed = true; break;
            case FaultProxy::Fault::Cut: link.cut = true; break;
            case FaultProxy::Fault::Delay: break;
            }
        }
    }

    void heal()
    {
        delayMs = 0;
        armed.reset();
    }

private:
    struct Link {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> server;
        QByteArray early; // from the client before the server's end stood
        bool blackholed = false;
        bool cut = false;
        bool closed = false;
    };

    void accept()
    {
        while (QTcpSocket *client = m_listener->nextPendingConnection()) {
            ++accepted;
            m_links.emplace_back();
            Link *link = &m_links.back();
            link->client = client;
            auto *server = new QTcpSocket(this);
            link->server = server;
            client->setParent(this);
            connect(client, &QTcpSocket::readyRead, this, [this, link] { fromClient(*link); });
            connect(server, &QTcpSocket::readyRead, this, [this, link] { fromServer(*link); });
            connect(server, &QTcpSocket::connected, this, [link] {
                if (!link->early.isEmpty() && !link->blackholed)
                    link->server->write(std::exchange(link->early, QByteArray()));
            });
            connect(client, &QTcpSocket::disconnected, this, [this, link] { ended(*link, link->server); });
            connect(server, &QTcpSocket::disconnected, this, [this, link] { ended(*link, link->client); });
            connect(server, &QTcpSocket::errorOccurred, this, [this, link](QAbstractSocket::SocketError) {
                if (link->server && link->server->state() == QAbstractSocket::UnconnectedState)
                    ended(*link, link->client);
            });
            server->connectToHost(QHostAddress::LocalHost, serverPort);
        }
    }

    // Held back chunks leave in the order they came, each when its time is
    // up: one timer per socket, so that no two chunks change places.
    struct Held {
        QPointer<QTcpSocket> target;
        std::deque<std::pair<qint64, QByteArray>> chunks;
        QTimer timer;
    };

    void pass(QTcpSocket *to, const QByteArray &bytes)
    {
        if (!to)
            return;
        Held &held = m_held[to];
        if (delayMs <= 0 && held.chunks.empty()) {
            to->write(bytes);
            return;
        }
        if (!held.target) {
            held.target = to;
            held.timer.setSingleShot(true);
            held.timer.setTimerType(Qt::PreciseTimer);
            connect(&held.timer, &QTimer::timeout, this, [this, &held] { release(held); });
        }
        held.chunks.emplace_back(m_clock.elapsed() + delayMs, bytes);
        if (!held.timer.isActive())
            held.timer.start(int(qMax<qint64>(0, held.chunks.front().first - m_clock.elapsed())));
    }

    void release(Held &held)
    {
        while (!held.chunks.empty() && held.chunks.front().first <= m_clock.elapsed()) {
            if (held.target && held.target->state() == QAbstractSocket::ConnectedState)
                held.target->write(held.chunks.front().second);
            held.chunks.pop_front();
        }
        if (!held.chunks.empty())
            held.timer.start(int(qMax<qint64>(0, held.chunks.front().first - m_clock.elapsed())));
    }

    void fromClient(Link &link)
    {
        if (link.blackholed || link.closed || !link.client)
            return; // left in the system's buffers, as on a dead line
        const QByteArray bytes = link.client->readAll();
        if (armed) {
            const FaultProxy::Fault fault = *std::exchange(armed, std::nullopt);
            apply(fault);
            if (fault != FaultProxy::Fault::Delay && fault != FaultProxy::Fault::Cut)
                return; // this chunk never reaches the server
        }
        if (!link.server || link.server->state() != QAbstractSocket::ConnectedState) {
            link.early += bytes;
            return;
        }
        pass(link.server, bytes);
    }

    void fromServer(Link &link)
    {
        if (link.blackholed || link.closed || !link.server)
            return;
        const QByteArray bytes = link.server->readAll();
        if (link.cut && bytes.size() >= 2) {
            link.client->write(bytes.left(bytes.size() / 2));
            link.client->flush();
            closeBoth(link);
            return;
        }
        pass(link.client, bytes);
    }

    void ended(Link &link, QTcpSocket *other)
    {
        if (link.blackholed || link.closed)
            return;
        link.closed = true;
        // After what is held back for it.
        QPointer<QTcpSocket> target(other);
        QTimer::singleShot(delayMs > 0 ? delayMs + 10 : 0, this, [target] {
            if (target)
                target->disconnectFromHost();
        });
    }

    void closeBoth(Link &link)
    {
        link.closed = true;
        if (link.client)
            link.client->disconnectFromHost();
        if (link.server)
            link.server->disconnectFromHost();
    }

    void reset(Link &link)
    {
        link.closed = true;
        if (link.client) {
            // A linger of zero makes the close a reset.
            const struct linger now {
                1, 0
            };
            ::setsockopt(int(link.client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            link.client->abort();
        }
        if (link.server)
            link.server->disconnectFromHost();
    }

    QTcpServer *m_listener = nullptr;
    std::list<Link> m_links; // stable addresses for the handlers
    std::map<QTcpSocket *, Held> m_held;
    QElapsedTimer m_clock;
};

FaultProxy::FaultProxy(quint16 serverPort)
    : m_thread(new QThread)
    , m_relay(new FaultRelay)
{
    m_relay->serverPort = serverPort;
    m_relay->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_relay, [this] { m_port = m_relay->listen(); }, Qt::BlockingQueuedConnection);
}

FaultProxy::~FaultProxy()
{
    QMetaObject::invokeMethod(
        m_relay, [this] { delete m_relay; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void FaultProxy::setServerPort(quint16 port)
{
    QMetaObject::invokeMethod(
        m_relay, [this, port] { m_relay->serverPort = port; }, Qt::BlockingQueuedConnection);
}

void FaultProxy::apply(Fault fault)
{
    QMetaObject::invokeMethod(
        m_relay, [this, fault] { m_relay->apply(fault); }, Qt::BlockingQueuedConnection);
}

void FaultProxy::arm(Fault fault)
{
    if (fault == Fault::Cut || fault == Fault::Delay) {
        apply(fault);
        return;
    }
    QMetaObject::invokeMethod(
        m_relay, [this, fault] { m_relay->armed = fault; }, Qt::BlockingQueuedConnection);
}

void FaultProxy::heal()
{
    QMetaObject::invokeMethod(
        m_relay, [this] { m_relay->heal(); }, Qt::BlockingQueuedConnection);
}

int FaultProxy::accepted() const
{
    int n = 0;
    QMetaObject::invokeMethod(
        m_relay, [this, &n] { n = m_relay->accepted; }, Qt::BlockingQueuedConnection);
    return n;
}

QString FaultProxy::name(Fault fault)
{
    switch (fault) {
    case Fault::Drop: return QStringLiteral("drop");
    case Fault::Reset: return QStringLiteral("reset");
    case Fault::Blackhole: return QStringLiteral("blackhole");
    case Fault::Delay: return QStringLiteral("delay");
    case Fault::Cut: return QStringLiteral("cut");
    }
    return QString();
}

} // namespace vorel::test
