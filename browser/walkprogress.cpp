#include "browser/walkprogress.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QWidget>

namespace vorel {

namespace {

int g_delayMs = 500;

} // namespace

void TWalkProgressDialog::SetDelayMs(int ms) { g_delayMs = qMax(0, ms); }

TWalkProgressDialog::TWalkProgressDialog(QWidget *parent, const QString &label) : m_parent(parent), m_label(label)
{
    m_clock.start();
}

TWalkProgressDialog::~TWalkProgressDialog() { delete m_dialog.data(); }

TWalkProgress TWalkProgressDialog::Callback()
{
    return [this](qint64 done, qint64 total) { return step(done, total); };
}

bool TWalkProgressDialog::step(qint64 done, qint64 total)
{
    if (m_cancelled)
        return false;
    if (!m_dialog) {
        // A short walk ends before anyone would read a progress window.
        if (m_clock.elapsed() < g_delayMs)
            return true;
        auto *dialog = new QProgressDialog(m_parent);
        dialog->setObjectName(QStringLiteral("WalkProgress"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setCancelButtonText(QStringLiteral("Cancelar"));
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        m_dialog = dialog;
        dialog->show();
    }
    QString text = m_label + QLatin1Char('\n');
    if (total >= 0) {
        // The bar counts in int; very long walks are scaled to fit.
        m_dialog->setRange(0, 1000);
        m_dialog->setValue(total > 0 ? int(qMin<qint64>(1000, done * 1000 / total)) : 1000);
        text += QStringLiteral("%1 de %2 registros").arg(done).arg(total);
    } else {
        m_dialog->setRange(0, 0);
        text += QStringLiteral("%1 registros").arg(done);
    }
    m_dialog->setLabelText(text);
    // The user's Cancel is only heard while events are handled.
    QCoreApplication::processEvents();
    if (m_dialog && m_dialog->wasCanceled())
        m_cancelled = true;
    return !m_cancelled;
}

} // namespace vorel
