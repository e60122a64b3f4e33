// Logs in to a running server, opens the main window as the user sees it
// and saves a picture of it: shell_screenshot HOST PORT USER PASSWORD OUT.png
#include "shell/fmain.h"
#include "shell/flogin.h"
#include "shell/spanish.h"
#include "runtime/ui.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        qWarning("usage: shell_screenshot HOST PORT USER PASSWORD OUT.png");
        return 2;
    }
    vorel::shell::InstallSpanishTranslations(&app);

    // Boxes (the server's greeting) are printed and answered at once.
    vorel::ui::SetMessageHook([](vorel::ui::Kind, const QString &title, const QString &text) {
        qInfo("[%s] %s", qPrintable(title), qPrintable(text));
        return vorel::ui::Answer::Ok;
    });
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *d = qobject_cast<vorel::shell::TFLogin *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        answer.stop();
        d->lLogin->setText(args[3]);
        d->lPaswd->setText(args[4]);
        d->ldBase->setText(QStringLiteral("DEMO"));
        d->lAddrs->setText(args[1]);
        d->LPort->setText(args[2]);
        d->bEntra->click();
    });
    answer.start(50);

    vorel::shell::TFMain frame;
    frame.SyncProgramFolder = QDir::currentPath();
    frame.FormCreate();
    if (frame.Terminated())
        return 1;
    // Without a window manager nothing maximises: take the screen's size.
    frame.setGeometry(QApplication::primaryScreen()->availableGeometry());
    frame.showMaximized();
    QTimer::singleShot(1500, [&] {
        const bool ok = frame.grab().save(args[5]);
        // Leaves without the exit confirmation.
        std::exit(ok ? 0 : 1);
    });
    return QApplication::exec();
}
