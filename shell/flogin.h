#pragma once
// The login dialog: who the user is and where the first server is. It only
// switches pages and turns Enter and Escape into OK and Cancel; the caller
// fills and reads its fields.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace vorel::shell {

class TFLogin : public QDialog
{
    Q_OBJECT
public:
    explicit TFLogin(QWidget *parent = nullptr);

    QStackedWidget *PagCon;
    QWidget *TabEntra;
    QWidget *TabDatos;
    QToolButton *bDBase;
    QToolButton *bLogin;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label6;
    QLineEdit *lLogin;
    QLineEdit *lPaswd;
    QPushButton *bEntra;
    QLineEdit *ldBase;
    QLineEdit *lAddrs;
    QLineEdit *LPort;

    void FormCreate();
    void bDBaseClick();
    void bLoginClick();
    void bEntraClick();

protected:
    // Key preview: Enter and Escape end the dialog whichever control has
    // the focus, on either page.
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool FormKeyPress(int key);
};

} // namespace vorel::shell
