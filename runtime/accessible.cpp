#include "runtime/accessible.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QTextDocumentFragment>
#include <QToolButton>

namespace vorel {

namespace {

const char *const SplitProperty = "vorelSplitButton";

class TSplitButtonAccessible : public QAccessibleWidget
{
public:
    explicit TSplitButtonAccessible(QToolButton *button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QStringList actionNames() const override
    {
        if (!widget()->isEnabled())
            return {};
        return {pressAction(), showMenuAction()};
    }

    void doAction(const QString &name) override
    {
        auto *button = static_cast<QToolButton *>(widget());
        if (!button->isEnabled())
            return;
        if (name == pressAction())
            button->click();
        else if (name == showMenuAction())
            button->showMenu();
    }

    // The menu stays the button's child, as the toolkit's own interface
    // keeps it: its entries are found and pressed through the button.
    int childCount() const override { return menu() ? 1 : 0; }

    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        st.hasPopup = menu() != nullptr;
        return st;
    }

    QAccessibleInterface *child(int index) const override
    {
        return index == 0 && menu() ? QAccessible::queryAccessibleInterface(menu()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && menu() && child->object() == menu() ? 0 : -1;
    }

    QStringList keyBindingsForAction(const QString &name) const override
    {
        const QString key = widget()->property(name == pressAction() ? "vorelPressKey" : "vorelMenuKey").toString();
        return key.isEmpty() ? QStringList() : QStringList{key};
    }

private:
    QMenu *menu() const { return static_cast<QToolButton *>(widget())->menu(); }
};

QAccessibleInterface *splitButtonFactory(const QString &, QObject *object)
{
    auto *button = qobject_cast<QToolButton *>(object);
    if (button && button->property(SplitProperty).toBool())
        return new TSplitButtonAccessible(button);
    return nullptr;
}

QString plainHint(const QString &hint)
{
    return Qt::mightBeRichText(hint) ? QTextDocumentFragment::fromHtml(hint).toPlainText() : hint;
}

} // namespace

void NameForAssistiveTechnology(QWidget *root)
{
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>()) {
        if (!button->accessibleName().isEmpty())
            continue;
        QString caption = button->text();
        caption.remove(QLatin1Char('&'));
        const auto *tool = qobject_cast<QToolButton *>(button);
        const QAction *action = tool ? tool->defaultAction() : nullptr;
        const bool componentName = caption == button->objectName() || (action && caption == action->objectName());
        const QString name = caption.isEmpty() || componentName ? plainHint(button->toolTip()) : caption;
        if (!name.isEmpty())
            button->setAccessibleName(name);
    }
    for (QComboBox *box : root->findChildren<QComboBox *>())
        if (box->accessibleName().isEmpty() && !box->toolTip().isEmpty())
            box->setAccessibleName(plainHint(box->toolTip()));
}

void SetSplitButtonAccessible(QToolButton *button)
{
    static const bool installed = [] {
        QAccessible::installFactory(splitButtonFactory);
        return true;
    }();
    Q_UNUSED(installed);
    button->setProperty(SplitProperty, true);
}

} // namespace vorel
