#pragma once
// The role bar: pages of flat text buttons, one page visible at a time.
#include <QWidget>

class QAbstractButton;
class QToolBox;

namespace vorel::shell {

class TOutBar : public QWidget
{
    Q_OBJECT
public:
    explicit TOutBar(QWidget *parent = nullptr);

    // A new page at the end; the returned widget is the page object.
    QWidget *AddPage(const QString &caption);
    QAbstractButton *AddButton(QWidget *page, const QString &caption);
    // Destroys every page and its buttons at once.
    void Clear();

    int PageCount() const;
    QWidget *Page(int index) const;
    QString PageCaption(int index) const;
    QWidget *ActivePage() const; // nullptr when the bar is empty
    int ActivePageIndex() const;
    void SetActivePage(int index);

    int ButtonCount(QWidget *page) const;
    QAbstractButton *Button(QWidget *page, int index) const; // nullptr when out of range

Q_SIGNALS:
    // Position of the clicked button on the visible page; -1 for a click on
    // the page that hit no button.
    void ButtonClick(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QToolBox *m_box;
};

} // namespace vorel::shell
