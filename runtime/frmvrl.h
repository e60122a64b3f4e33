#pragma once
#include "common/sqllines.h"
#include "common/stringlist.h"
#include "common/vorelglobal.h"

#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;
class QMdiSubWindow;

namespace vorel {

class TSnVorel;
class TImageList;
class TClientDataSet;

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

    // Class label and key, method label, the process menu and its buttons.
    void LoadMethodMenu();
    // The same in two steps: the queries go out, then their answers are
    // read, so that a form can ask for more in between without waiting.
    void SendMethodMenu();
    void ReadMethodMenu();
    // The shell's image at `index`; an empty icon without one.
    QIcon Image(int index) const;
    // A menu action that shows image `index` of the shared list.
    void SetActionImage(QAction *action, int index) const;

    // The version box of the "Modulo" menu.
    void Version1Click();
    // Records the window's place in the session for the next window.
    void FormCloseQuery();

protected:
    // Later: the constructor only sends the menu's queries, and the derived
    // form calls ReadMethodMenu once it has sent its own.
    enum class MenuReading { Now, Later };
    TfrmVrl(const QString &ClassId, const QString &MethodId, TSnVorel *Session, MenuReading reading);
    void closeEvent(QCloseEvent *event) override;
    // Detaches a window whose construction failed from the frame.
    void TakeOutOfFrame();

private:
    void readMethods(TClientDataSet *q);
    struct MethodMenuQueries;
    std::unique_ptr<MethodMenuQueries> m_menuQueries; // sent, not read yet
};

// The key combination a button's hot-key text names ("Ctrl+N", "F5");
// empty when the text names no key.
VOREL_GUI_EXPORT QKeySequence HotKeyOf(const QString &text);
// Letters, digits and underscore, not starting with a digit.
VOREL_GUI_EXPORT bool IsIdentifier(const QString &name);

} // namespace vorel
