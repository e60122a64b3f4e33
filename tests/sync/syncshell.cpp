// The shell's start-up as the program runs it, for the self-update test: it
// logs in with what VOREL_TEST_LOGIN holds ("host|port|user|password|db"),
// runs the whole start-up sequence and ends without showing the window. The
// updater starts it without arguments, so everything it needs comes from the
// environment it inherits. Each start appends to files in the working folder:
//   arranques  "actualiza <version>" when the start-up ended for an update,
//              "listo <version>" when it ran through (the running file's
//              version text)
//   mensajes   every message box shown
#include "common/fileversion.h"
#include "common/platform.h"
#include "runtime/ui.h"
#include "shell/flogin.h"
#include "shell/fmain.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

void append(const char *file, const QString &line)
{
    QFile f(QString::fromLatin1(file));
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write(line.toUtf8() + '\n');
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList login = qEnvironmentVariable("VOREL_TEST_LOGIN").split(QLatin1Char('|'));
    if (login.size() != 5) {
        append("mensajes", QStringLiteral("VOREL_TEST_LOGIN falta"));
        return 2;
    }
    vorel::ui::SetMessageHook([](vorel::ui::Kind, const QString &, const QString &text) {
        append("mensajes", text);
        return vorel::ui::Answer::Ok;
    });
    // The dialog is answered once; should it come back, the login failed and
    // it is cancelled.
    bool answered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *d = qobject_cast<vorel::shell::TFLogin *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        if (answered) {
            answer.stop();
            d->reject();
            return;
        }
        answered = true;
        d->lAddrs->setText(login[0]);
        d->LPort->setText(login[1]);
        d->lLogin->setText(login[2]);
        d->lPaswd->setText(login[3]);
        d->ldBase->setText(login[4]);
        d->bEntra->click();
    });
    answer.start(20);

    vorel::shell::TFMain frame;
    frame.FormCreate();
    answer.stop();
    append("arranques", (frame.Terminated() ? QStringLiteral("actualiza ") : QStringLiteral("listo "))
                            + vorel::FileVersionText(vorel::platform::ProgramFile()));
    return 0;
}
