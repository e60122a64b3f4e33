#pragma once
// The status window of the start-up: a caption-only window whose caption is
// the status text.
#include <QWidget>

namespace vorel::shell {

class TFSplash : public QWidget
{
    Q_OBJECT
public:
    TFSplash();
    void SetCaption(const QString &text);
    QString Caption() const { return windowTitle(); }
    // Shows it centred and lets it paint: the start-up blocks the event loop.
    void ShowNow();
    void HideNow();
};

} // namespace vorel::shell
