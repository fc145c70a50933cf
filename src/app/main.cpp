#include "app/commandline.h"
#include "app/runtime.h"
#include "desktop/wallpapermanager.h"
#include "platform/linux/x11desktopsurface.h"
#include "platform/platform.h"

#include <QApplication>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <cstdio>

using namespace lumivale;

namespace {

int listScreens()
{
    QTextStream out(stdout);
    for (const Screen &screen : Platform::instance().screens().screens()) {
        const QRect &f = screen.frame;
        out << WallpaperManager::screenID(screen) << '\t' << screen.name << '\t' << f.width() << 'x'
            << f.height() << '+' << f.x() << '+' << f.y() << '\n';
    }
    return 0;
}

int applyUntilInterrupted(const CommandLine &command)
{
    const QFileInfo file(command.file);
    if (!file.isFile() || !file.isReadable()) {
        std::fprintf(stderr, "lumivale: cannot read %s\n", qPrintable(command.file));
        return 1;
    }
    WallpaperManager &manager = WallpaperManager::shared();
    std::optional<QSet<QString>> screens;
    if (!command.screenIDs.isEmpty())
        screens = QSet<QString>(command.screenIDs.cbegin(), command.screenIDs.cend());
    manager.apply(QUrl::fromLocalFile(file.absoluteFilePath()), file.completeBaseName(), screens);

    return execUntilSignalled([&manager] {
        // Take the windows down but keep the applied wallpaper for next time.
        manager.releaseWindows();
        waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 3000);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();

    const auto parsed = CommandLine::parse(QCoreApplication::arguments());
    if (const auto *message = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "lumivale: %s\n\n%s", qPrintable(*message),
                     qPrintable(CommandLine::usage()));
        return 2;
    }
    const auto &command = std::get<CommandLine>(parsed);
    switch (command.action) {
    case CommandLine::Action::ListScreens:
        return listScreens();
    case CommandLine::Action::Apply:
        return applyUntilInterrupted(command);
    case CommandLine::Action::None:
        std::fputs(qPrintable(CommandLine::usage()), stdout);
        return 0;
    }
    return 0;
}
