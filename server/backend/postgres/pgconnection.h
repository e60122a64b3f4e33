#pragma once
// A PostgreSQL connection through libpq, with its results and failures as
// values of their own. Used by one thread at a time.
#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <exception>
#include <functional>
#include <memory>

struct pg_conn;
struct pg_result;

namespace vorel::server::pg {

// What the server said about a failed statement, field by field, so that the
// Oracle text can name the constraint, table and column it is about.
struct Failure {
    QString sqlstate;   // "23505"; empty when the connection itself failed
    QString message;    // the primary message
    QString detail;
    QString schema;
    QString table;
    QString column;
    QString constraint;
};

class Error : public std::exception
{
public:
    explicit Error(Failure failure);
    const Failure &failure() const { return m_failure; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    Failure m_failure;
    QByteArray m_utf8;
};

class Result
{
public:
    Result() = default;
    explicit Result(pg_result *r);
    pg_result *handle() const { return m_r.get(); }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    const char *value(int row, int column) const; // text format, NUL-terminated
    int length(int row, int column) const;
    QString text(int row, int column) const;      // a NULL as a null QString
    QString name(int column) const;
    unsigned type(int column) const;              // the type's OID
    int modifier(int column) const;               // -1 when none
    unsigned table(int column) const;             // 0 when not a table's column
    int tableColumn(int column) const;            // its number in the table, 0 when none
    bool binary() const;                          // the values are in binary form

private:
    struct Free {
        void operator()(pg_result *r) const;
    };
    std::unique_ptr<pg_result, Free> m_r;
};

class Connection
{
public:
    // Connects with a libpq connection string or URI (postgresql://...).
    // Throws vorel::Exception with the server's reason.
    explicit Connection(const QString &conninfo);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    pg_conn *handle() const { return m_conn; }

    // One statement or several separated by ";" (no parameters). Throws Error.
    Result exec(const QString &sql);
    // One statement with $1, $2, ... given as values: NULL, integers,
    // doubles, texts, QByteArray as bytea, QDateTime as a timestamp.
    // With `binaryResult` the values come in PostgreSQL's binary forms.
    Result exec(const QString &sql, const QVariantList &params, bool binaryResult = false);
    // COPY ... FROM STDIN: `next` fills the buffer with the next rows in
    // COPY's text form and returns false once there are none. Throws Error.
    void copyIn(const QString &copySql, const std::function<bool(QByteArray &)> &next);
    // True inside a transaction block (also a failed one).
    bool inTransaction() const;
    // False once the server is gone: nothing more can run on it.
    bool usable() const;
    // Reads what the server sent unasked, without waiting: false when it
    // has closed the connection (a restart, an administrator's kill) since
    // the last statement. Outside a statement only.
    bool stillUp();

    // The database a connection string names; empty when it names none.
    static QString databaseOf(const QString &conninfo);
    // The connection string with another database.
    static QString withDatabase(const QString &conninfo, const QString &database);
    // The connection string as it may be shown: without its password.
    static QString withoutPassword(const QString &conninfo);

private:
    Result check(pg_result *r);
    pg_conn *m_conn = nullptr;
};

} // namespace vorel::server::pg
