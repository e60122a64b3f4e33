#include "runtime/ferror.h"

#include <QApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

namespace vorel {

namespace {
TFError::ShowHook &showHook()
{
    static TFError::ShowHook hook;
    return hook;
}
} // namespace

void TFError::SetShowHook(ShowHook hook) { showHook() = std::move(hook); }

TFError::TFError(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FError"));
    setWindowTitle(QStringLiteral("Error"));
    // Fixed dialog border: no resizing, no system menu extras.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(267, 160);
    setModal(true);

    QPalette menuPalette = palette();
    const QColor menuColour = QApplication::palette("QMenu").color(QPalette::Window);
    menuPalette.setColor(QPalette::Window, menuColour);
    setPalette(menuPalette);
    setAutoFillBackground(true);

    MemoError = new QPlainTextEdit(this);
    MemoError->setObjectName(QStringLiteral("MemoError"));
    MemoError->setGeometry(8, 8, 251, 113);
    MemoError->setReadOnly(true);
    // Not a tab stop; a click still reaches it, so its text can be copied.
    MemoError->setFocusPolicy(Qt::ClickFocus);
    QPalette memoPalette = MemoError->palette();
    memoPalette.setColor(QPalette::Base, menuColour);
    MemoError->setPalette(memoPalette);

    BMensaje = new QPushButton(QStringLiteral("Mensaje"), this);
    BMensaje->setObjectName(QStringLiteral("BMensaje"));
    BMensaje->setGeometry(8, 128, 75, 25);
    BMensaje->setAutoDefault(false);

    BError = new QPushButton(QStringLiteral("Error"), this);
    BError->setObjectName(QStringLiteral("BError"));
    BError->setGeometry(96, 128, 75, 25);
    BError->setAutoDefault(false);

    BCerrar = new QPushButton(QStringLiteral("Cerrar"), this);
    BCerrar->setObjectName(QStringLiteral("BCerrar"));
    BCerrar->setGeometry(184, 128, 75, 25);
    BCerrar->setDefault(true);

    setTabOrder(BCerrar, BMensaje);
    setTabOrder(BMensaje, BError);
    BCerrar->setFocus();

    connect(BMensaje, &QPushButton::clicked, this, [this] { BMensajeClick(); });
    connect(BError, &QPushButton::clicked, this, [this] { BErrorClick(); });
    connect(BCerrar, &QPushButton::clicked, this, [this] { BCerrarClick(); });
}

TFError::~TFError() = default;

void TFError::SetTexts(const QString &message, const QString &error)
{
    MessageText = message;
    ErrorText = error;
    MemoError->setPlainText(MessageText);
}

int TFError::Execute()
{
    BCerrar->setFocus();
    if (showHook()) {
        showHook()(*this);
        return result();
    }
    return exec();
}

void TFError::BMensajeClick() { MemoError->setPlainText(MessageText); }

void TFError::BErrorClick() { MemoError->setPlainText(ErrorText); }

void TFError::BCerrarClick() { accept(); }

} // namespace vorel
