#include "shell/flogin.h"

#include "runtime/ui.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>

namespace vorel::shell {

namespace {
QLabel *boldLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QToolButton *pageButton(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(QStringLiteral("Datos de Conexión"));
    b->setStyleSheet(QStringLiteral("QToolButton { color: navy; font-weight: bold; }"));
    return b;
}

QLineEdit *edit(const char *name, QWidget *parent)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}
} // namespace

TFLogin::TFLogin(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FLogin"));
    setWindowTitle(QStringLiteral("Login"));
    setFixedSize(319, 143);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    PagCon = new QStackedWidget(this);
    PagCon->setObjectName(QStringLiteral("PagCon"));
    PagCon->setFocusPolicy(Qt::NoFocus);
    auto *outer = new QGridLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(PagCon, 0, 0);

    // User page.
    TabEntra = new QWidget;
    TabEntra->setObjectName(QStringLiteral("TabEntra"));
    bDBase = pageButton(QStringLiteral(">>"), "bDBase", TabEntra);
    Label1 = boldLabel(QStringLiteral("Usuario :"), "Label1", TabEntra);
    Label2 = boldLabel(QStringLiteral("Contraseña :"), "Label2", TabEntra);
    lLogin = edit("lLogin", TabEntra);
    lPaswd = edit("lPaswd", TabEntra);
    vorel::ui::MaskTyping(lPaswd);
    bEntra = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("Entrar"), TabEntra);
    bEntra->setObjectName(QStringLiteral("bEntra"));
    bEntra->setDefault(true);
    {
        auto *g = new QGridLayout(TabEntra);
        g->setContentsMargins(6, 4, 16, 8);
        g->addWidget(bDBase, 0, 0, Qt::AlignLeft | Qt::AlignTop);
        g->addWidget(Label1, 1, 1);
        g->addWidget(lLogin, 1, 2);
        g->addWidget(Label2, 2, 1);
        g->addWidget(lPaswd, 2, 2);
        g->addWidget(bEntra, 3, 2, Qt::AlignRight);
        g->setColumnStretch(2, 1);
    }
    setTabOrder(lLogin, lPaswd);
    setTabOrder(lPaswd, bEntra);

    // Connection page.
    TabDatos = new QWidget;
    TabDatos->setObjectName(QStringLiteral("TabDatos"));
    bLogin = pageButton(QStringLiteral("<<"), "bLogin", TabDatos);
    Label4 = boldLabel(QStringLiteral("DataBase:"), "Label4", TabDatos);
    Label3 = boldLabel(QStringLiteral("Dirección:"), "Label3", TabDatos);
    Label6 = boldLabel(QStringLiteral("Puerto:"), "Label6", TabDatos);
    ldBase = edit("ldBase", TabDatos);
    lAddrs = edit("lAddrs", TabDatos);
    LPort = edit("LPort", TabDatos);
    {
        auto *g = new QGridLayout(TabDatos);
        g->setContentsMargins(6, 4, 16, 8);
        g->addWidget(bLogin, 0, 0, Qt::AlignLeft | Qt::AlignTop);
        g->addWidget(Label4, 1, 1);
        g->addWidget(ldBase, 1, 2);
        g->addWidget(Label3, 2, 1);
        g->addWidget(lAddrs, 2, 2);
        g->addWidget(Label6, 3, 1);
        g->addWidget(LPort, 3, 2);
        g->setColumnStretch(2, 1);
    }
    setTabOrder(ldBase, lAddrs);
    setTabOrder(lAddrs, LPort);

    PagCon->addWidget(TabEntra);
    PagCon->addWidget(TabDatos);

    connect(bDBase, &QToolButton::clicked, this, [this] { bDBaseClick(); });
    connect(bLogin, &QToolButton::clicked, this, [this] { bLoginClick(); });
    connect(bEntra, &QPushButton::clicked, this, [this] { bEntraClick(); });

    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    FormCreate();
}

void TFLogin::FormCreate()
{
    PagCon->setCurrentWidget(TabEntra);
}

void TFLogin::bDBaseClick()
{
    PagCon->setCurrentWidget(TabDatos);
    ldBase->setFocus();
}

void TFLogin::bLoginClick()
{
    PagCon->setCurrentWidget(TabEntra);
    lLogin->setFocus();
}

void TFLogin::bEntraClick()
{
    accept();
}

bool TFLogin::FormKeyPress(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        accept();
        return true;
    }
    if (key == Qt::Key_Escape) {
        reject();
        return true;
    }
    return false;
}

bool TFLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto *k = static_cast<QKeyEvent *>(event);
        if (k->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier))
            return QDialog::eventFilter(watched, event);
        const int key = k->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape)
            return QDialog::eventFilter(watched, event);
        if (event->type() == QEvent::ShortcutOverride) {
            // Claim the key so no shortcut takes it before the press.
            event->accept();
            return true;
        }
        return FormKeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

void TFLogin::keyPressEvent(QKeyEvent *event)
{
    if (!FormKeyPress(event->key()))
        QDialog::keyPressEvent(event);
}

void TFLogin::showEvent(QShowEvent *event)
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->availableGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

} // namespace vorel::shell
