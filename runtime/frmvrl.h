#pragma once
#include "common/sqllines.h"
#include "common/stringlist.h"
#include "common/vorelglobal.h"

#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;
class QMdiSubWindow;

namespace vorel {

class TSnVorel;

// The base module form: every module window derives from it, and the
// gateway writes the flags of the active one. It is an MDI child of the
// shell's frame; its menus (merge group 1, property "vorelMergeGroup") are
// shown in the frame's menu bar while it is active.
class VOREL_GUI_EXPORT TfrmVrl : public QMainWindow
{
    Q_OBJECT
public:
    TfrmVrl(const QString &ClassId, const QString &MethodId, TSnVorel *Session);
    ~TfrmVrl() override;

    QString ClassId;
    QString MethodId;
    QString ClassLabel;
    QString MethodLabel;
    QString ClassKey;
    QString FormWorkText;
    bool CloseAfterUseCase;
    bool UseCaseFailed;
    TSqlLines SqlLines;
    TStringList MethodRuns;
    TSnVorel *Session;

    QToolBar *tbProcesos;
    QMenuBar *MMenu;
    QMenu *Modulo1;
    QAction *Version1;
    QAction *Recarga1;
    QAction *Cerrar1;
    QMenu *Procesos1;

    // The MDI sub-window that holds this form (nullptr without a frame).
    QMdiSubWindow *SubWindow() const;
    // Screen placement inside the frame's client area.
    int Top() const;
    int Left() const;
    void MoveTo(int top, int left);

    virtual void RunMethod(QObject *Sender);

    // The version box of the "Modulo" menu.
    void Version1Click();
    // Records the window's place in the session for the next window.
    void FormCloseQuery();

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace vorel
