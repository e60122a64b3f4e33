// A stand-in for the account library, loaded by the shell under its real
// name. It records every call in the file named by FAKE_CAMBIA_LOG and
// behaves as FAKE_CAMBIA_THROW and FAKE_CAMBIA_USER say.
#include "common/exception.h"
#include "runtime/exports.h"

#include <QFile>
#include <QString>

namespace {
void record(const QString &line)
{
    QFile f(qEnvironmentVariable("FAKE_CAMBIA_LOG"));
    if (f.open(QIODevice::Append | QIODevice::Text))
        f.write((line + QLatin1Char('\n')).toUtf8());
}

void maybeThrow()
{
    const QString text = qEnvironmentVariable("FAKE_CAMBIA_THROW");
    if (!text.isEmpty())
        throw vorel::Exception(text);
}

QString pointer(const void *p)
{
    return QString::number(quintptr(p), 16);
}
} // namespace

extern "C" Q_DECL_EXPORT void creaObj(vorel::TSocketConnection *connection, vorel::TImageList *images,
                                      const QString &role, const QString &className, QString &result)
{
    record(QStringLiteral("creaObj|%1|%2|%3|%4|%5")
               .arg(pointer(connection), pointer(images), role, className, result));
    maybeThrow();
    result = QStringLiteral("ignored");
}

extern "C" Q_DECL_EXPORT void accountMain(const QString &userId, qint32 mode, vorel::TSocketConnection *connection,
                                          QString &newUser) VOREL_EXPORT_AS_MAIN;

void accountMain(const QString &userId, qint32 mode, vorel::TSocketConnection *connection, QString &newUser)
{
    record(QStringLiteral("main|%1|%2|%3|%4").arg(userId).arg(mode).arg(pointer(connection), newUser));
    maybeThrow();
    if (mode == 2)
        newUser = qEnvironmentVariable("FAKE_CAMBIA_USER");
}
