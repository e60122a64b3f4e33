#pragma once
// --pool: a server that sends each client to the least busy of several
// servers on one database. The first server a client reaches answers dServer
// with the server the client should use; the director answers it with the
// member that has the fewest sessions among those that passed their last
// health check: a GET of the member's /health page beside its metrics,
// every few seconds. A member that does not answer, answers that it stops
// (draining), that its Logins fail on its side, or that it has no room left
// is left out until its page says otherwise.
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <mutex>

class QTimer;

namespace vorel::server {

class Director : public QObject
{
    Q_OBJECT
public:
    struct Member {
        QString host;      // what dServer answers: the member's address for clients
        quint16 metricsPort = 0;
        bool healthy = false;
        int sessions = 0;  // as its last check said
        int room = -1;     // Logins it may still take, as it said (-1: unknown)
        int sent = 0;      // clients sent to it since then
    };

    // `pool`: "HOST:METRICSPORT,..." (IPv6 hosts in brackets). Empty and
    // *error set when it does not read.
    static QList<Member> parse(const QString &pool, QString *error);

    explicit Director(QList<Member> members, int intervalMs = 2000, QObject *parent = nullptr);

    // The host a client should use, counted as sent there; empty when no
    // member answers (the server then answers as without a pool). Any thread.
    QString choose();

private:
    void checkAll();
    void checked(int index, bool healthy, int sessions, int room);

public:
    // What a member's /health answer says: healthy, sessions, room (-1
    // when it does not say).
    struct Health {
        bool healthy = false;
        int sessions = 0;
        int room = -1;
    };
    static Health read(const QByteArray &answer);

private:
    mutable std::mutex m_mutex;
    QList<Member> m_members;
    int m_timeoutMs;
    QTimer *m_timer;
};

} // namespace vorel::server
