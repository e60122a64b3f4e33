// vorel-sql: runs SQL through the application server as the client does.
//
//   vorel-sql --host H --port P --user U --password W [--database D] [--provider NAME] "SELECT ..."
//   vorel-sql ... --call METHOD [ARG ...]
//   vorel-sql ... < statements.sql
//
// Rows come out as CSV with a header line; dates as DD/MM/YYYY, with the
// time when it is not midnight; NULL as an empty field. Statements read from
// the standard input end in ";" and run one by one in one session, as they
// arrive: SELECTs through the provider, the rest through EjeDir. Each reaches
// the server as written, line ends and all; only the blanks before it and
// the ';' that ends it are left out.
#include "common/exception.h"
#include "common/platform.h"
#include "common/sqlscanner.h"
#include "data/connection.h"
#include "data/celltext.h"
#include "data/csvwriter.h"
#include "data/dataset.h"
#include "data/datawalk.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: vorel-sql --host H --port P --user U --password W [--database D] [--provider NAME] [\"SELECT ...\"]\n"
    "       vorel-sql --host H --port P --user U --password W [--database D] --call METHOD [ARG ...]\n"
    "Without a statement, statements ending in ';' are read from the standard input.\n"
    "The connection is TLS. --ca FILE verifies the server's certificate against FILE (as does the\n"
    "environment variable VOREL_CA_FILE); without one the certificate seen first for a host and port\n"
    "is remembered and a different one later refused. --insecure-plaintext speaks to a server started\n"
    "with that switch, for measurements only.\n";

void write(FILE *f, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
}

// A row's value as the console writes it: dates as DD/MM/YYYY, with the
// time when it is not midnight, floating point with 15 significant digits,
// blobs in hexadecimal; texts and integers as they are.
void writeCell(vorel::TCsvWriter &out, const vorel::proto::Cell &c)
{
    using vorel::proto::ValueType;
    switch (c.type) {
    case ValueType::Null:
        out.WriteUtf8(nullptr, 0);
        return;
    case ValueType::Integer:
        out.WriteInteger(c.integer);
        return;
    case ValueType::Text:
        out.WriteUtf8(c.data, c.size);
        return;
    case ValueType::Float: {
        char text[vorel::CellTextRoom];
        out.WritePlain(text, vorel::FloatText15(c.real, text));
        return;
    }
    case ValueType::DateTime: {
        const vorel::TWireDateTime t = vorel::SplitWireDateTime(c.integer);
        char text[vorel::CellTextRoom];
        if (const int n = vorel::DayMonthYearText(
                t, t.Hour != 0 || t.Minute != 0 || t.Second != 0 || t.Msec != 0, text)) {
            out.WritePlain(text, n);
            return;
        }
        // Years of other than four digits, as Qt writes them.
        const QDateTime dt = vorel::proto::fromWireDateTime(c.integer);
        out.WriteField(dt.time() == QTime(0, 0) ? dt.toString(QStringLiteral("dd/MM/yyyy"))
                                                : dt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
        return;
    }
    case ValueType::Blob: {
        const QByteArray hex = "0x" + c.bytes().toHex();
        out.WriteUtf8(hex.constData(), hex.size());
        return;
    }
    }
}

struct Console {
    vorel::TSocketConnection connection;
    QString provider = QStringLiteral("dspq0");

    void select(const QString &sql)
    {
        vorel::TClientDataSet ds;
        ds.SetRemoteServer(&connection);
        ds.SetProviderName(provider);
        ds.SetCommandText(sql);
        ds.SetPacketRecords(500);
        ds.Open();
        vorel::TCsvWriter out(stdout, {vorel::TCsvWriter::Quoting::AsNeeded, "\n"});
        out.Open();
        try {
            for (int i = 0; i < ds.FieldCount(); ++i)
                out.WriteField(ds.Fields(i)->FieldName());
            out.EndRow();
            const int count = ds.FieldCount();
            vorel::WalkRows(&ds, [&](int row) {
                const char *p = ds.RowDataAt(row);
                for (int i = 0; i < count; ++i) {
                    vorel::proto::Cell c;
                    p = vorel::proto::RowBlock::readCell(p, &c);
                    writeCell(out, c);
                }
                out.EndRow();
            });
        } catch (...) {
            // The rows read before the failure are still shown.
            try {
                out.Commit();
            } catch (...) {
            }
            throw;
        }
        out.Commit();
        ds.Close();
    }

    void run(const QString &sql)
    {
        // A script's trailing notes after its last ';' are not a statement.
        if (vorel::sql::skipTrivia(sql, 0) >= sql.size())
            return;
        const QString word = vorel::sql::leadingKeyword(sql);
        if (word == QLatin1String("SELECT") || word == QLatin1String("WITH"))
            select(sql);
        else
            connection.Call(QStringLiteral("EjeDir"), {sql});
    }
};

// Splits statements at ';' outside quotes and comments, as lines arrive.
class StatementSplitter
{
public:
    // Adds text; returns the statements completed by it (without the ';').
    QStringList feed(const QString &text)
    {
        using vorel::sql::TokenKind;
        m_text += text;
        QStringList done;
        for (;;) {
            vorel::sql::Scanner s(m_text, vorel::sql::Lexicon::Oracle, m_scanned);
            qsizetype end = -1;
            while (end < 0 && !s.atEnd()) {
                const vorel::sql::Token t = s.next();
                const bool semicolon = t.kind == TokenKind::Symbol && s.text(t) == QLatin1String(";");
                // Any other token that reaches the end may go on in the next piece.
                if (t.end == m_text.size() && !semicolon)
                    break;
                m_scanned = t.end;
                if (semicolon)
                    end = t.begin;
            }
            if (end < 0)
                return done;
            const QString statement = withoutLeadingBlanks(m_text.left(end));
            if (!statement.isEmpty())
                done << statement;
            m_text.remove(0, m_scanned);
            m_scanned = 0;
        }
    }
    QString rest() const { return withoutLeadingBlanks(m_text); }

private:
    // The blanks between statements belong to none.
    static QString withoutLeadingBlanks(const QString &text)
    {
        qsizetype i = 0;
        while (i < text.size() && text[i].isSpace())
            ++i;
        return text.mid(i);
    }

    QString m_text;
    qsizetype m_scanned = 0;
};

// UTF-8 arriving in pieces that may cut a character in two; anything that
// is not UTF-8 is refused rather than sent altered.
class Utf8Reader
{
public:
    QString decode(QByteArray bytes)
    {
        bytes.prepend(m_pending);
        m_pending.clear();
        // Keep back a character whose last bytes have not come yet.
        for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
            const uchar c = uchar(bytes.at(bytes.size() - back));
            if ((c & 0xC0) == 0x80)
                continue; // continuation byte: look further back
            const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) {
                m_pending = bytes.right(back);
                bytes.chop(back);
            }
            break;
        }
        return convert(bytes);
    }
    // What is left at the end of the input.
    QString finish()
    {
        const QByteArray rest = m_pending;
        m_pending.clear();
        return convert(rest);
    }

private:
    QString convert(const QByteArray &bytes)
    {
        // A byte order mark opens the input, not a statement.
        // Stateless: a character cut short here is an error, not one to finish
        // with the next piece (decode() keeps those back).
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringDecoder::Flag::Stateless
                                | (m_started ? QStringDecoder::Flag::ConvertInitialBom : QStringDecoder::Flag::Default));
        if (!bytes.isEmpty())
            m_started = true;
        QString text = utf8.decode(bytes);
        if (utf8.hasError())
            throw vorel::Exception(QStringLiteral("La entrada no es texto UTF-8 válido"));
        return text;
    }
    QByteArray m_pending;
    bool m_started = false;
};

int usage(const QString &message)
{
    write(stderr, QStringLiteral("vorel-sql: ") + message + QLatin1Char('\n'));
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Console console;
    QString host, user, password, database, statement, method;
    QStringList callArgs;
    int port = -1;
    bool calling = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (calling) {
            callArgs << a;
            continue;
        }
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--host") && hasValue) {
            host = args[++i];
        } else if (a == QLatin1String("--port") && hasValue) {
            bool ok = false;
            port = args[++i].toInt(&ok);
            if (!ok || port <= 0 || port > 65535)
                return usage(QStringLiteral("--port expects a number"));
        } else if (a == QLatin1String("--user") && hasValue) {
            user = args[++i];
        } else if (a == QLatin1String("--password") && hasValue) {
            password = args[++i];
        } else if (a == QLatin1String("--database") && hasValue) {
            database = args[++i];
        } else if (a == QLatin1String("--provider") && hasValue) {
            console.provider = args[++i];
        } else if (a == QLatin1String("--ca") && hasValue) {
            qputenv("VOREL_CA_FILE", args[++i].toLocal8Bit());
        } else if (a == QLatin1String("--insecure-plaintext")) {
            console.connection.SetEncrypted(false);
        } else if (a == QLatin1String("--call") && hasValue) {
            method = args[++i];
            calling = true;
        } else if (a.startsWith(QLatin1String("--")) || !statement.isEmpty()) {
            return usage(QStringLiteral("unexpected argument: ") + a);
        } else {
            statement = a;
        }
    }
    if (host.isEmpty() || port < 0 || user.isEmpty())
        return usage(QStringLiteral("--host, --port and --user are needed"));
    if (calling && !statement.isEmpty())
        return usage(QStringLiteral("--call takes no statement"));

    try {
        console.connection.SetHost(host);
        console.connection.SetPort(port);
        console.connection.Open();
        console.connection.Call(QStringLiteral("Login"), {user, password, database, QStringLiteral("127.0.0.1")});
        if (calling) {
            const QString result = console.connection.Call(method, callArgs);
            if (!result.isEmpty())
                write(stdout, result + QLatin1Char('\n'));
        } else if (!statement.isEmpty()) {
            console.run(statement);
        } else {
            // Read as it comes, not by lines: a line end is part of the text
            // it ends, CR LF included.
            StatementSplitter splitter;
            Utf8Reader input;
            char buffer[64 * 1024];
            for (;;) {
                QString why;
                const qint64 n = vorel::platform::ReadStandardInput(buffer, sizeof buffer, &why);
                if (n < 0)
                    throw vorel::Exception(QStringLiteral("No se puede leer la entrada: ") + why);
                if (n == 0)
                    break;
                for (const QString &sql : splitter.feed(input.decode(QByteArray(buffer, n))))
                    console.run(sql);
            }
            const QString last = splitter.rest() + input.finish();
            if (!last.isEmpty())
                console.run(last);
        }
        console.connection.Close();
    } catch (const vorel::Exception &e) {
        std::fflush(stdout);
        write(stderr, e.message() + QLatin1Char('\n'));
        return 1;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        write(stderr, QString::fromUtf8(e.what()) + QLatin1Char('\n'));
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
