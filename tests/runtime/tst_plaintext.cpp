// Texts from the server or the user shown by the real message boxes, labels
// and tool tips: never taken for markup.
#include "common/exception.h"
#include "runtime/ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <functional>

using namespace vorel;

namespace {
const QString kMarkup = QStringLiteral("<b>x</b> & <i>y");

struct Seen {
    bool shown = false;
    Qt::TextFormat format = Qt::AutoText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QString text;
    QString labelText;
};

// Lets the real box come up, looks at it and answers it with `button`.
Seen inspectNextBox(const std::function<void()> &show, QMessageBox::StandardButton button = QMessageBox::Ok)
{
    Seen seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen.shown = true;
        seen.format = box->textFormat();
        seen.text = box->text();
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            seen.labelFormat = label->textFormat();
            seen.labelText = label->text();
        }
        if (QAbstractButton *b = box->button(button))
            b->click();
        else
            box->reject();
    });
    poll.start();
    show();
    return seen;
}
} // namespace

class TstPlainText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { ui::SetMessageHook(nullptr); }

    void messageBoxesShowTextsLiterally()
    {
        const QList<std::pair<const char *, std::function<void()>>> kinds{
            {"message", [] { ui::ShowMessage(kMarkup); }},
            {"confirmation", [] { ui::Confirm(kMarkup); }},
            {"error", [] { ui::HandleException(Exception(kMarkup)); }},
        };
        for (const auto &[name, show] : kinds) {
            const Seen seen = inspectNextBox(show, name == std::string("confirmation") ? QMessageBox::No : QMessageBox::Ok);
            QVERIFY2(seen.shown, name);
            QCOMPARE(seen.format, Qt::PlainText);
            QCOMPARE(seen.text, kMarkup);
            QCOMPARE(seen.labelFormat, Qt::PlainText);
            QCOMPARE(seen.labelText, kMarkup);
        }
    }

    void lineBreaksStillBreak()
    {
        const Seen seen = inspectNextBox([] { ui::ShowMessage(QStringLiteral("uno\r<br>dos\r\ntres")); });
        QCOMPARE(seen.text, QStringLiteral("uno\n<br>dos\ntres"));
        QCOMPARE(seen.format, Qt::PlainText);
    }

    // A box lays its text out at once: a megabyte took seconds. It shows
    // the beginning and says the rest was left out.
    void hugeTextsAreCut()
    {
        const QString lines = QStringLiteral("linea\n").repeated(1000);
        for (const QString &text : {QString(1 << 20, QLatin1Char('x')), lines}) {
            QElapsedTimer timer;
            timer.start();
            const Seen seen = inspectNextBox([&] { ui::ShowMessage(text); });
            QVERIFY(seen.shown);
            QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY(seen.text.endsWith(QStringLiteral("\n[...] (texto recortado)")));
            QVERIFY(text.startsWith(seen.text.chopped(int(QStringLiteral("\n[...] (texto recortado)").size()))));
            QVERIFY(seen.text.size() <= 4100);
            QVERIFY(seen.text.count(QLatin1Char('\n')) <= 41);
        }
        // A text of a box's worth is whole.
        const QString whole = QStringLiteral("linea\n").repeated(39) + QString(3000, QLatin1Char('y'));
        QCOMPARE(inspectNextBox([&] { ui::ShowMessage(whole); }).text, whole);
    }

    void labelsAndToolTips()
    {
        QLabel label;
        ui::PlainLabel(&label);
        label.setText(kMarkup);
        QCOMPARE(label.textFormat(), Qt::PlainText);

        // An ordinary text stays as it is; one that looks like markup shows
        // as written once the tool tip renders it.
        QCOMPARE(ui::PlainToolTip(QStringLiteral("Lista de clientes")), QStringLiteral("Lista de clientes"));
        for (const QString &text : {kMarkup, QStringLiteral("<p>a</p>\n  b"), QStringLiteral("<html>")}) {
            const QString tip = ui::PlainToolTip(text);
            QVERIFY(Qt::mightBeRichText(tip));
            QTextDocument doc;
            doc.setHtml(tip);
            QCOMPARE(doc.toPlainText(), text);
        }
    }
};

QTEST_MAIN(TstPlainText)
#include "tst_plaintext.moc"
