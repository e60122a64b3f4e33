#pragma once
// What the three account dialogs have in common: fonts, the OK and Cancel
// buttons, the user label, the query dataset and the close check.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vorel {

class TSocketConnection;
class TClientDataSet;

class TAccountDialog : public QDialog
{
    Q_OBJECT
public:
    TAccountDialog(const QString &caption, int width, int height, TSocketConnection *connection);
    ~TAccountDialog() override;

    TSocketConnection *Connection;
    TClientDataSet *cdSet;
    QLabel *LUser;
    QPushButton *btnOk;
    QPushButton *btnCancel;

    // The close check: runs only when the dialog closes with OK; a failure
    // keeps it open.
    virtual void FormCloseQuery() = 0;

    void done(int result) override;

protected:
    // Opens cdSet on the user's row.
    void LookUpUser(const QString &userId);
    QLabel *NewCaption(const QString &name, const QString &text, int left, int top);
    QLineEdit *NewEdit(const QString &name, int left, int top, int width);
    // Makes an edit turn whatever reaches it into lower case.
    static void LowerCaseInput(QLineEdit *edit);
    void showEvent(QShowEvent *event) override;
};

// Single quotes doubled, for a text placed between quotes in SQL.
QString SqlText(const QString &value);
// True for a non-empty run of decimal digits.
bool IsUserNumber(const QString &text);
extern const char *const NotAUserNumber;

} // namespace vorel
