#pragma once
#include "common/stringlist.h"
#include "runtime/frmvrl.h"

#include <QList>
#include <QModelIndexList>
#include <QPointer>
#include <functional>
#include <memory>

class QComboBox;
class QFileDialog;
class QLabel;
class QStatusBar;
class QTabWidget;
class QTableView;
class QToolButton;
class QTreeView;

namespace vorel {

class TClientDataSet;
class TDataSetModel;
class TFEstad;
class TFOrden;
class TFSelec;
class TFindBar;

// The generic list window: the rows of any class, dressed, filtered and
// ordered from the metadata tables for the session's role.
class TfrmVrlLis : public TfrmVrl
{
    Q_OBJECT
public:
    TfrmVrlLis(const QString &ClassId, const QString &MethodId, TSnVorel *Session);
    ~TfrmVrlLis() override;

    QToolButton *bRefresca;
    QToolButton *bRelB;
    QToolButton *bRelF;
    QMenu *popRelB;
    QMenu *popRelF;
    QAction *Refrescar1;
    QTabWidget *Pagina;
    QWidget *TabLista;
    QStatusBar *sbModulo;
    QLabel *sbPanel0; // row count
    QLabel *sbPanel1; // the description value of the current row
    QLabel *sbTotales; // count, sum and average of the selected cells
    QToolBar *tbLista;
    QWidget *navcdsModulo;
    QAction *ToolButton4;
    QToolButton *BSelect;
    QToolButton *bOrdena;
    QToolButton *bGraba;
    QToolButton *bSuma;
    QAction *ToolButton1;
    QTableView *dbgModulo;
    QWidget *TabArbol;
    QTreeView *tvModulo;
    QAction *N1;
    QAction *Filtrar1;
    QAction *Ordenar1;
    QAction *GrabaraDisco1;
    QAction *Estadistico1;
    QAction *Buscar1;
    QAction *BuscarSiguiente1;
    QAction *BuscarAnterior1;
    QAction *CopiarTitulos1;
    QAction *RestauraColumnas1;
    TFindBar *FindBar;
    QFileDialog *Graba;
    TDataSetModel *dscdSet;

    TFOrden *OrdenDialog;
    TFSelec *SelecDialog;
    TFEstad *EstadDialog;
    QList<QComboBox *> QuickFilters;
    TStringList RelationKeys;

    void BuildFromMetadata();
    // The quick filters from the rows of `A` (the class's filters for the
    // role, asked for when `A` is closed); `sendNext` asks for what comes
    // after them, once every query of the filters has gone out.
    void BuildQuickFilters(TClientDataSet *A, const std::function<void()> &sendNext = {});
    void ApplyColumnPresentation();
    void RunQuery();
    // OrderText from the sort dialog's chosen columns.
    QString OrderText() const;

    void Refrescar1Click();
    void OpenSelection();
    void FilRap();
    void cdSetAfterScroll();
    void dbgModuloColEnter();
    void Ordenar1Click();
    void dbgModuloTitleBtnClick(int column);
    void Estadistico1Click();
    void GrabaraDisco1Click();
    void mDrill(QObject *Sender);
    void bRelBClick();
    void bRelFClick();
    void Mueve(bool Forward);
    // The selected cells as tab-separated lines, after a line of column
    // titles when `titles`; a cell holding a tab or a line break is quoted,
    // so that a spreadsheet pastes it into one cell.
    QString SelectionText(bool titles = false) const;
    // The same cells as an HTML table, numbers and dates in a form that
    // spreadsheets read as such.
    QString SelectionHtml(bool titles = false) const;
    // Both forms on the clipboard.
    void CopySelection(bool titles);
    // Back to the metadata's column widths and order; the user's layout of
    // the class is forgotten.
    void RestauraColumnasClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Before a walk: runs the query again when its rows left on the server
    // were lost with the connection.
    void askAgainIfLost();
    void buildLayout();
    void buildMenus();
    void buildProcessButtons();
    void buildPages();
    void buildListPage();
    void buildListToolBar();
    void buildNavigator();
    void buildGrid();
    void buildStatusBar();
    void buildSaveDialog();
    void connectCommands();
    void connectGrid();
    // The first queries of the metadata, sent before the menu is read.
    void sendMetadata();
    std::unique_ptr<TClientDataSet> m_columnsQuery;
    std::unique_ptr<TClientDataSet> m_filtersQuery;
    void showRowCount();
    void applySortMarker();
    void applyColumnWidths();
    void syncViewToData(int row);
    void showSelectionTotals();
    void applyUserLayout();
    void layoutChangedByUser();
    void fetchRestAndFind();
    QModelIndexList selectedCells() const;
    QString m_layout;     // the user's column layout of the class
    QString m_layoutUser; // whose it is: the session's user and database
    QString m_layoutDatabase;
    bool m_layoutChanged = false;
    bool m_applyingLayout = false;
    QPointer<TClientDataSet> m_data;
    bool m_closed = false;
};

} // namespace vorel
