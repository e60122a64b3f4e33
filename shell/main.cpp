// The shell program: logs the user in and opens the main window.
#include "shell/fmain.h"
#include "shell/spanish.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The desktop entry the installed client is started from: its name and
    // icon for the window in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("vorel7"));
    // Standard buttons in Spanish ("Sí", "No", "Aceptar", "Cancelar").
    vorel::shell::InstallSpanishTranslations(&app);

    vorel::shell::TFMain frame;
    frame.FormCreate();
    if (frame.Terminated())
        return 0;
    // A display without a window manager does not maximise: the frame
    // takes the screen's size itself first.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        frame.setGeometry(screen->availableGeometry());
    frame.showMaximized();
    return QApplication::exec();
}
