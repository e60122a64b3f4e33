#pragma once
// Sessions at once against a running reference server: each, on a thread of
// its own with a bare protocol client, connects and logs in, then --rounds
// times clears its working rows, opens a class with the list window's first
// packet of 50, walks it to its end in packets grown as the client's walk
// grows them, and closes the cursor.
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace vorel::bench {

struct Settings {
    int sessions = 100;
    int rounds = 5;
    qint64 rows = 10000;
    int packet = 0; // 0: the client walk's growing packets
    int thinkMs = 0; // mean pause of a session before each round
};

// The requests whose latency is also shown on its own.
enum Kind { Handshake, Login, Change, Open, Fetch, Close, KindCount };
extern const char *const kKindNames[KindCount];

struct Outcome {
    double seconds = 0;
    qint64 requests = 0;
    qint64 rows = 0;
    qint64 errors = 0;
    std::vector<double> latencyMs;
    std::vector<double> latencyOfKind[KindCount];
    QStringList firstErrors;
    qint64 serverPeakKb = -1;
    qint64 serverRssKb = -1;
};

// Runs `sessions` sessions on the server at `port` (process `serverPid`,
// for its memory), each walking the class rows `sql` answers, of
// `settings.rows` rows. Throws vorel::Exception.
Outcome runSessions(const Settings &settings, int sessions, quint16 port, qint64 serverPid, const QString &sql);

// A login storm: `logins` sessions from one address, their connections
// spread evenly over `withinMs` (0: all at once), each staying logged in
// until the last has tried.
struct StormOutcome {
    int refused = 0;
    std::vector<double> loginMs; // connect, handshake, Hello and Login, of those that got in
    QStringList firstErrors;
};
StormOutcome runStorm(int logins, int withinMs, quint16 port);

// Sessions that keep working through a pool, reconnecting through the
// director when their member goes away, as a client does.
struct RollingOutcome {
    qint64 requests = 0;
    qint64 failed = 0;     // requests whose answer was lost or an error
    qint64 reconnects = 0; // sessions that logged in again after a loss
    qint64 refusedLogins = 0;
    std::vector<double> latencyMs;
    QStringList firstErrors;
};
// Runs `sessions` sessions through the director at `host`:`port` until
// `stop` is set; each round is a use case (StartTran, a write of its
// working rows, CommitTran) and an open and walk of a class.
class RollingLoad
{
public:
    RollingLoad(int sessions, const QString &host, quint16 port, const QString &sql, int thinkMs);
    ~RollingLoad();
    RollingOutcome stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vorel::bench
