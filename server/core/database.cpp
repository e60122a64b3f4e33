#include "server/core/database.h"

#include "common/exception.h"
#include "common/sqlscanner.h"
#include "server/core/oraerror.h"
#include "server/core/passwords.h"

namespace vorel::server {

bool Database::checkUser(const QString &userId, const QString &password, bool *rehashed)
{
    if (rehashed)
        *rehashed = false;
    bool match = false;
    bool plain = false;
    bool found = false;
    QString row;
    visitPasswords(userId.trimmed(), [&](const QString &key, const QString &stored) {
        found = true;
        match = passwords::verify(password, stored);
        plain = match && !passwords::isHash(stored);
        row = key;
        return match;
    });
    // Without it a wrong guess at a user that does not exist answered in a
    // fraction of the time, telling which users do.
    if (!found)
        spendHash(password);
    // A password written without the server's triggers (an administrator's
    // own tool, a database of an earlier release) is kept as typed until it
    // first proves right.
    if (plain) {
        const QString h = passwords::hash(password);
        if (!h.isEmpty() && replacePassword(row, h) && rehashed)
            *rehashed = true;
    }
    return match;
}

void Database::spendHash(const QString &password)
{
    static const QString decoy = passwords::hash(QStringLiteral("-"));
    [[maybe_unused]] const bool never = passwords::verify(password, decoy);
}

void Database::startSession(const QString &userId, bool checked)
{
    openSession(userId);
    m_inSession = checked;
}

void Database::endChecked(bool keep)
{
    if (!inTransaction())
        throw vorel::Exception(QString::fromUtf8(answers::kNoTransaction));
    endTransaction(keep);
}

QString Database::greeting() { return firstText("SELECT PARA_Valor FROM TPARAMS WHERE PARA_Param = 'MENINI'"); }

const QStringList &Database::allowedKeywords(Request kind)
{
    static const QStringList change{QStringLiteral("INSERT"), QStringLiteral("UPDATE"), QStringLiteral("DELETE"),
                                    QStringLiteral("MERGE")};
    static const QStringList read{QStringLiteral("SELECT"), QStringLiteral("WITH")};
    return kind == Request::Change ? change : read;
}

const char *Database::refusal(Request kind)
{
    return kind == Request::Change ? answers::kOnlyDml : answers::kOnlySelect;
}

void Database::checkRequest(const QString &oracleSql, Request kind)
{
    static const QStringList connection{QStringLiteral("ATTACH"), QStringLiteral("DETACH"), QStringLiteral("PRAGMA")};
    if (sql::hasSecondStatement(oracleSql))
        throw vorel::Exception(QString::fromUtf8(answers::kOneStatement));
    const QString keyword = sql::leadingKeyword(oracleSql);
    if (connection.contains(keyword))
        refuseConnectionStatement(oracleSql, kind);
    if (!allowedKeywords(kind).contains(keyword))
        throw vorel::Exception(QString::fromUtf8(refusal(kind)));
    if (m_inSession)
        checkRights(oracleSql, kind);
}

int Database::countOf(const QString &sql)
{
    try {
        return firstText(sql.toUtf8().constData()).toInt();
    } catch (const OraError &) {
        return 0;
    } catch (const vorel::Exception &) {
        return 0;
    }
}

// The rights are read at the write that needs them, not kept from the
// login: a grant taken away holds from the next statement on. The working
// rows and the logs, written at every class open, ask nothing.
void Database::checkRights(const QString &oracleSql, Request kind)
{
    using rights::SelfService;
    using rights::Writers;
    static const QString sessionUser = QStringLiteral("(SELECT SESI_Usua FROM RSESION)");
    const auto refuse = [] { throw OraError(QString::fromUtf8(ora::kNoPrivilege)); };
    const auto isAdministrator = [&] {
        return countOf(QStringLiteral("SELECT COUNT(*) FROM TUSUROL WHERE USUR_Admin <> 0 AND USUR_Usua = ")
                       + sessionUser)
               > 0;
    };
    const auto mayActAsOthers = [&] {
        return countOf(QStringLiteral("SELECT COUNT(*) FROM TUSUMROL WHERE USUM_Usua = ") + sessionUser) > 0;
    };
    const auto isOwn = [&](const QString &user) {
        return !user.isEmpty()
               && countOf(QStringLiteral("SELECT COUNT(*) FROM RSESION WHERE SESI_Usua = ") + user) > 0;
    };

    // A password is written (and hashed) but never read, by anyone.
    if (rights::readsPasswordColumn(oracleSql))
        refuse();
    if (kind == Request::Read)
        return;
    const SelfService self = rights::selfServiceOf(oracleSql);
    const std::optional<rights::Write> write = rights::writeOf(oracleSql);
    if (!write || write->table.isEmpty())
        refuse();
    switch (writersOf(write->table)) {
    case Writers::Session:
        return;
    case Writers::Appenders:
        if (write->op != rights::Write::Op::Insert)
            refuse();
        return;
    case Writers::Nobody:
        // The one change of the session's own row: whom it acts for, offered
        // to the users who may work as any other.
        if (self.kind != SelfService::Kind::ActAs || !mayActAsOthers())
            refuse();
        return;
    case Writers::Administrators:
        if (isAdministrator())
            return;
        if ((self.kind == SelfService::Kind::Password || self.kind == SelfService::Kind::EMail) && isOwn(self.user))
            return;
        refuse();
        return;
    case Writers::Classes:
        // An administrator, or a class of a role the user holds (of any role
        // for a user who may work in any) with the class active in that role:
        // one query, as a business write is the common case of a clerk's.
        if (countOf(QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM TUSUROL WHERE USUR_Admin <> 0 AND "
                                   "USUR_Usua = %2) OR EXISTS (SELECT 1 FROM TCLATABLAS, TCLAROL WHERE "
                                   "CLAT_Tabla = '%1' AND CLAR_Clase = CLAT_Clase AND CLAR_Activo = 1 "
                                   "AND (CLAR_Rol IN (SELECT USUR_Rol FROM TUSUROL WHERE USUR_Usua = %2) "
                                   "OR EXISTS (SELECT 1 FROM TUSUMROL WHERE USUM_Usua = %2))) THEN 1 ELSE 0 END")
                        .arg(write->table, sessionUser))
            > 0)
            return;
        // A table that is not there is the database's to report, as
        // ORA-00942; nothing can be written to it.
        try {
            firstText(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE 1 = 0").arg(write->table).toUtf8().constData());
        } catch (const OraError &) {
            return;
        } catch (const vorel::Exception &) {
            return;
        }
        refuse();
        return;
    }
}

namespace {

// Digits at p[0..n) as a number; -1 when one of them is not a digit.
int digitsAt(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

} // namespace

// Read by hand: every date of every row of a class passes here.
std::optional<qint64> storedDateMs(const char *p, qsizetype n, bool timeRequired)
{
    if (n > 0 && p[n - 1] == '\n') // a line end closing the text is allowed, as by a '$'
        --n;
    if (n < 10 || p[4] != '-' || p[7] != '-')
        return std::nullopt;
    const int year = digitsAt(p, 4), month = digitsAt(p + 5, 2), day = digitsAt(p + 8, 2);
    if (year < 0 || month < 0 || day < 0)
        return std::nullopt;
    int hour = 0, minute = 0, second = 0, ms = 0;
    if (n == 10) {
        if (timeRequired)
            return std::nullopt;
    } else {
        if (n < 16 || (p[10] != ' ' && p[10] != 'T') || p[13] != ':')
            return std::nullopt;
        hour = digitsAt(p + 11, 2);
        minute = digitsAt(p + 14, 2);
        if (hour < 0 || minute < 0)
            return std::nullopt;
        qsizetype i = 16;
        if (i < n) {
            if (p[i] != ':' || n < i + 3 || (second = digitsAt(p + i + 1, 2)) < 0)
                return std::nullopt;
            i += 3;
            if (i < n) {
                if (p[i] != '.' || i + 1 >= n)
                    return std::nullopt;
                // The first three digits count; any further ones are read past.
                for (qsizetype j = i + 1; j < n; ++j) {
                    if (p[j] < '0' || p[j] > '9')
                        return std::nullopt;
                    if (j - i <= 3)
                        ms = ms * 10 + (p[j] - '0');
                }
                for (qsizetype j = qMin<qsizetype>(n, i + 4); j < i + 4; ++j)
                    ms *= 10;
            }
        }
    }
    // The checks QDate and QTime make (there is no year 0), by arithmetic.
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year == 0 || month < 1 || month > 12 || day < 1
        || day > kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    // Days since 1970-01-01 of the civil date, by eras of 400 years from March.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const qint64 days = qint64(era) * 146097 + doe - 719468;
    return days * 86400000 + ((hour * 60 + minute) * 60 + second) * qint64(1000) + ms;
}

} // namespace vorel::server
