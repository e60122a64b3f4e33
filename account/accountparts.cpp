#include "account/accountparts.h"

#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/ui.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QValidator>

#include <algorithm>

namespace vorel {

const char *const NotAUserNumber = "El usuario debe ser un número";

TAccountDialog::TAccountDialog(const QString &caption, int width, int height, TSocketConnection *connection)
    : QDialog(nullptr), Connection(connection)
{
    setWindowTitle(caption);
    QFont base(QStringLiteral("MS Sans Serif"));
    base.setPointSize(8);
    setFont(base);
    resize(width, height);

    cdSet = new TClientDataSet(this);
    cdSet->setObjectName(QStringLiteral("cdSet"));
    cdSet->SetProviderName(QStringLiteral("dspq0"));
    cdSet->SetRemoteServer(connection);

    LUser = new QLabel(this);
    LUser->setObjectName(QStringLiteral("LUser"));
    // User names come from the database and are shown as they are stored.
    ui::PlainLabel(LUser);
    LUser->move(8, 16);

    btnOk = new QPushButton(QStringLiteral("Aceptar"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(8, 152, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton(QStringLiteral("Cancelar"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(464, 152, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TAccountDialog::~TAccountDialog() = default;

void TAccountDialog::done(int result)
{
    if (result == QDialog::Accepted) {
        try {
            // A full field may hold a pasted text cut short.
            for (const QLineEdit *edit : findChildren<QLineEdit *>()) {
                const QString cut = edit->isReadOnly() ? QString() : ui::CutTextMessage(edit);
                if (!cut.isEmpty())
                    throw Exception(cut);
            }
            FormCloseQuery();
        } catch (const std::exception &e) {
            ui::HandleException(e);
            setResult(0);
            return;
        }
    }
    QDialog::done(result);
}

void TAccountDialog::LookUpUser(const QString &userId)
{
    cdSet->SetCommandText(
        QStringLiteral("SELECT USUA_Nombre NOMBRE, USUA_eMail email FROM Vorel.TUSUARIOS WHERE USUA_Usua= ") + userId);
    cdSet->Open();
}

QLabel *TAccountDialog::NewCaption(const QString &name, const QString &text, int left, int top)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(name);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(16);
    label->setFont(bold);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit *TAccountDialog::NewEdit(const QString &name, int left, int top, int width)
{
    auto *edit = new QLineEdit(this);
    edit->setObjectName(name);
    QFont regular = font();
    regular.setPixelSize(16);
    edit->setFont(regular);
    edit->setGeometry(left, top, width, edit->sizeHint().height());
    return edit;
}

namespace {
// The line edit runs its validator on every change of its text: typing,
// pasting, input methods, setText and assistive tools alike. Lower-casing
// there catches them all and keeps the edit's undo history.
class LowerCaseValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override
    {
        const QString lower = input.toLower();
        if (lower != input) {
            // Lower-casing may change a text's length (a dotted capital I).
            pos = int(std::min(input.left(pos).toLower().size(), lower.size()));
            input = lower;
        }
        return Acceptable;
    }
    void fixup(QString &input) const override { input = input.toLower(); }
};
} // namespace

void TAccountDialog::LowerCaseInput(QLineEdit *edit)
{
    edit->setValidator(new LowerCaseValidator(edit));
}

void TAccountDialog::showEvent(QShowEvent *event)
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

QString SqlText(const QString &value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return doubled;
}

bool IsUserNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace vorel
