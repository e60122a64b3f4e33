#pragma once
#include "common/stringlist.h"
#include "common/vorelglobal.h"

#include <QList>
#include <QString>
#include <exception>

namespace vorel {

class TSocketConnection;
class TClientDataSet;
class TImageList;

// The use-case gateway. One per class opened from the role bar; it opens the
// use cases of that class and of its drill-down chain and lives until the
// process ends. Plain class, no virtual operations: the libraries share its
// layout.
class VOREL_GUI_EXPORT TSnVorel
{
public:
    // Builds the gateway and opens the class's main use case at once.
    TSnVorel(TSocketConnection *connection, TImageList *images, const QString &role,
             const QString &className);
    ~TSnVorel();
    TSnVorel(const TSnVorel &) = delete;
    TSnVorel &operator=(const TSnVorel &) = delete;

    TSocketConnection *Connection;
    TImageList *Images;
    QString Role;
    TClientDataSet *ModuleData;
    TStringList ClassHistory;   // class name, carrying its ModuleData
    TStringList StateHistory;   // state text per entry
    qint32 HistoryIndex;
    qint32 NextTop;
    qint32 NextLeft;
    QString DrillColumn;
    QString DrillValue;
    QString FilterState;
    QString WorkText;
    bool FirstOpen;

    void OpenUseCase(const QString &ClassName, const QString &Method, const QString &ExportName);
    void ReportError(const std::exception &failure, const QString &ClassName, const QString &Method);
    void DrillDown(const QString &Key);
    void Navigate(bool Forward);
    void TruncateHistory();
    // DrillColumn "." DrillValue "." FilterState.
    QString StateText() const;

private:
    // The three parts of each entry's state kept apart, at the same index as
    // StateHistory: a column or value holding a period must come back whole,
    // which splitting the joined text cannot promise.
    struct TEntryState {
        QString DrillColumn;
        QString DrillValue;
        QString FilterState;
    };
    QList<TEntryState> m_entryStates;
    quint64 m_moduleCalls = 0; // entry functions called so far
    void storeCurrentState();
    void recoverFromModuleFailure(const std::exception &failure, const QString &ClassName, const QString &Method);
    // Frees the module windows that refer to this gateway.
    void discardWindows();
};

} // namespace vorel
