#include "runtime/snvorel.h"

#include "common/exception.h"
#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/errorderive.h"
#include "runtime/exports.h"
#include "runtime/ferror.h"
#include "runtime/frmvrl.h"
#include "runtime/placement.h"
#include "runtime/ui.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>
#include <memory>

namespace vorel {

namespace {

const QString MainMethod = QStringLiteral("main");
const QString NoTransaction = QStringLiteral("QUEMI: There is no active transaction");

TClientDataSet *newModuleData(TSocketConnection *connection)
{
    auto *data = new TClientDataSet(connection);
    data->SetRemoteServer(connection);
    data->SetProviderName(QStringLiteral("dspModulo"));
    return data;
}

std::unique_ptr<TClientDataSet> newQuery(TSocketConnection *connection, const QString &provider)
{
    auto query = std::make_unique<TClientDataSet>();
    query->SetProviderName(provider);
    query->SetRemoteServer(connection);
    return query;
}

// Closes and frees a query dataset also when a failure leaves the scope.
struct QueryCloser {
    TClientDataSet *query;
    ~QueryCloser()
    {
        try {
            query->Close();
        } catch (...) {
        }
    }
};

TfrmVrl *activeModuleWindow() { return qobject_cast<TfrmVrl *>(ui::ActiveMdiChild()); }

QMdiSubWindow *subWindowOf(QWidget *window)
{
    return window ? qobject_cast<QMdiSubWindow *>(window->parentWidget()) : nullptr;
}

// Top and left of a module window as the frame places it.
QPoint placeOf(QWidget *window)
{
    if (auto *form = qobject_cast<TfrmVrl *>(window))
        return QPoint(form->Left(), form->Top());
    if (QMdiSubWindow *sub = subWindowOf(window))
        return sub->pos();
    return window->pos();
}

void showModuleWindow(QWidget *window)
{
    QMdiSubWindow *sub = subWindowOf(window);
    QMdiArea *area = ui::MdiArea();
    if (!sub && area) {
        sub = area->addSubWindow(window);
        sub->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (sub) {
        // Placed before it is shown, against the window active until now.
        if (!sub->isVisible() && sub->mdiArea())
            PlaceSubWindow(sub);
        window->show();
        sub->show();
        if (QMdiArea *owner = sub->mdiArea())
            owner->setActiveSubWindow(sub);
        sub->raise();
    } else {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

} // namespace

TSnVorel::TSnVorel(TSocketConnection *connection, TImageList *images, const QString &role,
                   const QString &className)
    : Connection(connection), Images(images), Role(role), ModuleData(nullptr), HistoryIndex(0), NextTop(0),
      NextLeft(0), FirstOpen(true)
{
    ModuleData = newModuleData(Connection);
    // The first entry stands from the start: a drill-down made while the
    // library's first window is built then appends after it instead of two
    // entries sharing one dataset.
    ClassHistory.AddObject(className, ModuleData);
    StateHistory.Add(QString());
    m_entryStates.append(TEntryState{});
    try {
        OpenUseCase(className, MainMethod, QString());
    } catch (...) {
        // The gateway is gone once the failure leaves here: nothing may keep
        // pointing at it or at its datasets.
        discardWindows();
        for (int i = ClassHistory.Count() - 1; i >= 0; --i)
            delete ClassHistory.Objects(i);
        ClassHistory.Clear();
        StateHistory.Clear();
        m_entryStates.clear();
        ModuleData = nullptr;
        throw;
    }
    if (HistoryIndex == 0) {
        StateHistory.SetString(0, FilterState);
        m_entryStates[0] = TEntryState{DrillColumn, DrillValue, FilterState};
    }
}

TSnVorel::~TSnVorel() = default;

void TSnVorel::discardWindows()
{
    // A module may have made its window before a later step of the use case
    // failed; it was never shown. Windows live in the frame's sub-windows or,
    // without a frame, at the top level.
    const QWidgetList widgets = QApplication::allWidgets();
    QList<QPointer<QWidget>> doomed;
    for (QWidget *widget : widgets) {
        auto *form = qobject_cast<TfrmVrl *>(widget);
        if (!form || form->Session != this)
            continue;
        form->Session = nullptr;
        if (QMdiSubWindow *sub = subWindowOf(form))
            doomed << sub;
        else
            doomed << form;
    }
    for (const QPointer<QWidget> &window : doomed)
        delete window.data();
}

QString TSnVorel::StateText() const
{
    return DrillColumn + QLatin1Char('.') + DrillValue + QLatin1Char('.') + FilterState;
}

void TSnVorel::storeCurrentState()
{
    if (HistoryIndex < 0 || HistoryIndex >= StateHistory.Count())
        return;
    StateHistory.SetString(HistoryIndex, StateText());
    if (HistoryIndex < m_entryStates.size())
        m_entryStates[HistoryIndex] = {DrillColumn, DrillValue, FilterState};
}

void TSnVorel::OpenUseCase(const QString &ClassName, const QString &Method, const QString &ExportName)
{
    std::unique_ptr<TClientDataSet> q = newQuery(Connection, QStringLiteral("dspq0"));
    QueryCloser closer{q.get()};

    if (Method == MainMethod) {
        const QString fileName = ClassName.toLower() + QStringLiteral(".dll");
        q->SetCommandText(QStringLiteral("SELECT BINS_Arch Arch, BINS_Vers FROM vorel.TBINS WHERE BINS_Arch= '")
                          + fileName + QLatin1Char('\''));
        q->Open();
        if (!q->IsEmpty()) {
            const QString localFile = QDir::current().filePath(fileName);
            const bool current = QFileInfo::exists(localFile)
                && FileVersionText(localFile) == q->FieldByName(QStringLiteral("BINS_Vers"))->AsString();
            if (!current) {
                q->Close();
                q->SetCommandText(QStringLiteral("SELECT BINS_Bin Bin FROM vorel.TBINS WHERE BINS_Arch= '")
                                  + fileName + QLatin1Char('\''));
                q->Open();
                q->FieldByName(QStringLiteral("Bin"))->SaveToFile(localFile);
            }
        }
    }

    QString passedName = Method;
    QString entryName = ExportName.isEmpty() ? Method : ExportName;
    // A class library downloaded into the working folder is the one to run,
    // whatever stale copy the program folder may hold.
    void *library = platform::LoadLibraryFrom(QDir::currentPath(), ClassName);
    if (!library)
        library = platform::LoadLibrary(ClassName);
    if (!library) {
        if (Method != MainMethod)
            throw Exception(QStringLiteral("No se puede cargar Libreria"));
        library = platform::LoadLibrary(QStringLiteral("Comun"));
        entryName = MainMethod;
        passedName = ClassName;
        if (!library)
            throw Exception(QStringLiteral("No se puede cargar Libreria"));
    }
    const QByteArray exportName = entryName.toLatin1();
    auto entry = reinterpret_cast<TModuleEntryFn>(platform::GetProcAddress(library, exportName.constData()));
    if (!entry)
        throw Exception(QStringLiteral("No se puede cargar la función"));

    try {
        if (TfrmVrl *active = activeModuleWindow())
            active->UseCaseFailed = false;
        // The calls whose results nobody reads go out without waiting; a
        // failure of StartTran is met at the module's first read, which
        // then goes no further. Nothing is shown before the commit and the
        // access log are known to stand.
        Connection->CallAhead(QStringLiteral("StartTran"));
        ++m_moduleCalls;
        QWidget *window = entry(passedName, this);
        Connection->CallAhead(QStringLiteral("CommitTran"));
        Connection->CallAhead(
            QStringLiteral("EjeDir"),
            {QStringLiteral("INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) SELECT CUSO_Cuso, "
                            "SESI_Usua, sysdate FROM vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   And "
                            "CUSO_Clase= '")
             + ClassName + QStringLiteral("' ") + QStringLiteral("  And CUSO_Metodo= '") + Method
             + QStringLiteral("' ")});
        Connection->Sync();
        if (window) {
            // The frame chooses a window's place when it is first shown, so
            // the first window's place is read once it stands there.
            showModuleWindow(window);
            if (FirstOpen) {
                const QPoint place = placeOf(window);
                NextTop = place.y();
                NextLeft = place.x();
                FirstOpen = false;
            }
        }
    } catch (const std::exception &failure) {
        recoverFromModuleFailure(failure, ClassName, Method);
    } catch (...) {
        // A module may throw anything; it is reported like any failure and
        // never reaches the event loop.
        recoverFromModuleFailure(Exception(QStringLiteral("Error desconocido en el módulo de la clase ") + ClassName),
                                 ClassName, Method);
    }
}

void TSnVorel::recoverFromModuleFailure(const std::exception &failure, const QString &ClassName, const QString &Method)
{
    if (dynamic_cast<const ConnectionFailure *>(&failure)) {
        // The server rolled the use case back with the session it lost;
        // the connection answers the rollback itself, and says where the
        // user stands. Nothing here is worth a lookup or a log entry on a
        // session that never saw the failure.
        try {
            Connection->Call(QStringLiteral("RollBackTran"));
        } catch (const Exception &) {
        }
        if (TfrmVrl *active = activeModuleWindow()) {
            active->CloseAfterUseCase = false;
            active->UseCaseFailed = true;
        }
        ReportError(failure, ClassName, Method);
        return;
    }
    {
        try {
            Connection->Call(QStringLiteral("RollBackTran"));
        } catch (const Exception &rollback) {
            // A failure after the commit (the access log) leaves nothing to
            // roll back; the failure to report is the one that brought us here.
            if (rollback.message() != NoTransaction)
                throw;
        }
        if (TfrmVrl *active = activeModuleWindow()) {
            active->CloseAfterUseCase = false;
            active->UseCaseFailed = true;
        }
        if (ui::MessageOf(failure) == NoTransaction)
            ui::ShowMessage(QStringLiteral("Transaccion Rechazada, Intente de Nuevo..."));
        else
            ReportError(failure, ClassName, Method);
    }
}

void TSnVorel::TruncateHistory()
{
    while (StateHistory.Count() > HistoryIndex + 1) {
        const int last = ClassHistory.Count() - 1;
        if (last >= 0) {
            QObject *data = ClassHistory.Objects(last);
            // The dataset in use stays: a window shows it. Only the entry goes.
            if (data != ModuleData)
                delete data;
            ClassHistory.Delete(last);
        }
        StateHistory.Delete(StateHistory.Count() - 1);
        if (m_entryStates.size() > StateHistory.Count())
            m_entryStates.resize(StateHistory.Count());
    }
}

void TSnVorel::DrillDown(const QString &Key)
{
    storeCurrentState();
    TruncateHistory();

    const qsizetype first = Key.indexOf(QLatin1Char('.'));
    const qsizetype second = first < 0 ? -1 : Key.indexOf(QLatin1Char('.'), first + 1);
    const QString sourceColumn = first < 0 ? Key : Key.left(first);
    const QString relatedClass = first < 0 ? QString()
        : second < 0                       ? Key.mid(first + 1)
                                           : Key.mid(first + 1, second - first - 1);
    const QString targetColumn = second < 0 ? QString() : Key.mid(second + 1);

    const QString leftColumn = DrillColumn;
    const QString leftValue = DrillValue;
    TClientDataSet *leftData = ModuleData;
    if (!leftData)
        throw Exception(QStringLiteral("No hay datos de los que partir"));
    // Looked up first: a missing column must leave the entry as it was.
    const QString value = leftData->FieldByName(sourceColumn)->AsString();
    DrillColumn = targetColumn;
    DrillValue = value;

    ModuleData = newModuleData(Connection);
    const quint64 callsBefore = m_moduleCalls;
    try {
        OpenUseCase(relatedClass, MainMethod, QString());
    } catch (...) {
        // The step did not happen: the entry being left stays the current
        // one, with its own restriction, so its saved state is not
        // overwritten with the failed step's. Once the module has run, a
        // window it made may refer to the new dataset, which then stays with
        // the connection.
        TClientDataSet *failedData = ModuleData;
        DrillColumn = leftColumn;
        DrillValue = leftValue;
        ModuleData = leftData;
        if (m_moduleCalls == callsBefore)
            delete failedData;
        throw;
    }
    HistoryIndex = ClassHistory.AddObject(relatedClass, ModuleData);
    StateHistory.Add(QString());
    m_entryStates.append(TEntryState{});
}

void TSnVorel::Navigate(bool Forward)
{
    storeCurrentState();
    if (Forward && HistoryIndex != ClassHistory.Count() - 1)
        ++HistoryIndex;
    else if (!Forward && HistoryIndex != 0)
        --HistoryIndex;

    auto *entryData = qobject_cast<TClientDataSet *>(ClassHistory.Objects(HistoryIndex));
    if (entryData == ModuleData)
        return;

    const TEntryState left{DrillColumn, DrillValue, FilterState};
    TClientDataSet *leftData = ModuleData;
    const int leftIndex = ClassHistory.IndexOfObject(leftData);
    if (HistoryIndex < m_entryStates.size()) {
        const TEntryState &state = m_entryStates.at(HistoryIndex);
        DrillColumn = state.DrillColumn;
        DrillValue = state.DrillValue;
        FilterState = state.FilterState;
    }
    ModuleData = entryData;
    try {
        OpenUseCase(ClassHistory.Strings(HistoryIndex), MainMethod, QString());
    } catch (...) {
        // The step did not happen: the session stays on the entry it left.
        if (leftIndex >= 0)
            HistoryIndex = leftIndex;
        DrillColumn = left.DrillColumn;
        DrillValue = left.DrillValue;
        FilterState = left.FilterState;
        ModuleData = leftData;
        throw;
    }
}

void TSnVorel::ReportError(const std::exception &failure, const QString &ClassName, const QString &Method)
{
    const QString message = ui::MessageOf(failure);
    if (dynamic_cast<const ConnectionFailure *>(&failure)) {
        // The database never saw it: nothing to translate or log, and the
        // text already says what the user can do.
        WorkText.clear();
        ui::ShowMessage(message);
        return;
    }
    const QString translation = errors::Translate(message, Connection);
    // Modules may read WorkText after a report: once the lookups are done it
    // is left empty.
    WorkText.clear();

    if (translation.isEmpty()) {
        Connection->Call(
            QStringLiteral("EjeDir"),
            {QStringLiteral("INSERT INTO vorel.TEXCEPCION (EXCE_Mensaje, EXCE_Usua, EXCE_Fecha, EXCE_Cuso) SELECT ")
             + errors::Quoted(message) + QStringLiteral(", SESI_Usua, sysdate, CUSO_Cuso  ")
             + QStringLiteral("FROM vorel.TCUSOS, vorel.RSESION ") + QStringLiteral("WHERE CUSO_GUI= 'WIN32' ")
             + QStringLiteral("  And CUSO_Clase= '") + ClassName + QStringLiteral("' ")
             + QStringLiteral("  And CUSO_Metodo= '") + Method + QStringLiteral("' ")});
    }

    TFError dialog;
    dialog.SetTexts(translation.isEmpty() ? message : translation, message);
    dialog.Execute();
}

} // namespace vorel
