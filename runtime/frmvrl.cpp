#include "runtime/frmvrl.h"

#include "common/exception.h"
#include "common/fileversion.h"
#include "data/dataset.h"
#include "runtime/imagelist.h"
#include "runtime/placement.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"

#include <QRegularExpression>
#include <QToolButton>
#include <memory>

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

struct TfrmVrl::MethodMenuQueries {
    std::unique_ptr<TClientDataSet> labels;
    std::unique_ptr<TClientDataSet> method;
    std::unique_ptr<TClientDataSet> methods;
};

TfrmVrl::TfrmVrl(const QString &ClassId, const QString &MethodId, TSnVorel *Session)
    : TfrmVrl(ClassId, MethodId, Session, MenuReading::Now)
{
}

TfrmVrl::TfrmVrl(const QString &ClassId, const QString &MethodId, TSnVorel *Session, MenuReading reading)
    : QMainWindow(nullptr), ClassId(ClassId), MethodId(MethodId), CloseAfterUseCase(true), UseCaseFailed(false),
      Session(Session)
{
    // The class's rows travel in packets of 50: a window shows the first
    // ones at once and fetches the rest as the user scrolls.
    if (Session && Session->ModuleData)
        Session->ModuleData->SetPacketRecords(50);
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

    try {
        if (reading == MenuReading::Now)
            LoadMethodMenu();
        else
            SendMethodMenu();
    } catch (...) {
        TakeOutOfFrame();
        throw;
    }

    if (Session && Session->NextTop != 0)
        MoveTo(Session->NextTop, Session->NextLeft);
}

void TfrmVrl::TakeOutOfFrame()
{
    // A window whose construction fails is never returned: its empty
    // sub-window must not stay behind in the frame.
    if (QMdiSubWindow *sub = SubWindow()) {
        sub->setWidget(nullptr);
        setParent(nullptr);
        sub->deleteLater();
    }
}

QIcon TfrmVrl::Image(int index) const
{
    return Session && Session->Images ? Session->Images->Icon(index) : QIcon();
}

void TfrmVrl::SetActionImage(QAction *action, int index) const
{
    action->setProperty("vorelImageIndex", index);
    action->setIcon(Image(index));
}

bool IsIdentifier(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

QKeySequence HotKeyOf(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QKeySequence();
    QKeySequence seq = QKeySequence::fromString(t, QKeySequence::PortableText);
    if (seq.isEmpty() || seq.count() != 1 || seq[0].key() == Qt::Key_unknown || seq[0].key() == 0)
        return QKeySequence();
    // A modifier alone names no key.
    const Qt::Key key = seq[0].key();
    if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta)
        return QKeySequence();
    return seq;
}

void TfrmVrl::LoadMethodMenu()
{
    SendMethodMenu();
    ReadMethodMenu();
}

void TfrmVrl::SendMethodMenu()
{
    if (!Session)
        return;
    const auto query = [this](const TSqlLines &lines) {
        auto q = std::make_unique<TClientDataSet>();
        q->SetProviderName(QStringLiteral("dspq0"));
        q->SetRemoteServer(Session->Connection);
        q->SetCommandText(lines.Text());
        q->OpenAhead();
        return q;
    };
    const QString &role = Session->Role;
    auto queries = std::make_unique<MethodMenuQueries>();

    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT NVL(CLAR_Etiq,CLAS_Etiq) Etiq, CLAS_PKey PKey ")
             << QStringLiteral("FROM vorel.TClases, vorel.TClaRol ")
             << QStringLiteral("WHERE CLAS_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("And CLAR_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("And CLAR_ROL= '") + role + QStringLiteral("' ");
    queries->labels = query(SqlLines);

    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT NVL(METR_Etiq,METO_Etiq) Etiq ")
             << QStringLiteral("FROM vorel.TMetods, vorel.TMetRol ")
             << QStringLiteral("WHERE METO_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("  And METO_Metodo= '") + MethodId + QStringLiteral("' ")
             << QStringLiteral("And METR_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("  And METR_Metodo= '") + MethodId + QStringLiteral("' ")
             << QStringLiteral("And METR_ROL= '") + role + QStringLiteral("' ");
    queries->method = query(SqlLines);

    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT ") << QStringLiteral(" METO_Metodo Metodo, ")
             << QStringLiteral(" METO_Ejec Ejec, ") << QStringLiteral(" METO_Boton Boton, ")
             << QStringLiteral(" BOTO_HotKey HKey, ") << QStringLiteral(" NVL(METR_Etiq, METO_Etiq) Etiq, ")
             << QStringLiteral(" METO_Externo Externo ")
             << QStringLiteral("FROM vorel.TMETODS, vorel.TMETROL, vorel.TBOTONES ")
             << QStringLiteral("WHERE METO_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("  And METO_Activo= 1 ")
             << QStringLiteral("  And METO_Padre = '") + MethodId + QStringLiteral("'")
             << QStringLiteral("  And METO_Visib = 1 ") << QStringLiteral("  And METR_Clase= METO_Clase ")
             << QStringLiteral("  And METR_Metodo= METO_Metodo ")
             << QStringLiteral("  And METR_Rol= '") + role + QStringLiteral("' ")
             << QStringLiteral("  And METR_Activo= 1 ") << QStringLiteral("  And BOTO_Boton(+)= METO_Boton ")
             << QStringLiteral("  And METO_Metodo not in ") << QStringLiteral(" ( SELECT XUSU_Metodo ")
             << QStringLiteral("   FROM vorel.TXUSUROL, vorel.RSESION ")
             << QStringLiteral("   WHERE XUSU_Usua= SESI_Usua ")
             << QStringLiteral("     And XUSU_Clase= '") + ClassId + QStringLiteral("' ")
             << QStringLiteral("     And XUSU_Rol= '") + role + QStringLiteral("') ")
             << QStringLiteral("ORDER BY METO_Boton DESC ");
    queries->methods = query(SqlLines);
    m_menuQueries = std::move(queries);
}

void TfrmVrl::ReadMethodMenu()
{
    const std::unique_ptr<MethodMenuQueries> queries = std::move(m_menuQueries);
    if (queries) {
        TClientDataSet *q = queries->labels.get();
        ClassLabel = q->FieldByName(QStringLiteral("Etiq"))->AsString();
        ClassKey = q->FieldByName(QStringLiteral("PKey"))->AsString();
        q = queries->method.get();
        MethodLabel = q->FieldByName(QStringLiteral("Etiq"))->AsString();
        readMethods(queries->methods.get());
    }
    setWindowTitle(MethodLabel + QLatin1Char(' ') + ClassLabel);
}

void TfrmVrl::readMethods(TClientDataSet *q)
{
    Procesos1->setEnabled(!q->IsEmpty());
    TField *fMetodo = q->FieldByName(QStringLiteral("Metodo"));
    TField *fEjec = q->FieldByName(QStringLiteral("Ejec"));
    TField *fBoton = q->FieldByName(QStringLiteral("Boton"));
    TField *fHKey = q->FieldByName(QStringLiteral("HKey"));
    TField *fEtiq = q->FieldByName(QStringLiteral("Etiq"));
    QAction *firstButton = nullptr;
    while (!q->Eof()) {
        const QString method = fMetodo->AsString();
        // The entry is named after the method, and names are identifiers.
        if (!IsIdentifier(method))
            throw Exception(QStringLiteral("El método '%1' de la clase %2 no es un nombre válido: "
                                           "solo letras, dígitos y '_', sin empezar por un dígito")
                                .arg(method, ClassId));
        auto *entry = new QAction(fEtiq->AsString(), this);
        entry->setObjectName(method);
        if (!fHKey->IsNull())
            entry->setShortcut(HotKeyOf(fHKey->AsString()));
        connect(entry, &QAction::triggered, this, [this, entry] {
            ui::Guarded([this, entry] { RunMethod(entry); });
        });
        const QList<QAction *> existing = Procesos1->actions();
        Procesos1->insertAction(existing.isEmpty() ? nullptr : existing.first(), entry);
        MethodRuns.InsertObject(0, fEjec->AsString(), entry);
        if (fBoton->IsNull()) {
            entry->setProperty("vorelImageIndex", -1);
        } else {
            const int image = int(fBoton->AsInteger());
            SetActionImage(entry, image);
            auto *button = new QToolButton(tbProcesos);
            button->setDefaultAction(entry);
            if (image == -1)
                button->setText(method);
            button->setToolTip(ui::PlainToolTip(fEtiq->AsString()));
            // Rows come in descending button order: each button goes in front
            // of the one before, so the bar reads like the menu.
            firstButton = tbProcesos->insertWidget(firstButton, button);
        }
        q->Next();
    }
    q->Close();
    tbProcesos->setVisible(!tbProcesos->actions().isEmpty());
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
    if (QMdiSubWindow *sub = SubWindow()) {
        sub->move(left, top);
        sub->setProperty(MovedProperty, true);
    } else
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
