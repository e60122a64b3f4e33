#include "browser/frmvrllis.h"

#include "browser/columnlayout.h"
#include "browser/festad.h"
#include "browser/findbar.h"
#include "browser/forden.h"
#include "browser/fselec.h"
#include "browser/stringgrid.h"
#include "browser/walkprogress.h"
#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasetmodel.h"
#include "data/datawalk.h"
#include "data/selectiontotals.h"
#include "runtime/accessible.h"
#include "runtime/filedialog.h"
#include "runtime/imagelist.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QMenu>
#include <QPainter>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QScopedValueRollback>
#include <algorithm>
#include <functional>
#include <memory>

namespace vorel {

namespace {

// The wait cursor while a command talks to the server.
struct Busy {
    Busy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Busy() { QApplication::restoreOverrideCursor(); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;
};

std::unique_ptr<TClientDataSet> newQuery(TSnVorel *session, const QString &provider)
{
    auto q = std::make_unique<TClientDataSet>();
    q->SetProviderName(provider);
    q->SetRemoteServer(session->Connection);
    return q;
}

const QString TotalsName = QStringLiteral("Totales de la selección");

QString doubled(QString text) { return text.replace(QLatin1Char('\''), QStringLiteral("''")); }

// Only the letters a to z change.
QString upperAZ(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    return out;
}

QStringList textLines(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = t.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QAction *menuAction(QWidget *owner, const char *name, const QString &caption, const QString &hint,
                    const QKeySequence &key)
{
    auto *a = new QAction(caption, owner);
    a->setObjectName(QLatin1String(name));
    a->setStatusTip(hint);
    a->setToolTip(hint);
    if (!key.isEmpty())
        a->setShortcut(key);
    return a;
}

// Draws a column title that does not fit with its end elided: the
// toolkit's style cuts it at the edge, and a right-aligned title loses its
// first letters.
class TTitleStyle : public QProxyStyle
{
public:
    explicit TTitleStyle(QHeaderView *header)
    {
        setParent(header);
        header->setStyle(this);
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *title = qstyleoption_cast<const QStyleOptionHeader *>(option);
        if (element != CE_HeaderLabel || !title) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionHeader fitted = *title;
        QFont font = painter->font();
        // Selected columns' titles are drawn in bold.
        if (title->state & State_On)
            font.setBold(true);
        int room = title->rect.width();
        if (!title->icon.isNull())
            room -= pixelMetric(PM_SmallIconSize, option, widget) + pixelMetric(PM_HeaderMargin, option, widget);
        fitted.text = QFontMetrics(font).elidedText(title->text, Qt::ElideRight, std::max(0, room));
        QProxyStyle::drawControl(element, &fitted, painter, widget);
    }
};

QToolButton *mirrorButton(QWidget *owner, const char *name, QAction *action, const QString &caption)
{
    auto *b = new QToolButton(owner);
    b->setObjectName(QLatin1String(name));
    b->setDefaultAction(action);
    b->setText(caption);
    b->setToolTip(action->toolTip());
    b->setAutoRaise(true);
    return b;
}

} // namespace

TfrmVrlLis::TfrmVrlLis(const QString &ClassId, const QString &MethodId, TSnVorel *Session)
    : TfrmVrl(ClassId, MethodId, Session, MenuReading::Later), OrdenDialog(nullptr), SelecDialog(nullptr),
      EstadDialog(nullptr)
{
    try {
        buildLayout();
        SelecDialog = new TFSelec(this);
        SelecDialog->SetImages(Session->Images);
        SelecDialog->SGSele->SetColWidths(0, 140);
        OrdenDialog = new TFOrden(this);
        OrdenDialog->SetImages(Session->Images);
        EstadDialog = new TFEstad(nullptr);
        // The menu's answers and the first of the metadata come in one wait.
        sendMetadata();
        ReadMethodMenu();
        SelecDialog->setWindowTitle(QStringLiteral("Filtrar ") + ClassLabel);
        OrdenDialog->setWindowTitle(QStringLiteral("Ordenar ") + ClassLabel);
        EstadDialog->setWindowTitle(QStringLiteral("Estadisticos de ") + ClassLabel);

        m_data = Session->ModuleData;
        if (!m_data)
            throw Exception(QStringLiteral("La sesión no tiene datos de módulo"));
        dscdSet->SetDataSet(m_data);
        connect(m_data, &TClientDataSet::AfterScroll, this, [this] { ui::Guarded([this] { cdSetAfterScroll(); }); });
        connect(m_data, &TClientDataSet::AfterOpen, this, [this] { showRowCount(); });
        connect(m_data, &TClientDataSet::AfterClose, this, [this] { showRowCount(); });
        connect(m_data, &TClientDataSet::RowsAppended, this, [this] { showRowCount(); });

        QuickFilters.clear();
        RelationKeys.Clear();
        if (Session->Connection) {
            m_layoutUser = Session->Connection->LoginUser();
            m_layoutDatabase = Session->Connection->LoginDatabase();
        }
        m_layout = StoredColumnLayout(m_layoutUser, m_layoutDatabase, ClassId);
        BuildFromMetadata();
        if (!m_data->Active()) {
            Busy busy;
            RunQuery();
        } else {
            // Kept rows of a history entry: shown as they were left.
            applyColumnWidths();
            applyUserLayout();
            applySortMarker();
            syncViewToData(m_data->CurrentRow());
        }
        showRowCount();
        NameForAssistiveTechnology(this);
    } catch (...) {
        if (m_data)
            m_data->disconnect(this);
        delete EstadDialog;
        EstadDialog = nullptr;
        TakeOutOfFrame();
        throw;
    }
}

TfrmVrlLis::~TfrmVrlLis()
{
    if (m_data)
        m_data->disconnect(this);
    delete EstadDialog;
}

void TfrmVrlLis::buildLayout()
{
    setObjectName(QStringLiteral("frmVrlLis"));
    buildMenus();
    buildProcessButtons();
    buildPages();
    buildListPage();
    buildSaveDialog();
    connectCommands();
    connectGrid();
}

// The relation menus and the entries of Modulo1, with their keys.
void TfrmVrlLis::buildMenus()
{
    popRelB = new QMenu(this);
    popRelB->setObjectName(QStringLiteral("popRelB"));
    popRelF = new QMenu(this);
    popRelF->setObjectName(QStringLiteral("popRelF"));

    // Modulo1: the base form's entries, then the list's own.
    Filtrar1 = menuAction(this, "Filtrar1", QStringLiteral("Filtrar"), QStringLiteral("Filtrar Registros"),
                          QKeySequence(Qt::Key_F8));
    Ordenar1 = menuAction(this, "Ordenar1", QStringLiteral("Ordenar"), QStringLiteral("Ordenar Registros"),
                          QKeySequence(Qt::Key_F6));
    GrabaraDisco1 = menuAction(this, "GrabaraDisco1", QStringLiteral("Grabar a Disco"),
                               QStringLiteral("Grabar a Disco (CSV)"), QKeySequence(Qt::Key_F10));
    Estadistico1 = menuAction(this, "Estadistico1", QStringLiteral("Estadistico"), QStringLiteral("Estadisticos"),
                              QKeySequence(Qt::Key_F12));
    Refrescar1 = menuAction(this, "Refrescar1", QStringLiteral("Refrescar"), QStringLiteral("Refrescar"),
                            QKeySequence(Qt::Key_F3));
    SetActionImage(Filtrar1, 4);
    SetActionImage(Ordenar1, 5);
    SetActionImage(GrabaraDisco1, 9);
    SetActionImage(Estadistico1, 8);
    SetActionImage(Refrescar1, 14);
    Modulo1->addAction(Filtrar1);
    Modulo1->addAction(Ordenar1);
    Modulo1->addAction(GrabaraDisco1);
    Modulo1->addAction(Estadistico1);
    Modulo1->addAction(Refrescar1);
    N1 = Modulo1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Buscar1 = menuAction(this, "Buscar1", QStringLiteral("Buscar"), QStringLiteral("Buscar en las filas leídas"),
                         QKeySequence(Qt::CTRL | Qt::Key_F));
    SetActionImage(Buscar1, 16);
    BuscarSiguiente1 = menuAction(this, "BuscarSiguiente1", QStringLiteral("Buscar Siguiente"),
                                  QStringLiteral("Buscar Siguiente"), QKeySequence(Qt::CTRL | Qt::Key_G));
    BuscarAnterior1 = menuAction(this, "BuscarAnterior1", QStringLiteral("Buscar Anterior"),
                                 QStringLiteral("Buscar Anterior"), QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_G));
    CopiarTitulos1 = menuAction(this, "CopiarTitulos1", QStringLiteral("Copiar con Títulos"),
                                QStringLiteral("Copiar las celdas elegidas con los títulos de sus columnas"),
                                QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_C));
    SetActionImage(CopiarTitulos1, 28);
    RestauraColumnas1 = menuAction(this, "RestauraColumnas1", QStringLiteral("Restaurar Columnas"),
                                   QStringLiteral("Anchos y orden de las columnas como los define la clase"),
                                   QKeySequence());
    Modulo1->addActions({Buscar1, BuscarSiguiente1, BuscarAnterior1, CopiarTitulos1, RestauraColumnas1});
    // The keys work while the window is active, whether its menus stand in
    // its own bar or in the frame's.
    addActions({Filtrar1, Ordenar1, GrabaraDisco1, Estadistico1, Refrescar1, Buscar1, BuscarSiguiente1,
                BuscarAnterior1, CopiarTitulos1});
}

// The form's own buttons, refresh and the relations, stand first on the
// process toolbar.
void TfrmVrlLis::buildProcessButtons()
{
    bRefresca = mirrorButton(tbProcesos, "bRefresca", Refrescar1, QStringLiteral("Refrescar"));
    bRelB = new QToolButton(tbProcesos);
    bRelB->setObjectName(QStringLiteral("bRelB"));
    bRelB->setText(QStringLiteral("bRelB"));
    bRelB->setToolTip(QStringLiteral("Registros Padre"));
    bRelB->setIcon(Image(33));
    bRelB->setAutoRaise(true);
    bRelF = new QToolButton(tbProcesos);
    bRelF->setObjectName(QStringLiteral("bRelF"));
    // Before anything about the button reaches assistive technology, which
    // keeps the first interface it is given.
    SetSplitButtonAccessible(bRelF);
    bRelF->setText(QStringLiteral("bRelF"));
    bRelF->setToolTip(QStringLiteral("Registros Hijo"));
    bRelF->setIcon(Image(34));
    bRelF->setMenu(popRelF);
    bRelF->setPopupMode(QToolButton::MenuButtonPopup);
    bRelF->setAutoRaise(true);
    const QList<QAction *> methodButtons = tbProcesos->actions();
    QAction *before = methodButtons.isEmpty() ? nullptr : methodButtons.first();
    tbProcesos->insertWidget(before, bRefresca);
    tbProcesos->insertWidget(before, bRelB);
    tbProcesos->insertWidget(before, bRelF);
    tbProcesos->setVisible(true);
    connect(bRelB, &QToolButton::clicked, this, [this] { ui::Guarded([this] { bRelBClick(); }); });
    connect(bRelF, &QToolButton::clicked, this, [this] { ui::Guarded([this] { bRelFClick(); }); });
    // The history and the relation menu from the keyboard, as a web
    // browser's back and forward.
    const std::pair<QKeySequence, std::function<void()>> historyKeys[] = {
        {QKeySequence(Qt::ALT | Qt::Key_Left), [this] { bRelB->click(); }},
        {QKeySequence(Qt::ALT | Qt::Key_Right), [this] { bRelF->click(); }},
        {QKeySequence(Qt::ALT | Qt::Key_Down), [this] { bRelF->showMenu(); }},
    };
    for (const auto &[key, run] : historyKeys) {
        auto *a = new QAction(this);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, run);
        addAction(a);
    }
    bRelB->setToolTip(QStringLiteral("Registros Padre (Alt+Izquierda)"));
    bRelF->setToolTip(QStringLiteral("Registros Hijo (Alt+Derecha; Alt+Abajo: relaciones)"));
    bRelB->setAccessibleName(QStringLiteral("Registros Padre"));
    bRelF->setAccessibleName(QStringLiteral("Registros Hijo"));
    bRelF->setProperty("vorelPressKey", QKeySequence(Qt::ALT | Qt::Key_Right).toString(QKeySequence::NativeText));
    bRelF->setProperty("vorelMenuKey", QKeySequence(Qt::ALT | Qt::Key_Down).toString(QKeySequence::NativeText));
}

// Two pages without tabs: the list and the tree.
void TfrmVrlLis::buildPages()
{
    Pagina = new QTabWidget(this);
    Pagina->setObjectName(QStringLiteral("Pagina"));
    Pagina->tabBar()->hide();
    TabLista = new QWidget(Pagina);
    TabLista->setObjectName(QStringLiteral("TabLista"));
    TabArbol = new QWidget(Pagina);
    TabArbol->setObjectName(QStringLiteral("TabArbol"));
    Pagina->addTab(TabLista, QString());
    Pagina->addTab(TabArbol, QString());
    Pagina->setCurrentWidget(TabLista);
    tvModulo = new QTreeView(TabArbol);
    tvModulo->setObjectName(QStringLiteral("tvModulo"));
    tvModulo->setIndentation(19);
    tvModulo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto *treeLayout = new QVBoxLayout(TabArbol);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->addWidget(tvModulo);
    setCentralWidget(Pagina);
}

// The list page: toolbar, grid, search bar and status bar, top to bottom.
void TfrmVrlLis::buildListPage()
{
    buildListToolBar();
    buildGrid();
    buildStatusBar();

    auto *listLayout = new QVBoxLayout(TabLista);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(tbLista);
    listLayout->addWidget(dbgModulo, 1);
    FindBar = new TFindBar(dbgModulo, dscdSet, TabLista);
    listLayout->addWidget(FindBar);
    listLayout->addWidget(sbModulo);
}

void TfrmVrlLis::buildListToolBar()
{
    tbLista = new QToolBar(TabLista);
    tbLista->setObjectName(QStringLiteral("tbLista"));
    tbLista->setFixedHeight(26);
    tbLista->setIconSize(QSize(16, 16));

    buildNavigator();
    tbLista->addWidget(navcdsModulo);
    ToolButton4 = tbLista->addSeparator();
    ToolButton4->setObjectName(QStringLiteral("ToolButton4"));
    BSelect = mirrorButton(tbLista, "BSelect", Filtrar1, QStringLiteral("Filtrar"));
    bOrdena = mirrorButton(tbLista, "bOrdena", Ordenar1, QStringLiteral("Ordenar"));
    bGraba = mirrorButton(tbLista, "bGraba", GrabaraDisco1, QStringLiteral("Grabar a Disco"));
    bSuma = mirrorButton(tbLista, "bSuma", Estadistico1, QStringLiteral("Estadistico"));
    tbLista->addWidget(BSelect);
    tbLista->addWidget(bOrdena);
    tbLista->addWidget(bGraba);
    tbLista->addWidget(bSuma);
    ToolButton1 = tbLista->addSeparator();
    ToolButton1->setObjectName(QStringLiteral("ToolButton1"));
}

// Buttons that walk the rows: first, prior, next and last.
void TfrmVrlLis::buildNavigator()
{
    navcdsModulo = new QWidget(tbLista);
    navcdsModulo->setObjectName(QStringLiteral("navcdsModulo"));
    navcdsModulo->setFixedWidth(112);
    auto *navLayout = new QHBoxLayout(navcdsModulo);
    navLayout->setContentsMargins(0, 0, 0, 0);
    navLayout->setSpacing(0);
    struct Nav { const char *name; const char *hint; QStyle::StandardPixmap icon; };
    const Nav navs[] = {{"First", "Inicio", QStyle::SP_MediaSkipBackward},
                        {"Prior", "Anterior", QStyle::SP_MediaSeekBackward},
                        {"Next", "Siguiente", QStyle::SP_MediaSeekForward},
                        {"Last", "Final", QStyle::SP_MediaSkipForward}};
    for (int i = 0; i < 4; ++i) {
        auto *b = new QToolButton(navcdsModulo);
        b->setObjectName(QStringLiteral("nav") + QLatin1String(navs[i].name));
        b->setToolTip(QString::fromUtf8(navs[i].hint));
        b->setIcon(style()->standardIcon(navs[i].icon));
        b->setAutoRaise(true);
        navLayout->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, i] {
            ui::Guarded([this, i] {
                if (!m_data || !m_data->Active() || m_data->IsEmpty())
                    return;
                Busy busy;
                const int current = std::max(0, m_data->CurrentRow());
                switch (i) {
                case 0: m_data->First(); break;
                case 1: if (current > 0) m_data->MoveTo(current - 1); break;
                case 2: m_data->Next(); break;
                case 3:
                    m_data->FetchAll();
                    m_data->MoveTo(m_data->RecordCountFetched() - 1);
                    showRowCount();
                    break;
                }
            });
        });
    }
}

void TfrmVrlLis::buildGrid()
{
    dbgModulo = new QTableView(TabLista);
    dbgModulo->setObjectName(QStringLiteral("dbgModulo"));
    dbgModulo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgModulo->setSelectionBehavior(QAbstractItemView::SelectItems);
    dbgModulo->setSelectionMode(QAbstractItemView::ExtendedSelection);
    dbgModulo->setShowGrid(true);
    QFont body(QStringLiteral("MS Sans Serif"));
    body.setPointSize(8);
    dbgModulo->setFont(body);
    dbgModulo->horizontalHeader()->setFont(body);
    // A palette, not a style sheet: a style sheet would draw the titles
    // past the style that elides them.
    QPalette titles = dbgModulo->horizontalHeader()->palette();
    titles.setColor(QPalette::ButtonText, QColor(0, 0, 128));
    dbgModulo->horizontalHeader()->setPalette(titles);
    new TTitleStyle(dbgModulo->horizontalHeader());
    dbgModulo->horizontalHeader()->setSectionsClickable(true);
    dbgModulo->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    dbgModulo->verticalHeader()->setDefaultSectionSize(QFontMetrics(body).height() + 4);
    dscdSet = new TDataSetModel(this);
    dscdSet->setObjectName(QStringLiteral("dscdSet"));
    dbgModulo->setModel(dscdSet);
}

// Row count, totals of the selection and the current row's description.
void TfrmVrlLis::buildStatusBar()
{
    sbModulo = new QStatusBar(TabLista);
    sbModulo->setObjectName(QStringLiteral("sbModulo"));
    sbModulo->setSizeGripEnabled(false);
    sbPanel0 = new QLabel(sbModulo);
    sbPanel0->setObjectName(QStringLiteral("sbPanel0"));
    sbPanel0->setFixedWidth(300);
    sbPanel1 = new QLabel(sbModulo);
    sbPanel1->setObjectName(QStringLiteral("sbPanel1"));
    // It shows a value of the row as it is.
    ui::PlainLabel(sbPanel1);
    sbPanel1->setMinimumWidth(50);
    sbTotales = new QLabel(sbModulo);
    sbTotales->setObjectName(QStringLiteral("sbTotales"));
    sbTotales->setAccessibleName(TotalsName);
    sbModulo->addWidget(sbPanel0);
    sbModulo->addWidget(sbTotales);
    sbModulo->addWidget(sbPanel1, 1);
}

void TfrmVrlLis::buildSaveDialog()
{
    Graba = new QFileDialog(this);
    Graba->setObjectName(QStringLiteral("Graba"));
    Graba->setWindowTitle(QStringLiteral("Guardar Como ..."));
    Graba->setNameFilters({QStringLiteral("CSV (*.csv)"), QStringLiteral("Cualquier Archivo (*.*)")});
    Graba->setAcceptMode(QFileDialog::AcceptSave);
    Graba->setFileMode(QFileDialog::AnyFile);
    Graba->setOption(QFileDialog::DontConfirmOverwrite, true);
    Graba->setOption(QFileDialog::ReadOnly, false);
    Graba->setSizeGripEnabled(true);
}

// The menu entries and the copy key to what they do.
void TfrmVrlLis::connectCommands()
{
    auto *copy = new QAction(dbgModulo);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    dbgModulo->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] { CopySelection(false); });
    connect(CopiarTitulos1, &QAction::triggered, this, [this] { CopySelection(true); });
    connect(Buscar1, &QAction::triggered, FindBar, &TFindBar::Open);
    connect(BuscarSiguiente1, &QAction::triggered, FindBar, [this] { FindBar->Find(true); });
    connect(BuscarAnterior1, &QAction::triggered, FindBar, [this] { FindBar->Find(false); });
    connect(FindBar, &TFindBar::FetchRestRequested, this, [this] { ui::Guarded([this] { fetchRestAndFind(); }); });
    connect(RestauraColumnas1, &QAction::triggered, this, [this] { ui::Guarded([this] { RestauraColumnasClick(); }); });

    auto guarded = [this](QAction *a, void (TfrmVrlLis::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] {
            ui::Guarded([this, handler] {
                Busy busy;
                (this->*handler)();
            });
        });
    };
    guarded(Filtrar1, &TfrmVrlLis::OpenSelection);
    guarded(Ordenar1, &TfrmVrlLis::Ordenar1Click);
    guarded(GrabaraDisco1, &TfrmVrlLis::GrabaraDisco1Click);
    guarded(Estadistico1, &TfrmVrlLis::Estadistico1Click);
    guarded(Refrescar1, &TfrmVrlLis::Refrescar1Click);
}

// The grid's titles, selection and current cell, and the model's changes.
void TfrmVrlLis::connectGrid()
{
    QHeaderView *header = dbgModulo->horizontalHeader();
    header->setSectionsMovable(true);
    connect(header, &QHeaderView::sectionResized, this, &TfrmVrlLis::layoutChangedByUser);
    connect(header, &QHeaderView::sectionMoved, this, &TfrmVrlLis::layoutChangedByUser);
    connect(dbgModulo->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmVrlLis::showSelectionTotals);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        ui::Guarded([this, column] {
            Busy busy;
            dbgModuloTitleBtnClick(column);
        });
    });
    connect(dscdSet, &TDataSetModel::CurrentRowChanged, this, &TfrmVrlLis::syncViewToData);
    connect(dscdSet, &QAbstractItemModel::modelReset, this, [this] {
        applySortMarker();
        showSelectionTotals();
    });
    connect(dscdSet, &TDataSetModel::FetchFailed, this,
            [](const QString &message) { ui::HandleException(Exception(message)); });
    connect(dbgModulo->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current, const QModelIndex &previous) {
                if (!current.isValid())
                    return;
                if (current.row() != previous.row()) {
                    ui::Guarded([this, &current] {
                        Busy busy;
                        dscdSet->SetCurrentRow(current.row());
                    });
                }
                // Only the user enters a column: the first current cell of a
                // grid shown again is no move and keeps the forward history.
                if (previous.isValid() && current.column() != previous.column())
                    ui::Guarded([this] { dbgModuloColEnter(); });
                showRowCount();
            });
}

void TfrmVrlLis::syncViewToData(int row)
{
    if (!dbgModulo->model() || row < 0 || row >= dscdSet->rowCount())
        return;
    const QModelIndex current = dbgModulo->currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    if (current.isValid() && current.row() == row)
        return;
    if (dscdSet->columnCount() == 0)
        return;
    dbgModulo->setCurrentIndex(dscdSet->index(row, std::min(column, dscdSet->columnCount() - 1)));
}

void TfrmVrlLis::showRowCount()
{
    if (!m_data || !m_data->Active()) {
        sbPanel0->clear();
        return;
    }
    const int n = m_data->RecordCountFetched();
    sbPanel0->setText(QString::number(n) + (m_data->AllFetched() ? QString() : QStringLiteral("+"))
                      + QStringLiteral(" Registros"));
}

void TfrmVrlLis::sendMetadata()
{
    m_columnsQuery = newQuery(Session, QStringLiteral("dspq0"));
    m_columnsQuery->SetCommandText(
        QStringLiteral("SELECT UPPER(PROP_Prop) Col, PROP_Etiq, PROP_Visib, PROP_Estad FROM "
                       "vorel.TPROPCLASES WHERE PROP_Clase= '")
        + ClassId + QStringLiteral("'ORDER BY PROP_Orden"));
    m_columnsQuery->OpenAhead();
    m_filtersQuery = newQuery(Session, QStringLiteral("dspq0"));
    m_filtersQuery->SetCommandText(
        QStringLiteral("SELECT FILT_Filtro, FILT_Descrip, FILT_Prop, FILT_Defa FROM vorel.TFILTSELEC "
                       "WHERE FILT_Clase= '")
        + upperAZ(ClassId) + QStringLiteral("' And FILT_ROL= '") + Session->Role + QStringLiteral("'"));
    m_filtersQuery->OpenAhead();
}

void TfrmVrlLis::BuildFromMetadata()
{
    if (!m_columnsQuery)
        sendMetadata();
    const std::unique_ptr<TClientDataSet> A = std::move(m_columnsQuery);
    const std::unique_ptr<TClientDataSet> filters = std::move(m_filtersQuery);
    TStringGrid *sele = SelecDialog->SGSele;
    TStringGrid *stat = EstadDialog->strGrid;

    TField *col = A->FieldByName(QStringLiteral("Col"));
    TField *etiq = A->FieldByName(QStringLiteral("PROP_Etiq"));
    TField *visib = A->FieldByName(QStringLiteral("PROP_Visib"));
    TField *estad = A->FieldByName(QStringLiteral("PROP_Estad"));
    while (!A->Eof()) {
        const qint64 v = visib->AsInteger();
        if (v != 0) {
            if (!sele->Cells(0, 0).isEmpty())
                sele->SetRowCount(sele->RowCount() + 1);
            const int row = sele->RowCount() - 1;
            sele->SetCells(0, row, v == 2 ? QStringLiteral("* ") + etiq->AsString() : etiq->AsString());
            sele->SetObjects(0, row, col->AsString());
        }
        if (v == 1)
            OrdenDialog->Fuente->addItem(etiq->AsString());
        if (estad->AsInteger() == 1) {
            stat->SetRowCount(stat->RowCount() + 1);
            const int row = stat->RowCount() - 2;
            stat->SetCells(0, row, etiq->AsString());
            stat->SetObjects(0, row, col->AsString());
        }
        A->Next();
    }
    stat->SetRowHeights(stat->RowCount() - 1, 1);
    A->Close();

    // The relations go out behind the last query of the filters, and come
    // back with their answers.
    std::unique_ptr<TClientDataSet> relations = newQuery(Session, QStringLiteral("dspq0"));
    BuildQuickFilters(filters.get(), [&] {
        SqlLines.Clear();
        SqlLines << QStringLiteral("SELECT ") << QStringLiteral(" RELP_Prop_P Prop_P, ")
                 << QStringLiteral(" PROP_etiq Etiq, ") << QStringLiteral(" RELP_Clase Clase, ")
                 << QStringLiteral(" NVL(CLAR_Etiq, CLAS_Etiq) CLAS_H, ") << QStringLiteral(" RELP_PROP Prop")
                 << QStringLiteral("FROM vorel.TRELPROPS, vorel.TPROPCLASES, vorel.TCLAROL, vorel.TCLASES ")
                 << QStringLiteral("WHERE RELP_Clase_P= '") + ClassId + QStringLiteral("' ")
                 << QStringLiteral(" And PROP_Clase= RELP_Clase_P ") << QStringLiteral(" And PROP_Prop= RELP_Prop_P ")
                 << QStringLiteral(" And CLAR_CLASE= RELP_Clase ")
                 << QStringLiteral(" And CLAR_Rol= '") + Session->Role + QStringLiteral("' ")
                 << QStringLiteral("  And CLAS_Clase= CLAR_Clase ");
        relations->SetCommandText(SqlLines.Text());
        relations->OpenAhead();
    });
    TClientDataSet *R = relations.get();
    while (!R->Eof()) {
        auto *entry = new QAction(R->FieldByName(QStringLiteral("Etiq"))->AsString() + QStringLiteral(" -> ")
                                      + R->FieldByName(QStringLiteral("CLAS_H"))->AsString(),
                                  popRelF);
        connect(entry, &QAction::triggered, this, [this, entry] {
            ui::Guarded([this, entry] {
                Busy busy;
                mDrill(entry);
            });
        });
        popRelF->addAction(entry);
        RelationKeys.AddObject(R->FieldByName(QStringLiteral("Prop_P"))->AsString() + QLatin1Char('.')
                                   + R->FieldByName(QStringLiteral("Clase"))->AsString() + QLatin1Char('.')
                                   + R->FieldByName(QStringLiteral("Prop"))->AsString(),
                               entry);
        R->Next();
    }
    R->Close();
}

void TfrmVrlLis::BuildQuickFilters(TClientDataSet *A, const std::function<void()> &sendNext)
{
    if (!A->Active()) {
        A->SetCommandText(QStringLiteral("SELECT FILT_Filtro, FILT_Descrip, FILT_Prop, FILT_Defa FROM "
                                         "vorel.TFILTSELEC WHERE FILT_Clase= '")
                          + upperAZ(ClassId) + QStringLiteral("' And FILT_ROL= '") + Session->Role
                          + QStringLiteral("'"));
        A->OpenAhead();
    }
    struct Filter {
        QString id;
        qint64 tag = 0;
        bool hasDescrip = false;
        QString descrip;
        bool hasProp = false;
        QString prop;
        std::unique_ptr<TClientDataSet> items; // TCOLFILTROS, then the table they name
    };
    std::vector<Filter> filters;
    for (; !A->Eof(); A->Next()) {
        Filter f;
        f.id = A->FieldByName(QStringLiteral("FILT_Filtro"))->AsString();
        f.tag = A->FieldByName(QStringLiteral("FILT_Filtro"))->AsInteger();
        TField *descrip = A->FieldByName(QStringLiteral("FILT_Descrip"));
        f.hasDescrip = !descrip->IsNull();
        f.descrip = descrip->AsString();
        TField *prop = A->FieldByName(QStringLiteral("FILT_Prop"));
        f.hasProp = !prop->IsNull();
        f.prop = prop->AsString();
        filters.push_back(std::move(f));
    }
    A->Close();

    // Each filter's list is asked for as soon as its text is known: up to
    // and including the next filter whose entries come from a table, whose
    // name only that filter's answer tells.
    size_t sent = 0;
    bool nextSent = false;
    const auto sendAhead = [&] {
        while (sent < filters.size()) {
            Filter &f = filters[sent++];
            f.items = newQuery(Session, QStringLiteral("dspq1"));
            f.items->SetCommandText(QStringLiteral("SELECT COLF_Col, COLF_Expr FROM vorel.TCOLFILTROS WHERE COLF_Filtro= ")
                                    + f.id + QStringLiteral(" ORDER BY COLF_Orden"));
            f.items->OpenAhead();
            if (f.hasProp)
                return;
        }
        if (!nextSent && sendNext) {
            nextSent = true;
            sendNext();
        }
    };
    sendAhead();

    QString work = Session->FilterState;
    const bool restoring = m_data->Active();
    for (Filter &f : filters) {
        auto *box = new QComboBox(tbLista);
        box->setEditable(false);
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        if (f.hasDescrip)
            box->setToolTip(ui::PlainToolTip(f.descrip));
        box->setProperty("vorelTag", f.tag);
        box->setObjectName(QStringLiteral("QuickFilter") + f.id);
        tbLista->addWidget(box);

        TClientDataSet *B = f.items.get();
        int defaultIndex = 0;
        if (!f.hasProp) {
            while (!B->Eof()) {
                box->addItem(B->FieldByName(QStringLiteral("COLF_Col"))->AsString(),
                             B->FieldByName(QStringLiteral("COLF_Expr"))->AsString());
                B->Next();
            }
        } else {
            const QString table = B->FieldByName(QStringLiteral("COLF_Col"))->AsString();
            const QStringList lines = textLines(B->FieldByName(QStringLiteral("COLF_Expr"))->AsString());
            B->Close();
            B->SetCommandText(QStringLiteral("SELECT * FROM ") + table);
            B->OpenAhead();
            sendAhead();
            const QString keyColumn = lines.value(0);
            const QString captionColumn = lines.value(1);
            int row = 0;
            while (!B->Eof()) {
                const QString key = B->FieldByName(keyColumn)->AsString();
                box->addItem(B->FieldByName(captionColumn)->AsString(),
                             f.prop + QStringLiteral(" = '") + key + QStringLiteral("'"));
                if (lines.size() > 2 && key == lines.at(2))
                    defaultIndex = row;
                ++row;
                B->Next();
            }
        }
        B->Close();
        f.items.reset();
        int chosen = defaultIndex;
        if (restoring && !work.isEmpty()) {
            const qsizetype period = work.indexOf(QLatin1Char('.'));
            bool ok = false;
            const int saved = (period < 0 ? work : work.left(period)).toInt(&ok);
            work = period < 0 ? QString() : work.mid(period + 1);
            if (ok && saved >= 0 && saved < box->count())
                chosen = saved;
        }
        box->setCurrentIndex(box->count() > 0 ? chosen : -1);
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            ui::Guarded([this] {
                Busy busy;
                FilRap();
            });
        });
        QuickFilters.append(box);
    }
    sendAhead();
}

void TfrmVrlLis::FilRap() { RunQuery(); }

QString TfrmVrlLis::OrderText() const
{
    QString text;
    const QList<std::pair<QString, bool>> entries = OrdenDialog->DestinoEntries();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        for (int f = 0; m_data && f < m_data->FieldCount(); ++f) {
            const TField *field = m_data->Fields(f);
            if (field->DisplayName() != entries[i].first)
                continue;
            if (i != 0)
                text += QLatin1Char(',');
            text += field->FieldName();
            if (entries[i].second)
                text += QStringLiteral(" DESC ");
        }
    }
    return text;
}

void TfrmVrlLis::RunQuery()
{
    if (!m_data)
        throw Exception(QStringLiteral("La ventana ya no tiene datos"));
    TSocketConnection *c = Session->Connection;
    // Nothing here needs the answers: they are checked where the rows are
    // first read, which a failure of any of them reaches first.
    auto exec = [c](const QString &sql) { c->CallAhead(QStringLiteral("EjeDir"), {sql}); };
    exec(QStringLiteral("DELETE FROM vorel.RVFILRAP"));
    if (!Session->DrillColumn.isEmpty())
        exec(QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Valor) VALUES ('") + Session->DrillColumn
             + QStringLiteral("= ''") + doubled(Session->DrillValue) + QStringLiteral("''')"));
    Session->FilterState.clear();
    for (QComboBox *box : std::as_const(QuickFilters)) {
        if (box->currentIndex() >= 0)
            exec(QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (")
                 + QString::number(box->property("vorelTag").toLongLong()) + QStringLiteral(", '")
                 + doubled(box->currentData().toString()) + QStringLiteral("') "));
        Session->FilterState += QString::number(box->currentIndex()) + QLatin1Char('.');
    }
    exec(QStringLiteral("DELETE FROM vorel.RQBEX"));
    if (m_data->Active()) {
        const TStringGrid *grid = SelecDialog->SGSele;
        for (int n = 1; n < grid->ColCount(); ++n) {
            for (int r = 0; r < grid->RowCount(); ++r) {
                const QString column = grid->Objects(0, r);
                if (column.isEmpty())
                    continue;
                const TField *field = m_data->FieldByName(column);
                const QString flag = field->IsDateTime() ? QStringLiteral("1)") : QStringLiteral("0)");
                const QString value = grid->Cells(n, r);
                if (value.isEmpty())
                    continue;
                exec(QStringLiteral("INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (")
                     + QString::number(n) + QStringLiteral(",'") + column + QStringLiteral("', '") + doubled(value)
                     + QStringLiteral("',") + flag);
            }
        }
    }
    FormWorkText = OrderText();
    if (!FormWorkText.isEmpty())
        exec(QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, '")
             + doubled(FormWorkText) + QStringLiteral("') "));
    m_data->SetCommandText(QStringLiteral("SELECT * FROM TABLE(p") + ClassId + QStringLiteral(".main('")
                           + Session->Role + QStringLiteral("'))"));
    // The rows shown go when the new ones are read: a failure of the writes
    // above leaves them, as it would if each write waited.
    m_data->ReopenAhead();
    try {
        ApplyColumnPresentation();
    } catch (...) {
        // The window must show a dataset that says what it holds.
        m_data->Active();
        throw;
    }
    showRowCount();
}

void TfrmVrlLis::ApplyColumnPresentation()
{
    const QScopedValueRollback<bool> applying(m_applyingLayout, true);
    // Both queries go out before the first answer is read.
    std::unique_ptr<TClientDataSet> q = newQuery(Session, QStringLiteral("dspq0"));
    q->SetCommandText(QStringLiteral("SELECT UPPER(PROP_Prop) Col, PROP_Etiq, PROP_Visib, PROP_Mone, PROP_Tama, "
                                     "PROP_Mask, PROP_Estad FROM vorel.TPROPCLASES WHERE PROP_Clase= '")
                      + ClassId + QStringLiteral("'"));
    q->OpenAhead();
    std::unique_ptr<TClientDataSet> labels = newQuery(Session, QStringLiteral("dspq0"));
    labels->SetCommandText(QStringLiteral("SELECT UPPER(PROP_Prop) Col, PROP_PropEtiq FROM vorel.TPROPCLASES WHERE "
                                          "PROP_Clase= '")
                           + ClassId + QStringLiteral("' And PROP_PropEtiq is not null"));
    labels->OpenAhead();
    // The grid is told once, after every field is dressed.
    try {
        while (!q->Eof()) {
            TField *f = m_data->FieldByName(q->FieldByName(QStringLiteral("Col"))->AsString());
            f->SetDisplayLabel(q->FieldByName(QStringLiteral("PROP_Etiq"))->AsString());
            f->SetVisible(q->FieldByName(QStringLiteral("PROP_Visib"))->AsInteger() == 1);
            if (q->FieldByName(QStringLiteral("PROP_Mone"))->AsInteger() == 1)
                f->SetCurrency(true);
            const qint64 width = q->FieldByName(QStringLiteral("PROP_Tama"))->AsInteger();
            if (width != 0)
                f->SetDisplayWidth(int(width));
            q->Next();
        }
        q->Close();
        while (!labels->Eof()) {
            TField *f = m_data->FieldByName(labels->FieldByName(QStringLiteral("Col"))->AsString());
            f->SetTag(
                m_data->FieldByName(labels->FieldByName(QStringLiteral("PROP_PropEtiq"))->AsString())->FieldNo() - 1);
            labels->Next();
        }
    } catch (...) {
        dscdSet->RefreshLayout();
        throw;
    }
    labels->Close();
    dscdSet->RefreshLayout();
    applyColumnWidths();
    applyUserLayout();
}

void TfrmVrlLis::applyColumnWidths()
{
    const QScopedValueRollback<bool> applying(m_applyingLayout, true);
    const QFontMetrics fm(dbgModulo->font());
    for (int c = 0; c < dscdSet->columnCount(); ++c) {
        const int field = dscdSet->FieldIndexOfColumn(c);
        if (field < 0 || !m_data)
            continue;
        const int chars = std::max(1, m_data->Fields(field)->DisplayWidth());
        dbgModulo->setColumnWidth(c, chars * fm.averageCharWidth() + 8);
    }
}

void TfrmVrlLis::applyUserLayout()
{
    const QScopedValueRollback<bool> applying(m_applyingLayout, true);
    ApplyColumnLayout(*dbgModulo->horizontalHeader(), *dscdSet, m_layout);
}

void TfrmVrlLis::layoutChangedByUser()
{
    // Sections also change when the model is reset or the metadata's
    // widths are applied: only the user's own moves are kept.
    if (m_applyingLayout || dscdSet->columnCount() == 0 || dbgModulo->horizontalHeader()->count() == 0)
        return;
    m_layout = ColumnLayoutText(*dbgModulo->horizontalHeader(), *dscdSet);
    m_layoutChanged = true;
}

void TfrmVrlLis::RestauraColumnasClick()
{
    {
        const QScopedValueRollback<bool> applying(m_applyingLayout, true);
        ResetColumnOrder(*dbgModulo->horizontalHeader());
    }
    applyColumnWidths();
    m_layout.clear();
    m_layoutChanged = false;
    StoreColumnLayout(m_layoutUser, m_layoutDatabase, ClassId, QString());
}

void TfrmVrlLis::showSelectionTotals()
{
    const QItemSelection selection = dbgModulo->selectionModel()->selection();
    const TSelectionTotals totals = SelectionTotals(*dscdSet, selection);
    // One cell is the current cell, which the grid shows already.
    const QString text = totals.Cells > 1 ? totals.Text() : QString();
    sbTotales->setText(text);
    // A label with a name of its own offers assistive technology the name
    // alone: the figures go into it, and changing it announces them.
    sbTotales->setAccessibleName(text.isEmpty() ? TotalsName : TotalsName + QStringLiteral(": ") + text);
}

void TfrmVrlLis::fetchRestAndFind()
{
    if (!m_data || !m_data->Active())
        return;
    {
        Busy busy;
        m_data->FetchAll();
    }
    showRowCount();
    FindBar->Find(true);
}

void TfrmVrlLis::applySortMarker()
{
    QHeaderView *header = dbgModulo->horizontalHeader();
    const QString index = m_data ? m_data->IndexFieldNames() : QString();
    int marked = -1;
    for (int c = 0; !index.isEmpty() && c < dscdSet->columnCount(); ++c) {
        const int field = dscdSet->FieldIndexOfColumn(c);
        if (field >= 0 && m_data->Fields(field)->FieldName() == index)
            marked = c;
    }
    header->setSortIndicatorShown(marked >= 0);
    header->setSortIndicator(marked, Qt::AscendingOrder);
}

void TfrmVrlLis::Refrescar1Click()
{
    if (!ui::Confirm(QStringLiteral("Refrescar Datos")))
        return;
    setWindowTitle(QStringLiteral("Refrescando Datos ") + ClassLabel + QStringLiteral("..."));
    RunQuery();
    setWindowTitle(ClassLabel);
}

void TfrmVrlLis::OpenSelection()
{
    SelecDialog->exec();
    if (SelecDialog->Accepted)
        RunQuery();
}

void TfrmVrlLis::cdSetAfterScroll()
{
    Session->TruncateHistory();
    const QModelIndex current = dbgModulo->currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    const int field = dscdSet->FieldIndexOfColumn(column);
    if (field < 0 || !m_data) {
        sbPanel1->clear();
        return;
    }
    const int tag = m_data->Fields(field)->Tag();
    if (tag > 0 && tag < m_data->FieldCount())
        sbPanel1->setText(m_data->Fields(tag)->AsString());
    else
        sbPanel1->clear();
}

void TfrmVrlLis::dbgModuloColEnter() { cdSetAfterScroll(); }

void TfrmVrlLis::Ordenar1Click()
{
    const TSortSnapshot snapshot = TSortSnapshot::Take(*OrdenDialog);
    OrdenDialog->exec();
    if (OrdenDialog->Accepted)
        RunQuery();
    else
        snapshot.Restore(*OrdenDialog);
}

void TfrmVrlLis::dbgModuloTitleBtnClick(int column)
{
    const int field = dscdSet->FieldIndexOfColumn(column);
    if (field < 0 || !m_data || !m_data->Active())
        return;
    const QString name = m_data->Fields(field)->FieldName();
    // The grid's reset that follows sets the marker.
    m_data->SetIndexFieldNames(m_data->IndexFieldNames() == name ? QString() : name);
    showRowCount();
}

void TfrmVrlLis::askAgainIfLost()
{
    // The rows not yet read went with a session the connection has since
    // opened anew: the same query, with its working rows written again, on
    // the session that stands.
    if (m_data && m_data->RowsLost())
        RunQuery();
}

void TfrmVrlLis::Estadistico1Click()
{
    if (!ui::Confirm(QStringLiteral("Calcular Estadísticos")))
        return;
    askAgainIfLost();
    m_data->First();
    if (m_data->Eof()) {
        ui::ShowMessage(QStringLiteral("No hay Registros"));
        return;
    }
    TStringGrid *grid = EstadDialog->strGrid;
    QStringList columns;
    for (int r = 1; r <= grid->RowCount() - 2; ++r)
        columns << grid->Objects(0, r);
    TWalkProgressDialog progress(this, QStringLiteral("Calculando estadísticos"));
    const TStatisticsResult result = ComputeStatistics(m_data, columns, progress.Callback());
    showRowCount();
    if (result.Cancelled)
        return;
    for (int r = 1; r <= grid->RowCount() - 2; ++r) {
        const TStatisticsColumn &c = result.Columns.at(r - 1);
        grid->SetCells(1, r, StatisticText(c.Sum, c.Currency));
        grid->SetCells(2, r, c.Count > 0 ? StatisticText(c.Maximum, c.Currency) : QString());
        grid->SetCells(3, r, c.Count > 0 ? StatisticText(c.Minimum, c.Currency) : QString());
        grid->SetCells(4, r, StatisticText(c.Average(), c.Currency));
    }
    EstadDialog->Pan->setText(QString::number(result.Rows) + QStringLiteral(" Registros"));
    // Large sums must be read whole, not cut short by the grid.
    for (int c = 0; c < grid->ColCount(); ++c)
        grid->resizeColumnToContents(c);
    EstadDialog->exec();
}

void TfrmVrlLis::GrabaraDisco1Click()
{
    QString chosen;
    if (!ui::ExecFileDialog(*Graba, &chosen))
        return;
    const QString before = windowTitle();
    setWindowTitle(QStringLiteral("Guardando Datos ..."));
    FormWorkText = chosen;
    const QString own = QFileInfo(chosen).fileName();
    const qsizetype period = own.lastIndexOf(QLatin1Char('.'));
    if (period < 0 || own.mid(period + 1) != QLatin1String("csv"))
        FormWorkText += QStringLiteral(".csv");
    bool written = false;
    try {
        askAgainIfLost();
        TWalkProgressDialog progress(this, QStringLiteral("Guardando datos"));
        written = ExportCsv(m_data, FormWorkText, progress.Callback());
    } catch (...) {
        setWindowTitle(QStringLiteral("No se pudo guardar ") + FormWorkText);
        showRowCount();
        throw;
    }
    showRowCount();
    setWindowTitle(written ? FormWorkText : before);
}

void TfrmVrlLis::mDrill(QObject *Sender)
{
    if (!m_data || m_data->Eof())
        return;
    Session->NextTop = Top();
    Session->NextLeft = Left();
    const int line = RelationKeys.IndexOfObject(Sender);
    if (line < 0)
        return;
    Session->DrillDown(RelationKeys.Strings(line));
    close();
}

void TfrmVrlLis::bRelBClick()
{
    if (Session->HistoryIndex != 0)
        Mueve(false);
}

void TfrmVrlLis::bRelFClick()
{
    if (Session->HistoryIndex != Session->ClassHistory.Count() - 1)
        Mueve(true);
}

void TfrmVrlLis::Mueve(bool Forward)
{
    Busy busy;
    Session->NextTop = Top();
    Session->NextLeft = Left();
    Session->Navigate(Forward);
    close();
}

QModelIndexList TfrmVrlLis::selectedCells() const
{
    QModelIndexList cells = dbgModulo->selectionModel()->selectedIndexes();
    if (cells.isEmpty() && dbgModulo->currentIndex().isValid())
        cells << dbgModulo->currentIndex();
    return cells;
}

namespace {

// The selected cells as a table of the rows and columns they touch, in
// the order the user sees; a cell of it that is not selected is invalid.
struct CellTable {
    QList<int> columns; // logical, in visual order
    QList<QList<QModelIndex>> rows;
};

CellTable cellTable(const QModelIndexList &cells, const QHeaderView &header)
{
    CellTable t;
    QList<int> rowNumbers;
    for (const QModelIndex &c : cells) {
        if (!t.columns.contains(c.column()))
            t.columns << c.column();
        if (!rowNumbers.contains(c.row()))
            rowNumbers << c.row();
    }
    std::sort(t.columns.begin(), t.columns.end(),
              [&header](int a, int b) { return header.visualIndex(a) < header.visualIndex(b); });
    std::sort(rowNumbers.begin(), rowNumbers.end());
    t.rows.resize(rowNumbers.size(), QList<QModelIndex>(t.columns.size()));
    for (const QModelIndex &c : cells)
        t.rows[rowNumbers.indexOf(c.row())][t.columns.indexOf(c.column())] = c;
    return t;
}

QString htmlCell(const QModelIndex &cell)
{
    if (!cell.isValid())
        return QStringLiteral("<td></td>");
    const QVariant value = cell.data(Qt::EditRole);
    const QString shown = cell.data(Qt::DisplayRole).toString().toHtmlEscaped();
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double: {
        // The value itself beside the text shown: spreadsheets take it as
        // a number whatever their decimal separator.
        const QString number = QString::number(value.value<double>(), 'g', 17);
        return QStringLiteral("<td x:num=\"%1\" sdval=\"%1\" align=\"right\">%2</td>").arg(number, shown);
    }
    case QMetaType::QDateTime:
    case QMetaType::QDate: {
        const QDateTime at = value.toDateTime();
        const QString iso = at.time() == QTime(0, 0) ? at.date().toString(Qt::ISODate)
                                                     : at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return QStringLiteral("<td>") + iso + QStringLiteral("</td>");
    }
    default:
        return QStringLiteral("<td>") + shown + QStringLiteral("</td>");
    }
}

// A field of tab-separated text as spreadsheets paste it: one holding a
// tab or a line break, or starting with a quote, goes between double quotes
// with its quotes doubled; any other as it is.
QString tabField(const QString &text)
{
    const bool quoted = text.startsWith(QLatin1Char('"')) || text.contains(QLatin1Char('\t'))
                        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quoted)
        return text;
    QString field = text;
    return QLatin1Char('"') + field.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

QString TfrmVrlLis::SelectionText(bool titles) const
{
    const CellTable t = cellTable(selectedCells(), *dbgModulo->horizontalHeader());
    QString out;
    if (titles && !t.rows.isEmpty()) {
        QStringList line;
        for (int column : t.columns)
            line << tabField(dscdSet->headerData(column, Qt::Horizontal).toString());
        out += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    for (const QList<QModelIndex> &row : t.rows) {
        QStringList line;
        for (const QModelIndex &cell : row)
            line << (cell.isValid() ? tabField(cell.data().toString()) : QString());
        out += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return out;
}

QString TfrmVrlLis::SelectionHtml(bool titles) const
{
    const CellTable t = cellTable(selectedCells(), *dbgModulo->horizontalHeader());
    QString out = QStringLiteral("<table>");
    if (titles) {
        out += QStringLiteral("<tr>");
        for (int column : t.columns)
            out += QStringLiteral("<th>") + dscdSet->headerData(column, Qt::Horizontal).toString().toHtmlEscaped()
                   + QStringLiteral("</th>");
        out += QStringLiteral("</tr>");
    }
    for (const QList<QModelIndex> &row : t.rows) {
        out += QStringLiteral("<tr>");
        for (const QModelIndex &cell : row)
            out += htmlCell(cell);
        out += QStringLiteral("</tr>");
    }
    return out + QStringLiteral("</table>");
}

void TfrmVrlLis::CopySelection(bool titles)
{
    auto *mime = new QMimeData;
    mime->setText(SelectionText(titles));
    mime->setHtml(SelectionHtml(titles));
    QApplication::clipboard()->setMimeData(mime);
}

void TfrmVrlLis::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        if (m_data)
            m_data->disconnect(this);
        dscdSet->SetDataSet(nullptr);
        delete SelecDialog;
        SelecDialog = nullptr;
        delete OrdenDialog;
        OrdenDialog = nullptr;
        delete EstadDialog;
        EstadDialog = nullptr;
        QuickFilters.clear();
        RelationKeys.Clear();
        if (m_layoutChanged)
            ui::Guarded([this] { StoreColumnLayout(m_layoutUser, m_layoutDatabase, ClassId, m_layout); });
    }
    TfrmVrl::closeEvent(event);
}

} // namespace vorel
