#pragma once
// A TCP relay between the client and the server under test that breaks the
// line on command. It runs on a thread of its own: the client blocks in its
// reads while the relay must go on moving bytes.
#include <QObject>
#include <QString>
#include <memory>

class QThread;

namespace vorel::test {

class FaultRelay;

class FaultProxy
{
public:
    enum class Fault {
        Drop,      // both ends closed with FIN
        Reset,     // the client's end reset (RST), the server's closed
        Blackhole, // nothing passes any more, nor is anything closed
        Delay,     // every chunk held back 300 ms each way
        Cut,       // the next chunk from the server half passed, then both ends closed
    };

    explicit FaultProxy(quint16 serverPort);
    ~FaultProxy();
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    quint16 port() const { return m_port; }
    // Connections made from now on go to this port (a restarted server).
    void setServerPort(quint16 port);
    // On the connections open now; new ones relay as usual but for Delay.
    void apply(Fault fault);
    // The same, when the client sends its next chunk, which then does not
    // pass (Cut and Delay wait for nothing and apply at once).
    void arm(Fault fault);
    // Back to relaying as usual, for new connections.
    void heal();
    // Connections accepted so far.
    int accepted() const;

    static QString name(Fault fault);

private:
    QThread *m_thread = nullptr;
    FaultRelay *m_relay = nullptr;
    quint16 m_port = 0;
};

} // namespace vorel::test
