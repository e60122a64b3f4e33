#pragma once
#include "data/datawalk.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QProgressDialog;
class QWidget;

namespace vorel {

// The progress of a statistics or export walk: a window-modal progress
// dialog that appears once the walk has taken about half a second (rows
// done, of how many when known) and whose Cancel stops the walk.
class TWalkProgressDialog
{
public:
    TWalkProgressDialog(QWidget *parent, const QString &label);
    ~TWalkProgressDialog();
    TWalkProgressDialog(const TWalkProgressDialog &) = delete;
    TWalkProgressDialog &operator=(const TWalkProgressDialog &) = delete;

    // The callback to hand to the walk.
    TWalkProgress Callback();
    bool WasCancelled() const { return m_cancelled; }
    // The dialog once shown (nullptr before); tests press its Cancel.
    QProgressDialog *Dialog() const { return m_dialog; }

    // Time before the dialog appears; tests set 0.
    static void SetDelayMs(int ms);

private:
    bool step(qint64 done, qint64 total);
    QWidget *m_parent;
    QString m_label;
    QElapsedTimer m_clock;
    QPointer<QProgressDialog> m_dialog;
    bool m_cancelled = false;
};

} // namespace vorel
