#include "server/sql/sequences.h"
#include "server/sql/dialect_lexer.h"
#include "server/core/oraerror.h"

#include <limits>
#include <vector>

namespace vorel::server {

using namespace dialect;

namespace {

constexpr qint64 kHighest = std::numeric_limits<qint64>::max();
constexpr qint64 kLowest = std::numeric_limits<qint64>::min() + 1;

[[noreturn]] void refuse(const char *message) { throw OraError(QString::fromLatin1(message)); }

class Words
{
public:
    explicit Words(const QString &text)
        : m_seq(parse(text))
    {
        for (size_t i : significant(m_seq))
            if (m_seq[i].kind != Tok::Semicolon)
                m_sig.push_back(&m_seq[i]);
    }
    bool at(const char *w, size_t ahead = 0) const
    {
        return m_pos + ahead < m_sig.size() && m_sig[m_pos + ahead]->isWord(w);
    }
    bool take(const char *w)
    {
        if (!at(w))
            return false;
        ++m_pos;
        return true;
    }
    bool atEnd() const { return m_pos >= m_sig.size(); }
    void expect(const char *w)
    {
        if (!take(w))
            refuse(ora::kMissingKeyword);
    }
    // [vorel.]name, as Oracle names it.
    QString name()
    {
        if (m_pos + 2 < m_sig.size() && m_sig[m_pos + 1]->kind == Tok::Dot) {
            const Node *owner = m_sig[m_pos];
            if (!(owner->isWord("VOREL") || owner->text == QLatin1String("\"VOREL\"")))
                refuse(ora::kNoSuchUser);
            m_pos += 2;
        }
        if (atEnd() || !(m_sig[m_pos]->kind == Tok::Word || m_sig[m_pos]->kind == Tok::QuotedIdent))
            throw OraError(QStringLiteral("ORA-02277: invalid sequence name"));
        const Node *n = m_sig[m_pos++];
        return n->kind == Tok::QuotedIdent ? n->text.mid(1, n->text.size() - 2) : n->text.toUpper();
    }
    // A whole number, a sign before it allowed.
    qint64 number()
    {
        bool negative = false;
        if (!atEnd() && m_sig[m_pos]->kind == Tok::Op
            && (m_sig[m_pos]->text == QLatin1String("-") || m_sig[m_pos]->text == QLatin1String("+")))
            negative = m_sig[m_pos++]->text == QLatin1String("-");
        if (atEnd() || m_sig[m_pos]->kind != Tok::Number)
            refuse(ora::kMissingExpression);
        bool ok = false;
        const qint64 n = m_sig[m_pos++]->text.toLongLong(&ok);
        if (!ok)
            refuse(ora::kInvalidNumber);
        return negative ? -n : n;
    }

private:
    Seq m_seq;
    std::vector<const Node *> m_sig;
    size_t m_pos = 0;
};

} // namespace

std::optional<qint64> SequenceDef::after(qint64 value) const
{
    const bool up = increment > 0;
    const bool past = up ? value > maxValue - increment : value < minValue - increment;
    if (!past)
        return value + increment;
    if (!cycle)
        return std::nullopt;
    return up ? minValue : maxValue;
}

std::optional<SequenceDef> readCreateSequence(const QString &oracle)
{
    Words w(oracle);
    if (!w.at("CREATE") || !w.at("SEQUENCE", 1))
        return std::nullopt;
    w.take("CREATE"), w.take("SEQUENCE");
    SequenceDef d;
    d.name = w.name();
    std::optional<qint64> start, minValue, maxValue;
    bool noCache = false;
    std::optional<qint64> cache;
    while (!w.atEnd()) {
        if (w.take("START")) {
            w.expect("WITH");
            start = w.number();
        } else if (w.take("INCREMENT")) {
            w.expect("BY");
            d.increment = w.number();
        } else if (w.take("MINVALUE")) {
            minValue = w.number();
        } else if (w.take("MAXVALUE")) {
            maxValue = w.number();
        } else if (w.take("NOMINVALUE")) {
            minValue.reset();
        } else if (w.take("NOMAXVALUE")) {
            maxValue.reset();
        } else if (w.take("CYCLE")) {
            d.cycle = true;
        } else if (w.take("NOCYCLE")) {
            d.cycle = false;
        } else if (w.take("CACHE")) {
            cache = w.number();
        } else if (w.take("NOCACHE")) {
            noCache = true;
        } else if (!w.take("ORDER") && !w.take("NOORDER")) {
            refuse(ora::kNotProperlyEnded);
        }
    }
    if (d.increment == 0)
        throw OraError(QStringLiteral("ORA-04002: INCREMENT must be a nonzero integer"));
    // Oracle's bounds are 28 digits; these are the 64-bit integer's.
    const bool up = d.increment > 0;
    d.minValue = minValue.value_or(up ? 1 : kLowest);
    d.maxValue = maxValue.value_or(up ? kHighest : -1);
    if (d.minValue >= d.maxValue)
        throw OraError(QStringLiteral("ORA-04004: MINVALUE must be less than MAXVALUE"));
    d.start = start.value_or(up ? d.minValue : d.maxValue);
    if (d.start < d.minValue)
        throw OraError(QStringLiteral("ORA-04006: START WITH cannot be less than MINVALUE"));
    if (d.start > d.maxValue)
        throw OraError(QStringLiteral("ORA-04008: START WITH cannot be more than MAXVALUE"));
    if (noCache) {
        d.cache = 1;
    } else if (cache) {
        if (*cache < 2)
            throw OraError(QStringLiteral("ORA-04010: the number of values to CACHE must be greater than 1"));
        d.cache = *cache;
    }
    if (d.cycle) {
        const double span = (double(d.maxValue) - double(d.minValue)) / double(qAbs(d.increment)) + 1;
        if (double(d.cache) > span)
            throw OraError(QStringLiteral("ORA-04013: number to CACHE must be less than one cycle"));
    }
    return d;
}

std::optional<QString> readDropSequence(const QString &oracle)
{
    Words w(oracle);
    if (!w.at("DROP") || !w.at("SEQUENCE", 1))
        return std::nullopt;
    w.take("DROP"), w.take("SEQUENCE");
    const QString name = w.name();
    if (!w.atEnd())
        refuse(ora::kNotProperlyEnded);
    return name;
}

} // namespace vorel::server
