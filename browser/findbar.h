#pragma once
#include <QModelIndex>
#include <QWidget>

class QAbstractItemModel;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;

namespace vorel {

class TDataSetModel;

// The first cell after `from` (before it when going back) whose shown text
// holds `text`, regardless of case, in the rows the model holds; the search
// wraps around and ends at `from` itself. Invalid when none holds it.
QModelIndex FindText(const QAbstractItemModel &model, const QString &text, const QModelIndex &from, bool forward);

// The find bar under a list window's grid: finds in the rows held and, when
// the text is not there while the server has more rows, offers to read them.
class TFindBar : public QWidget
{
    Q_OBJECT
public:
    TFindBar(QTableView *grid, TDataSetModel *model, QWidget *parent);

    QLineEdit *Texto;
    QToolButton *bAnterior;
    QToolButton *bSiguiente;
    QLabel *Aviso;
    QToolButton *bResto;
    QToolButton *bCierra;

    // Shows the bar with the focus in its text.
    void Open();
    // Moves to the next (previous) cell holding the text; false when none.
    bool Find(bool forward);

Q_SIGNALS:
    // Reading the rest of the rows was asked for.
    void FetchRestRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QTableView *m_grid;
    TDataSetModel *m_model;
};

} // namespace vorel
