#include "galleryfixture.h"

#include "catalogue/wallpaperlibrary.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <qcoro/qcorotask.h>

namespace lumivale::test {

using namespace Qt::Literals::StringLiterals;

QByteArray manifestOf(const QStringList &records)
{
    QJsonArray array;
    for (const QString &shorthand : records) {
        const QStringList parts = shorthand.split(QLatin1Char('/'));
        const QString id = parts.value(0);
        const QString flags = parts.value(2);
        const QJsonObject record{{u"id"_s, id},
                                 {u"name"_s, parts.value(3, u"Name "_s + id)},
                                 {u"category"_s, parts.value(1)},
                                 {u"resolution"_s, u"4K"_s},
                                 {u"isNew"_s, flags.contains(QLatin1Char('n'))},
                                 {u"video"_s, u"https://cdn.test/%1.mp4"_s.arg(id)}};
        array.append(record);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QStringList idsOf(const WallpaperListModel &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.index(row).data(WallpaperListModel::IdRole).toString());
    return ids;
}

GalleryFixture::GalleryFixture(bool demo)
{
    server.setHandler([this](const LoopbackHttpServer::Request &) {
        return LoopbackHttpServer::json(manifestOf(served));
    });
    qputenv("LUMIVALE_MANIFEST_URL",
            demo ? QByteArray() : server.url(u"/manifest.json"_s).toString().toUtf8());
    content = std::make_unique<ContentView>(
        ContentView::Dependencies{defaults, manager, cacheState, cache, clock});
}

GalleryFixture::~GalleryFixture()
{
    content.reset();
    qunsetenv("LUMIVALE_MANIFEST_URL");
}

void GalleryFixture::load(const QStringList &records)
{
    served = records;
    QCoro::waitFor(content->library().load());
}

void GalleryFixture::cacheFile(const QString &id)
{
    QFile file(cache.cacheDirectory() + QLatin1Char('/') + id + u".mp4"_s);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("video");
}

} // namespace lumivale::test
