#pragma once
// The rows of a data script written as literals, read apart from the
// translator.
#include "common/sqlscanner.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <deque>
#include <vector>

namespace vorel::server {

// INSERT INTO t (columns) VALUES (...), (...) holding nothing but literals is
// most of a data script. It runs as one prepared statement a row, the values
// bound, instead of through the translator: the same values, read as the
// translator would have them read ('' is NULL, DATE 'YYYY-MM-DD' the text
// 'YYYY-MM-DD 00:00:00', TIMESTAMP 'x' the text 'x'). Anything else (a
// function, an operator, a comment) leaves the statement to the translator.
class LiteralRows
{
public:
    struct Value {
        enum Kind { Null, Integer, Real, Text } kind = Null;
        qint64 integer = 0;
        double real = 0;
        QStringView text; // into the script, or into the rows' own texts
    };

    explicit LiteralRows(QStringView s) : m_scan(s) {}

    // True when the statement is such an INSERT, its values then read.
    bool read();

    // The statement that takes one row, its values bound as ?1, ?2, ...
    QString insertSql() const;
    int columns() const { return int(m_columns.size()); }
    const QString &table() const { return m_table; }
    const QStringList &columnNames() const { return m_columns; }
    const std::vector<Value> &values() const { return m_values; }

private:
    // INSERT INTO [VOREL.]table (columns)
    bool readTarget();
    // The next token from `scanner` that is not a blank; of no length at the
    // end. A comment is a token too: no rule takes it.
    static sql::Token next(sql::Scanner &scanner);
    // The next token that is not a blank, and the scanner past it.
    struct Ahead {
        sql::Token token;
        sql::Scanner past;
        QStringView text() const { return past.text(token); }
    };
    Ahead ahead() const;
    // Moves past `a` when `taken`; returns `taken`.
    bool take(const Ahead &a, bool taken);
    static bool isWord(const Ahead &a, QStringView w);
    // Takes the next token when it is the symbol, or the word (in any case).
    bool symbol(QStringView s);
    bool word(QStringView w);
    bool peekWord(QStringView w) const;
    QString name();
    // The text of a literal; a copy only when it holds a doubled quote or
    // `append` is given.
    bool string(QStringView &out, const char *append = nullptr);
    bool value(Value &v);
    // 'text', CHR(n) for n below 128 (a line break, a carriage return), and
    // their concatenations with ||, where '' is NULL and adds nothing.
    bool text(Value &v);
    bool number(Value &v);

    sql::Scanner m_scan;
    QString m_table;
    QStringList m_columns;
    std::vector<Value> m_values;
    std::deque<QString> m_own;
};

} // namespace vorel::server
