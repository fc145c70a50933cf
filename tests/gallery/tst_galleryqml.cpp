#include "gallery/galleryimageprovider.h"
#include "gallery/gallerywindow.h"
#include "support/testenvironment.h"

#include <QQmlEngine>
#include <QtQuickTest>

// Qt Quick tests of the gallery's controls (qml/tst_*.qml), with the
// gallery's module and pictures available as in the application.
class Setup : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        lumivale::registerGalleryTypes();
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine->addImageProvider(QLatin1String(lumivale::GalleryImageProvider::kName),
                                 new lumivale::GalleryImageProvider);
    }
};

QUICK_TEST_MAIN_WITH_SETUP(galleryqml, Setup)

#include "tst_galleryqml.moc"
