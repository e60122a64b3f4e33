#pragma once
// What a server session asks of its database, whichever holds the data: an
// SQLite file of the server's own or a PostgreSQL database shared with other
// servers. One object per session, used by one thread at a time.
#include "data/protocol.h"
#include "server/core/memorybudget.h"
#include "server/core/oramessages.h"
#include "server/core/rights.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace vorel::server {

class Database
{
public:
    virtual ~Database() = default;

    // How long one request may run SQL before it is cancelled with
    // ORA-01013; 0 = no limit.
    virtual void setQueryTimeout(int ms) = 0;

    // True when TUSUARIOS holds the user with this password. A password
    // found stored as typed is replaced by its hash (*rehashed set).
    // An unknown user costs the same hash as a known one.
    bool checkUser(const QString &userId, const QString &password, bool *rehashed = nullptr);
    // Hashes `password` as a check against a stored hash would, and throws
    // the result away: what a Login for no user costs.
    static void spendHash(const QString &password);
    // Creates the session's working tables for the user; from then on every
    // statement answers to that user's rights, unless `checked` is false
    // (what the checks cost is measured against that). A database opened
    // without a session (init, the server's own tools) answers to none.
    void startSession(const QString &userId, bool checked = true);
    // The greeting parameter MENINI, empty when there is none.
    QString greeting();

    virtual void begin() = 0;
    // Both throw "QUEMI: There is no active transaction" outside one.
    void commit() { endChecked(true); }
    void rollback() { endChecked(false); }
    virtual bool inTransaction() const = 0;

    // Runs exactly one INSERT, UPDATE or DELETE written in Oracle's dialect;
    // refuses anything else without executing it.
    virtual void executeDirect(const QString &oracleSql) = 0;

    struct OpenResult {
        quint32 cursor = 0;
        QList<proto::Column> columns;
        proto::RowBlock rows;
    };
    // Runs exactly one SELECT and returns its first `packet` rows (-1: all).
    virtual OpenResult openCursor(const QString &oracleSql, int packet) = 0;
    // The next `count` rows (-1: all); *width receives the cursor's column count.
    virtual proto::RowBlock fetch(quint32 cursor, int count, int *width = nullptr) = 0;
    virtual void closeCursor(quint32 cursor) = 0;
    virtual int openCursors() const = 0;
    // Called between requests when the session has nothing under way (no
    // transaction, no cursor): what the engine keeps only to be quicker next
    // time may go, as most sessions sit idle most of the day.
    virtual void idle() {}

    static constexpr int kMaxCursors = 256;

    // What the session holds in rows read ahead and frames, within its
    // share of the server's memory.
    MemoryAccount &memory() { return m_memory; }

protected:
    MemoryAccount m_memory;

    // What a request may run: a change (executeDirect) or a read (openCursor).
    enum class Request { Change, Read };
    // The statements a request of that kind runs, by their first keyword,
    // before and after translation.
    static const QStringList &allowedKeywords(Request kind);
    // The words a request of that kind refuses any other statement with.
    static const char *refusal(Request kind);
    // The checks every request passes before it is translated: one
    // statement, not one about the connection itself (ATTACH, DETACH,
    // PRAGMA; refuseConnectionStatement words the refusal), of the
    // request's kind, and within the session user's rights. Throws
    // vorel::Exception or OraError.
    void checkRequest(const QString &oracleSql, Request kind);
    virtual void refuseConnectionStatement(const QString &oracleSql, Request kind) = 0;
    virtual void openSession(const QString &userId) = 0;
    // Who may write the table of that name (upper case, no schema).
    virtual rights::Writers writersOf(const QString &table) const = 0;
    // Ends the client's transaction, open when called, keeping its changes or not.
    virtual void endTransaction(bool keep) = 0;

    // The rows of TUSUARIOS that hold a password for `userId` (trimmed), in
    // the table's order, each given to `visit` with a key the backend finds
    // the row by again, until `visit` returns true. Throws OraError.
    virtual void visitPasswords(const QString &userId,
                                const std::function<bool(const QString &row, const QString &stored)> &visit) = 0;
    // Puts `hash` in place of the password of `row`; false when it could
    // not (the password then stays as it was).
    virtual bool replacePassword(const QString &row, const QString &hash) = 0;
    // The first value of a query of the server's own, in the same words on
    // both engines; empty when there is no row or it is NULL. Throws OraError.
    virtual QString firstText(const char *sql) = 0;

private:
    void endChecked(bool keep);
    // Throws ORA-01031 unless the session's user may run the statement.
    void checkRights(const QString &oracleSql, Request kind);
    // A count of the server's own query, 0 when it fails (a table an older
    // database lacks grants nothing).
    int countOf(const QString &sql);
    bool m_inSession = false;
};

// What both backends answer in the same words.
namespace answers {
inline constexpr char kNoTransaction[] = "QUEMI: There is no active transaction";
inline constexpr char kOnlyDml[] = "EjeDir solo ejecuta una sentencia INSERT, UPDATE o DELETE";
inline constexpr char kOnlySelect[] = "Un proveedor solo ejecuta una sentencia SELECT";
inline constexpr char kOneStatement[] = "Se admite una sola sentencia SQL por petición";
inline constexpr char kTooManyCursors[] = "Demasiados cursores abiertos en la sesión";
using ora::kCancelled;
using ora::kNoPrivilege;
inline constexpr char kTooLarge[] =
    "No se puede enviar la respuesta: el resultado supera el tamaño máximo de una trama";
// What one packet of a given number of rows may weigh before it ends early.
inline constexpr qsizetype kPacketBytes = qsizetype(16) << 20;
} // namespace answers

// An empty packet of `width` columns with room for `count` rows of about
// `rowBytes` each (0: not known yet), written in place of the frame that
// carries it. A quarter more than the rows before weighed: a packet that
// outgrows its room is copied whole, while room never written costs no
// memory.
inline proto::RowBlock packetFor(int width, int count, qsizetype rowBytes)
{
    proto::RowBlock block = proto::RowBlock::withFrameRoom(width);
    if (count > 0 && rowBytes > 0) {
        const qsizetype expected = qsizetype(count) * rowBytes;
        block.reserveBytes(qMin(expected + expected / 4, answers::kPacketBytes + answers::kPacketBytes / 4) + 64);
    }
    return block;
}

// Rows read ahead of the client from `first` on, the rows before it sent:
// once those take more than half of the block it is copied without them,
// so that a cursor read into memory gives its memory back as it is sent.
inline void dropSentRows(proto::RowBlock &rows, qsizetype &first)
{
    if (first <= 0 || first >= rows.size())
        return;
    const qsizetype sent = rows.rowData(first) - rows.rowData(0);
    if (sent * 2 < rows.byteSize())
        return;
    proto::RowBlock rest(rows.width());
    rest.reserveBytes(rows.byteSize() - sent);
    for (qsizetype r = first; r < rows.size(); ++r)
        rest.appendRowOf(rows, r);
    rows = std::move(rest);
    first = 0;
}

// 'YYYY-MM-DD', 'YYYY-MM-DD HH:MM[:SS[.fff]]' (or with a T) as the wire's
// milliseconds of that naive reading; nullopt for anything else, and for a
// date alone when `timeRequired`.
std::optional<qint64> storedDateMs(const char *p, qsizetype n, bool timeRequired);

} // namespace vorel::server
