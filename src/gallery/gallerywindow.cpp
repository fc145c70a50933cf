#include "gallerywindow.h"

#include <QQmlComponent>
#include <QQmlEngine>

namespace lumivale {
namespace {

// Until the gallery's views exist: the window's background and name.
constexpr char kPlaceholder[] = R"qml(
import QtQuick
Rectangle {
    color: "#151719"
    Text {
        anchors.centerIn: parent
        text: "Lumivale"
        color: Qt.rgba(1, 1, 1, 0.55)
        font.pixelSize: 28
        font.weight: Font.DemiBold
    }
}
)qml";

} // namespace

GalleryWindow::GalleryWindow(QWindow *parent)
    : QQuickView(parent)
{
    setObjectName(QStringLiteral("gallery"));
    setTitle(QStringLiteral("Gallery"));
    setResizeMode(QQuickView::SizeRootObjectToView);
    setColor(Qt::black);
    resize(kDefaultSize);
}

GalleryWindow::~GalleryWindow() = default;

void GalleryWindow::showEvent(QShowEvent *event)
{
    if (!m_contentLoaded)
        loadContent();
    QQuickView::showEvent(event);
}

void GalleryWindow::loadContent()
{
    m_contentLoaded = true;
    auto *component = new QQmlComponent(engine(), this);
    component->setData(kPlaceholder, QUrl(QStringLiteral("qrc:/lumivale/GalleryPlaceholder.qml")));
    QObject *root = component->create();
    if (!root) {
        qWarning("gallery: %s", qPrintable(component->errorString()));
        return;
    }
    setContent(component->url(), component, root);
}

} // namespace lumivale
