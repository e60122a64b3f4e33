// Logs in to a running server, opens the main window as the user sees it
// and saves a picture of it: shell_screenshot HOST PORT USER PASSWORD OUT.png
// [FOLDER]. With a folder it then opens the orders from the role bar and
// saves the list window, its find bar and selection totals, and its
// selection, sort and statistics dialogs there too.
#include "shell/fmain.h"
#include "shell/flogin.h"
#include "shell/spanish.h"
#include "runtime/ui.h"

#include "shell/outbar.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>

namespace {

// Runs `step` on the next modal dialog, saves its picture and closes it.
void grabNextModal(const QString &file, std::function<void(QDialog *)> step)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, file, step] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        step(d);
        QApplication::processEvents();
        if (!d->grab().save(file))
            qWarning("cannot save %s", qPrintable(file));
        d->reject();
    });
    timer->start(50);
}

bool pressButton(vorel::shell::TOutBar *bar, const QString &caption)
{
    for (int p = 0; p < bar->PageCount(); ++p) {
        bar->SetActivePage(p);
        QWidget *page = bar->Page(p);
        for (int b = 0; b < bar->ButtonCount(page); ++b)
            if (bar->Button(page, b)->text() == caption) {
                // The bar reports clicks on its page, not the buttons' own.
                Q_EMIT bar->ButtonClick(b);
                return true;
            }
    }
    return false;
}

// The orders of one customer state, two example values, a sort on date
// and customer, and the statistics of what is shown.
int browserPictures(vorel::shell::TFMain &frame, const QDir &folder)
{
    if (!pressButton(frame.OutBar, QStringLiteral("Pedidos de venta"))) {
        qWarning("no button for the orders on the role bar");
        return 1;
    }
    QMdiSubWindow *sub = nullptr;
    for (int i = 0; i < 100 && !sub; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        sub = frame.MdiArea->subWindowList().value(0);
    }
    if (!sub) {
        qWarning("the orders did not open");
        return 1;
    }
    QWidget *list = sub->widget();
    sub->showMaximized();
    if (auto *states = list->findChild<QComboBox *>(QStringLiteral("QuickFilter1")))
        states->setCurrentIndex(1);
    QApplication::processEvents();
    if (!frame.grab().save(folder.filePath(QStringLiteral("lista.png"))))
        return 1;

    // The list's own tools: a word found in the rows, then the totals of
    // the amounts selected.
    list->findChild<QAction *>(QStringLiteral("Buscar1"))->trigger();
    if (auto *text = list->findChild<QLineEdit *>(QStringLiteral("Texto"))) {
        text->setText(QStringLiteral("Distribuciones"));
        Q_EMIT text->returnPressed();
    }
    if (auto *grid = list->findChild<QTableView *>(QStringLiteral("dbgModulo"))) {
        QAbstractItemModel *model = grid->model();
        for (int c = 0; c < model->columnCount(); ++c)
            if (model->headerData(c, Qt::Horizontal).toString() == QStringLiteral("Importe"))
                grid->selectionModel()->select(
                    QItemSelection(model->index(0, c), model->index(std::min(7, model->rowCount() - 1), c)),
                    QItemSelectionModel::ClearAndSelect);
    }
    QApplication::processEvents();
    if (!frame.grab().save(folder.filePath(QStringLiteral("herramientas.png"))))
        return 1;

    grabNextModal(folder.filePath(QStringLiteral("seleccion.png")), [](QDialog *d) {
        auto *grid = d->findChild<QTableWidget *>(QStringLiteral("SGSele"));
        for (int r = 0; grid && r < grid->rowCount(); ++r) {
            if (grid->item(r, 0) && grid->item(r, 0)->text() == QStringLiteral("Nombre del cliente"))
                grid->setItem(r, 1, new QTableWidgetItem(QStringLiteral("Distribuciones*")));
            if (grid->item(r, 0) && grid->item(r, 0)->text() == QStringLiteral("Importe"))
                grid->setItem(r, 1, new QTableWidgetItem(QStringLiteral(">1000")));
        }
    });
    list->findChild<QAction *>(QStringLiteral("Filtrar1"))->trigger();

    grabNextModal(folder.filePath(QStringLiteral("orden.png")), [](QDialog *d) {
        auto *fuente = d->findChild<QListWidget *>(QStringLiteral("Fuente"));
        auto *destino = d->findChild<QListWidget *>(QStringLiteral("Destino"));
        auto *toDestino = d->findChild<QAbstractButton *>(QStringLiteral("BFteDno"));
        for (const char *label : {"Fecha", "Cliente"}) {
            const QList<QListWidgetItem *> found = fuente->findItems(QLatin1String(label), Qt::MatchExactly);
            if (found.isEmpty() || !toDestino)
                continue;
            fuente->setCurrentItem(found.first());
            toDestino->click();
        }
        if (destino->count() > 0)
            destino->item(0)->setCheckState(Qt::Checked);
    });
    list->findChild<QAction *>(QStringLiteral("Ordenar1"))->trigger();

    grabNextModal(folder.filePath(QStringLiteral("estadisticos.png")), [](QDialog *) {});
    list->findChild<QAction *>(QStringLiteral("Estadistico1"))->trigger();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6 && args.size() != 7) {
        qWarning("usage: shell_screenshot HOST PORT USER PASSWORD OUT.png [FOLDER]");
        return 2;
    }
    vorel::shell::InstallSpanishTranslations(&app);

    // Boxes (the server's greeting) are printed and answered at once.
    vorel::ui::SetMessageHook([](vorel::ui::Kind kind, const QString &title, const QString &text) {
        qInfo("[%s] %s", qPrintable(title), qPrintable(text));
        return kind == vorel::ui::Kind::Confirm ? vorel::ui::Answer::Yes : vorel::ui::Answer::Ok;
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
        bool ok = frame.grab().save(args[5]);
        if (ok && args.size() == 7)
            ok = browserPictures(frame, QDir(args[6])) == 0;
        // Leaves without the exit confirmation.
        std::exit(ok ? 0 : 1);
    });
    return QApplication::exec();
}
