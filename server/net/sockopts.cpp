#include "server/net/sockopts.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorel::server::sockopts {

namespace {

bool set(qintptr fd, int level, int name, int value)
{
    return ::setsockopt(int(fd), level, name, &value, sizeof value) == 0;
}

int get(qintptr fd, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    return ::getsockopt(int(fd), level, name, &value, &size) == 0 ? value : -1;
}

} // namespace

bool findDeadPeers(qintptr descriptor)
{
    // The user timeout bounds both: unacknowledged data, and the probes once
    // keepalive has started; it matches the probes' own reckoning.
    return set(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1) && set(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, kIdleS)
           && set(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, kIntervalS)
           && set(descriptor, IPPROTO_TCP, TCP_KEEPCNT, kProbes)
           && set(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, kDeadPeerMs);
}

DeadPeerSettings deadPeerSettings(qintptr descriptor)
{
    DeadPeerSettings s;
    if (get(descriptor, SOL_SOCKET, SO_KEEPALIVE) != 1)
        return s;
    s.idleS = get(descriptor, IPPROTO_TCP, TCP_KEEPIDLE);
    s.intervalS = get(descriptor, IPPROTO_TCP, TCP_KEEPINTVL);
    s.probes = get(descriptor, IPPROTO_TCP, TCP_KEEPCNT);
    s.userTimeoutMs = get(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT);
    return s;
}

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return {};
    QHostAddress host(reinterpret_cast<const sockaddr *>(&address));
    // As Qt names the peers of a socket listening on both families.
    bool v4 = false;
    const quint32 ip = host.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip) : host;
}

qintptr acceptOne(qintptr listening)
{
    int fd;
    do
        fd = ::accept4(int(listening), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void closeRaw(qintptr descriptor)
{
    // A zero linger resets: the peer learns at once, and no TIME_WAIT stays
    // behind for each connection of a flood.
    const linger reset{1, 0};
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(int(descriptor));
}

} // namespace vorel::server::sockopts
