#include "shell/outbar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QToolBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace vorel::shell {

namespace {
const char *kButtonsProperty = "vorelOutBarButtons";

QList<QAbstractButton *> buttonsOf(QWidget *page)
{
    QList<QAbstractButton *> out;
    if (!page)
        return out;
    const auto *layout = qobject_cast<QVBoxLayout *>(page->layout());
    if (!layout)
        return out;
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *b = qobject_cast<QAbstractButton *>(layout->itemAt(i)->widget()))
            out << b;
    }
    return out;
}
} // namespace

TOutBar::TOutBar(QWidget *parent)
    : QWidget(parent)
    , m_box(new QToolBox(this))
{
    setObjectName(QStringLiteral("OutBar"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_box);
}

QWidget *TOutBar::AddPage(const QString &caption)
{
    auto *page = new QWidget;
    page->setProperty(kButtonsProperty, true);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->addStretch(1);
    page->installEventFilter(this);
    m_box->addItem(page, caption);
    // Long captions are cut at the panel's edge rather than scrolled: the
    // user widens the panel with the splitter.
    if (QWidget *viewport = page->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(viewport->parentWidget()))
            area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    return page;
}

QAbstractButton *TOutBar::AddButton(QWidget *page, const QString &caption)
{
    auto *layout = page ? qobject_cast<QVBoxLayout *>(page->layout()) : nullptr;
    if (!layout)
        return nullptr;
    auto *button = new QToolButton(page);
    button->setText(caption);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setMinimumWidth(1);
    // Before the trailing stretch, so buttons stack from the top.
    layout->insertWidget(layout->count() - 1, button);
    connect(button, &QToolButton::clicked, this, [this, page, button] {
        Q_EMIT ButtonClick(int(buttonsOf(page).indexOf(button)));
    });
    return button;
}

void TOutBar::Clear()
{
    while (m_box->count() > 0) {
        QWidget *page = m_box->widget(0);
        m_box->removeItem(0);
        delete page;
    }
}

int TOutBar::PageCount() const
{
    return m_box->count();
}

QWidget *TOutBar::Page(int index) const
{
    return m_box->widget(index);
}

QString TOutBar::PageCaption(int index) const
{
    return m_box->itemText(index);
}

QWidget *TOutBar::ActivePage() const
{
    return m_box->currentWidget();
}

int TOutBar::ActivePageIndex() const
{
    return m_box->currentIndex();
}

void TOutBar::SetActivePage(int index)
{
    m_box->setCurrentIndex(index);
}

int TOutBar::ButtonCount(QWidget *page) const
{
    return int(buttonsOf(page).size());
}

QAbstractButton *TOutBar::Button(QWidget *page, int index) const
{
    const auto buttons = buttonsOf(page);
    return index >= 0 && index < buttons.size() ? buttons.at(index) : nullptr;
}

bool TOutBar::eventFilter(QObject *watched, QEvent *event)
{
    // A click on the page itself, between or below the buttons.
    if (event->type() == QEvent::MouseButtonRelease && watched->property(kButtonsProperty).toBool()
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        Q_EMIT ButtonClick(-1);
    return QWidget::eventFilter(watched, event);
}

} // namespace vorel::shell
