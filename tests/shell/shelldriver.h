#pragma once
// Drives the shell's start-up from a test: answers the modal login dialog
// and every message box, and keeps what was shown.
#include "runtime/ui.h"
#include "shell/flogin.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace shelltest {

struct Shown {
    vorel::ui::Kind kind;
    QString title;
    QString text;
};

class Messages
{
public:
    Messages()
    {
        vorel::ui::SetMessageHook([this](vorel::ui::Kind kind, const QString &title, const QString &text) {
            qInfo("message box [%s] %s", qPrintable(title), qPrintable(text));
            shown.append({kind, title, text});
            if (onShown)
                onShown();
            if (kind != vorel::ui::Kind::Confirm)
                return vorel::ui::Answer::Ok;
            return confirmAnswers.isEmpty() ? vorel::ui::Answer::Yes : confirmAnswers.takeFirst();
        });
    }
    ~Messages() { vorel::ui::SetMessageHook(nullptr); }
    QStringList texts() const
    {
        QStringList out;
        for (const Shown &s : shown)
            out << s.text;
        return out;
    }

    QList<Shown> shown;
    QList<vorel::ui::Answer> confirmAnswers;
    std::function<void()> onShown;
};

// Each time the login dialog is up, the next step runs on it; a dialog
// shown with no step left is cancelled and counted.
class LoginDriver : public QObject
{
public:
    using Step = std::function<void(vorel::shell::TFLogin *)>;
    explicit LoginDriver(QList<Step> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.start(10);
    }
    int shown = 0;
    int unexpected = 0;

private:
    void tick()
    {
        auto *d = qobject_cast<vorel::shell::TFLogin *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible() || d == m_current)
            return;
        m_current = d;
        ++shown;
        // After the step the dialog closes; the next showing is a new one.
        QTimer::singleShot(0, d, [this, d] {
            if (m_steps.isEmpty()) {
                ++unexpected;
                d->reject();
            } else {
                m_steps.takeFirst()(d);
            }
            m_current = nullptr;
        });
    }
    QList<Step> m_steps;
    QTimer m_timer;
    vorel::shell::TFLogin *m_current = nullptr;
};

inline LoginDriver::Step fill(const QString &user, const QString &password, const QString &db, const QString &host,
                              const QString &port, std::function<void(vorel::shell::TFLogin *)> check = {})
{
    return [=](vorel::shell::TFLogin *d) {
        if (check)
            check(d);
        d->lLogin->setText(user);
        d->lPaswd->setText(password);
        d->ldBase->setText(db);
        d->lAddrs->setText(host);
        d->LPort->setText(port);
        d->bEntra->click();
    };
}

inline LoginDriver::Step cancel()
{
    return [](vorel::shell::TFLogin *d) { d->reject(); };
}

} // namespace shelltest
