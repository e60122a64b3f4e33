// The shell program: logs the user in and opens the main window.
#include "shell/fmain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    // Standard buttons in Spanish ("Sí", "No", "Aceptar", "Cancelar").
    QTranslator qtSpanish;
    if (qtSpanish.load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtSpanish);

    vorel::shell::TFMain frame;
    frame.FormCreate();
    if (frame.Terminated())
        return 0;
    frame.showMaximized();
    return QApplication::exec();
}
