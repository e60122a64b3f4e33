#pragma once
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

class QAction;
class QLabel;
class QKeyEvent;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QToolBar;
class QToolButton;

namespace vorel {

class TImageList;

// The sort dialog of a list window: Fuente lists the columns not chosen (by
// label, alphabetical), Destino the chosen order, a check mark meaning
// descending.
class TFOrden : public QDialog
{
    Q_OBJECT
public:
    explicit TFOrden(QWidget *owner = nullptr);
    ~TFOrden() override;

    void SetImages(TImageList *images);

    QLabel *Label1;
    QLabel *Label2;
    QListWidget *Fuente;
    QPushButton *BFteDno;
    QPushButton *BDnoFte;
    QToolBar *ToolBar;
    QToolButton *bAcepta;
    QToolButton *bCancela;
    QListWidget *Destino;
    QStatusBar *StatusBar1;
    QMenuBar *mMenu;
    QMenu *Accion1;
    QAction *Aceptar1;
    QAction *Cancelar1;
    // True after "Aceptar", false after "Cancelar"; the close box keeps it.
    bool Accepted = false;

    // Destino's entries first to last: label and whether checked.
    QList<std::pair<QString, bool>> DestinoEntries() const;

    void BFteDnoClick();
    void BDnoFteClick();
    // The drop of Destino's selected entry at `pos` (Destino's viewport
    // coordinates): it takes the place of the entry there, or goes to the end
    // below the last one, and arrives unchecked.
    void DestinoxDragDrop(const QPoint &pos);
    void DestinoEnter();
    void FuenteEnter();
    void Aceptar1Click();
    void Cancelar1Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool listKey(QListWidget *list, QKeyEvent *event);
    bool destinoMouse(QEvent *event);
    TImageList *m_images = nullptr;
    // A press on a Destino entry that may become a drag.
    bool m_pressed = false;
    bool m_dragging = false;
    QPoint m_pressPos;
};

// Both lists of a TFOrden as they were before the dialog was shown, so a
// dialog that was not accepted can be put back exactly.
struct TSortSnapshot {
    QStringList Fuente;
    QList<std::pair<QString, bool>> Destino;

    static TSortSnapshot Take(const TFOrden &dialog);
    void Restore(TFOrden &dialog) const;
};

} // namespace vorel
