#pragma once

#include <QQuickView>

namespace lumivale {

// The gallery's window: title "Gallery", identifier (object name) "gallery",
// 1280 x 820 at first. It is made hidden with the application and is only ever
// shown and hidden, never closed (the application delegate turns a close into
// a hide). Its QML content is loaded the first time it is shown, so a process
// that never shows it never starts the QML engine's work.
//
// Main thread only.
class GalleryWindow : public QQuickView
{
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{1280, 820};

    explicit GalleryWindow(QWindow *parent = nullptr);
    ~GalleryWindow() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void loadContent();

    bool m_contentLoaded = false;
};

} // namespace lumivale
