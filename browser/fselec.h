#pragma once
#include <QDialog>

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;
class QToolButton;

namespace vorel {

class TImageList;
class TStringGrid;

// The selection dialog of a list window: column 0 of SGSele holds one row
// per filterable column (its label, carrying the upper-case column name);
// every further column is one query-by-example record the user types into.
class TFSelec : public QDialog
{
    Q_OBJECT
public:
    explicit TFSelec(QWidget *owner = nullptr);
    ~TFSelec() override;

    // The menu and toolbar draw from the shell's image list.
    void SetImages(TImageList *images);

    QToolBar *ToolBar;
    QToolButton *bAcepta;
    QToolButton *bCancela;
    QMenuBar *mmenu;
    QMenu *Accion1;
    QAction *Acepta1;
    QAction *Cancela1;
    QAction *Agrega1;
    QAction *Elimina1;
    QAction *Limpia1;
    QAction *N1;
    QAction *ToolButton3;
    QToolButton *bInserta;
    QToolButton *bBorra;
    TStringGrid *SGSele;
    TStringGrid *SgBk;
    bool Accepted = false;

    void FormShow();
    void Acepta1Click();
    void Cancela1Click();
    void Agrega1Click();
    void Elimina1Click();
    void Limpia1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TImageList *m_images = nullptr;
};

} // namespace vorel
