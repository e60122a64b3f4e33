#pragma once
#include "common/vorelglobal.h"

#include <QDialog>
#include <QString>
#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace vorel {

// The error dialog of a failed use case: the message for the user, with a
// switch to the untranslated failure text.
class VOREL_GUI_EXPORT TFError : public QDialog
{
    Q_OBJECT
public:
    explicit TFError(QWidget *owner = nullptr);
    ~TFError() override;

    QPlainTextEdit *MemoError;
    QPushButton *BMensaje;
    QPushButton *BError;
    QPushButton *BCerrar;

    QString MessageText;
    QString ErrorText;

    // Fills both texts and shows the message.
    void SetTexts(const QString &message, const QString &error);
    // Runs the dialog modally. With a show hook installed the hook stands in
    // for the user: it gets the dialog, ready as it would be shown, and its
    // return ends the run.
    int Execute();

    using ShowHook = std::function<void(TFError &dialog)>;
    static void SetShowHook(ShowHook hook);

    void BMensajeClick();
    void BErrorClick();
    void BCerrarClick();
};

} // namespace vorel
