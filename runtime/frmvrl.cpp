#include "runtime/frmvrl.h"

#include "common/fileversion.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"

#include <QCloseEvent>
#include <QDir>
#include <QFont>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace vorel {

TfrmVrl::TfrmVrl(const QString &ClassId, const QString &MethodId, TSnVorel *Session)
    : QMainWindow(nullptr), ClassId(ClassId), MethodId(MethodId), CloseAfterUseCase(true), UseCaseFailed(false),
      Session(Session)
{
    setAttribute(Qt::WA_DeleteOnClose);
    QFont base(QStringLiteral("MS Sans Serif"));
    base.setPixelSize(11);
    setFont(base);

    tbProcesos = new QToolBar(this);
    tbProcesos->setObjectName(QStringLiteral("tbProcesos"));
    tbProcesos->setMovable(false);
    tbProcesos->setFixedHeight(29);
    tbProcesos->setIconSize(QSize(16, 16));
    tbProcesos->setStyleSheet(QStringLiteral("QToolButton { min-width: 33px; min-height: 21px; }"));
    addToolBar(Qt::TopToolBarArea, tbProcesos);

    MMenu = new QMenuBar(this);
    MMenu->setObjectName(QStringLiteral("MMenu"));
    setMenuBar(MMenu);

    Modulo1 = MMenu->addMenu(QStringLiteral("Modulo"));
    Modulo1->setObjectName(QStringLiteral("Modulo1"));
    Modulo1->setProperty("vorelMergeGroup", 1);
    Version1 = Modulo1->addAction(QStringLiteral("Version"));
    Version1->setObjectName(QStringLiteral("Version1"));
    Recarga1 = Modulo1->addAction(QStringLiteral("Recarga"));
    Recarga1->setObjectName(QStringLiteral("Recarga1"));
    Cerrar1 = Modulo1->addAction(QStringLiteral("Cerrar"));
    Cerrar1->setObjectName(QStringLiteral("Cerrar1"));
    Cerrar1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));

    Procesos1 = MMenu->addMenu(QStringLiteral("Pr&ocesos"));
    Procesos1->setObjectName(QStringLiteral("Procesos1"));
    Procesos1->setProperty("vorelMergeGroup", 1);
    Procesos1->setEnabled(false);

    connect(Version1, &QAction::triggered, this, [this] { ui::Guarded([this] { Version1Click(); }); });

    if (QMdiArea *area = ui::MdiArea()) {
        QMdiSubWindow *sub = area->addSubWindow(this);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->hide();
        sub->resize(688, 563);
    } else {
        resize(688, 563);
    }

    if (Session && Session->NextTop != 0)
        MoveTo(Session->NextTop, Session->NextLeft);
}

TfrmVrl::~TfrmVrl() = default;

QMdiSubWindow *TfrmVrl::SubWindow() const { return qobject_cast<QMdiSubWindow *>(parentWidget()); }

int TfrmVrl::Top() const
{
    const QMdiSubWindow *sub = SubWindow();
    return sub ? sub->y() : y();
}

int TfrmVrl::Left() const
{
    const QMdiSubWindow *sub = SubWindow();
    return sub ? sub->x() : x();
}

void TfrmVrl::MoveTo(int top, int left)
{
    if (QMdiSubWindow *sub = SubWindow())
        sub->move(left, top);
    else
        move(left, top);
}

void TfrmVrl::RunMethod(QObject *Sender)
{
    const int line = MethodRuns.IndexOfObject(Sender);
    const QString exportName = line >= 0 ? MethodRuns.Strings(line) : QString();
    // The gateway reports a failed module call itself and then clears
    // CloseAfterUseCase, so the window that started the run stays open.
    Session->OpenUseCase(ClassId, Sender ? Sender->objectName() : QString(), exportName);
    if (CloseAfterUseCase)
        close();
    CloseAfterUseCase = true;
}

void TfrmVrl::Version1Click()
{
    const QString file = ClassId.toLower() + QStringLiteral(".dll");
    ui::ShowMessage(ClassLabel + QLatin1Char('\r') + ClassId.toLower() + QStringLiteral(" version ")
                    + FileVersionText(QDir::current().filePath(file)));
}

void TfrmVrl::FormCloseQuery()
{
    if (!Session)
        return;
    Session->NextTop = Top();
    Session->NextLeft = Left();
}

void TfrmVrl::closeEvent(QCloseEvent *event)
{
    ui::Guarded([this] { FormCloseQuery(); });
    event->accept();
    // The sub-window goes with its form, whichever of the two was closed.
    if (QMdiSubWindow *sub = SubWindow()) {
        if (!sub->property("vorelClosing").toBool()) {
            sub->setProperty("vorelClosing", true);
            sub->close();
        }
    }
}

} // namespace vorel
