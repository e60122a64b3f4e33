#include "shell/spanish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vorel::shell {

bool InstallSpanishTranslations(QCoreApplication *app)
{
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    // Owned by the application: it must outlive every dialog.
    auto *catalogue = new QTranslator(app);
    if (!catalogue->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete catalogue;
        return false;
    }
    return QCoreApplication::installTranslator(catalogue);
}

} // namespace vorel::shell
