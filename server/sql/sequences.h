#pragma once
// Oracle's sequences as a schema script declares them: what CREATE SEQUENCE
// and DROP SEQUENCE say, read once for both backends.
#include <QString>
#include <QtGlobal>
#include <optional>

namespace vorel::server {

struct SequenceDef {
    QString name; // as Oracle names it: in capitals unless written in quotes
    qint64 start = 1;
    qint64 increment = 1;
    qint64 minValue = 1;
    qint64 maxValue = 0;
    bool cycle = false;
    // The numbers one write reserves; 1 is NOCACHE.
    qint64 cache = 20;

    // The number after `value`, or nullopt past the end without CYCLE.
    std::optional<qint64> after(qint64 value) const;
};

// CREATE SEQUENCE [vorel.]name [START WITH n] [INCREMENT BY n] [MINVALUE n |
// NOMINVALUE] [MAXVALUE n | NOMAXVALUE] [CYCLE | NOCYCLE] [CACHE n | NOCACHE]
// [ORDER | NOORDER], with Oracle's defaults and checks (ORA-04002 ...);
// nullopt when the text is no CREATE SEQUENCE. Throws OraError.
std::optional<SequenceDef> readCreateSequence(const QString &oracle);
// DROP SEQUENCE [vorel.]name: the name; nullopt when the text is none.
std::optional<QString> readDropSequence(const QString &oracle);

} // namespace vorel::server
