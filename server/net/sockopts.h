#pragma once
// What the server sets on its sockets, beside what Qt sets. The server runs
// on Linux only; these are its socket calls, kept in one place.
#include <QHostAddress>

namespace vorel::server::sockopts {

// A peer that vanished without a word (a line that dropped, a NAT that
// forgot the connection) is found within kDeadPeerMs while the connection
// is idle: keepalive probes start after kIdleS seconds of silence and come
// every kIntervalS seconds; kProbes unanswered end the connection. Data
// unacknowledged that long (an answer sent into a dead line) ends it too.
constexpr int kIdleS = 10;
constexpr int kIntervalS = 5;
constexpr int kProbes = 3;
constexpr int kDeadPeerMs = (kIdleS + kIntervalS * kProbes) * 1000;

// Sets keepalive and the user timeout above on a connected TCP socket;
// false when the system refused one of them.
bool findDeadPeers(qintptr descriptor);

// What findDeadPeers set, read back: {idle s, interval s, probes, user
// timeout ms}, or all -1 when keepalive is off.
struct DeadPeerSettings {
    int idleS = -1;
    int intervalS = -1;
    int probes = -1;
    int userTimeoutMs = -1;
};
DeadPeerSettings deadPeerSettings(qintptr descriptor);

// The remote address of a connected socket, read before anything is built
// for it; null when the socket has none.
QHostAddress peerAddress(qintptr descriptor);

// Takes one connection waiting on a listening socket, non-blocking and
// closed on exec; -1 when none waits (or on error).
qintptr acceptOne(qintptr listening);

// Closes a descriptor nothing else owns, with a reset rather than a
// lingering close: a connection refused before it was served.
void closeRaw(qintptr descriptor);

} // namespace vorel::server::sockopts
