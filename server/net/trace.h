#pragma once
// The request log of a running server: one JSON object per line, in arrival
// order, written whole and flushed so a reader never sees half a record.
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

class QJsonObject;

namespace vorel::server {

class Trace
{
public:
    // Starts a fresh log at `path`; false with *error set when it cannot.
    bool open(const QString &path, QString *error);
    bool enabled() const { return m_file.isOpen(); }

    // What stands in a Login's record for its password.
    static constexpr char kPasswordMark[] = "********";

    // Texts are logged verbatim up to 2 Mi characters each (SQL keeps its
    // line ends, arguments their every character), but for the password
    // of a Login, which is replaced by kPasswordMark.
    void open(int session, const QString &provider, const QString &sql, qint32 count = -1);
    // One packet asked of an open cursor: how many rows (-1 all).
    void fetch(int session, quint32 cursor, qint32 count);
    void call(int session, const QString &method, const QStringList &args);

private:
    void write(const QJsonObject &record);

    QMutex m_mutex;
    QFile m_file;
};

} // namespace vorel::server
