// Message boxes, the application-level error report and the main window
// registry, shared by the shell and every library in the process.
#include "runtime/ui.h"

#include "common/exception.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>

namespace vorel::ui {

namespace {
MessageHook &hook()
{
    static MessageHook h;
    return h;
}
QPointer<QMainWindow> g_frame;
QPointer<QMdiArea> g_area;

QWidget *dialogParent()
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    if (QWidget *w = QApplication::activeWindow())
        return w;
    return g_frame.data();
}

// A box lays out all of its text at once: a megabyte of it (a server's
// error echoing what was typed, say) takes many seconds and fills more than
// a screen. What is beyond a box's worth is left out, and the box says so.
QString boxText(QString text)
{
    constexpr qsizetype MaxChars = 4000;
    constexpr int MaxLines = 40;
    bool cut = false;
    if (text.size() > MaxChars) {
        text.truncate(MaxChars);
        cut = true;
    }
    qsizetype end = -1;
    for (int line = 0; line < MaxLines; ++line) {
        end = text.indexOf(QLatin1Char('\n'), end + 1);
        if (end < 0)
            break;
    }
    if (end >= 0) {
        text.truncate(end);
        cut = true;
    }
    if (cut)
        text += QStringLiteral("\n[...] (texto recortado)");
    return text;
}

Answer showBox(Kind kind, const QString &title, const QString &text)
{
    if (hook())
        return hook()(kind, title, text);
    QMessageBox box(dialogParent());
    box.setWindowTitle(title);
    // Texts break lines with a bare CR as well; the label only knows LF.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // A server's text is shown as it came: one that looks like markup must
    // not be rendered as such.
    box.setTextFormat(Qt::PlainText);
    box.setText(boxText(shown));
    switch (kind) {
    case Kind::Message:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Confirm:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    }
    const int r = box.exec();
    if (kind != Kind::Confirm)
        return Answer::Ok;
    return r == QMessageBox::Yes ? Answer::Yes : Answer::No;
}
} // namespace

void SetMessageHook(MessageHook h)
{
    hook() = std::move(h);
}

void ShowMessage(const QString &text)
{
    showBox(Kind::Message, ApplicationTitle(), text);
}

bool Confirm(const QString &text)
{
    return showBox(Kind::Confirm, QStringLiteral("Confirmar"), text) == Answer::Yes;
}

QString MessageOf(const std::exception &e)
{
    if (auto *v = dynamic_cast<const vorel::Exception *>(&e))
        return v->message();
    return QString::fromUtf8(e.what());
}

void HandleException(const std::exception &e)
{
    showBox(Kind::Error, ApplicationTitle(), MessageOf(e));
}

void HandleUnknownException()
{
    showBox(Kind::Error, ApplicationTitle(), QStringLiteral("Error desconocido: la acción se ha abandonado"));
}

QString ApplicationTitle()
{
    if (!QCoreApplication::instance())
        return QString();
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void SetMainWindow(QMainWindow *frame, QMdiArea *area)
{
    g_frame = frame;
    g_area = area;
}

QMainWindow *MainWindow()
{
    return g_frame.data();
}

QMdiArea *MdiArea()
{
    return g_area.data();
}

QWidget *ActiveMdiChild()
{
    if (!g_area)
        return nullptr;
    // While the application is inactive (and on the offscreen platform) the
    // area reports no active window; the current one is the one the user left.
    QMdiSubWindow *sub = g_area->activeSubWindow();
    if (!sub)
        sub = g_area->currentSubWindow();
    return sub ? sub->widget() : nullptr;
}

QString PlainToolTip(const QString &text)
{
    // Tool tips render anything that looks like markup; such a text goes
    // escaped, so that it shows as written.
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void PlainLabel(QLabel *label)
{
    label->setTextFormat(Qt::PlainText);
}

QString CutTextMessage(const QLineEdit *edit)
{
    if (edit->text().size() < edit->maxLength())
        return QString();
    return QStringLiteral("El texto es demasiado largo: se admiten hasta %1 caracteres").arg(edit->maxLength() - 1);
}

void MaskTyping(QLineEdit *edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

} // namespace vorel::ui
