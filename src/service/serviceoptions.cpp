#include "serviceoptions.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace lumivale::service {

Result<ServeOptions> parseServeArguments(const QStringList &arguments)
{
    ServeOptions options;
    const auto fail = [](const QString &message) { return failure(u"Arguments"_s, 1, message); };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--quiet") {
            options.logRequests = false;
            continue;
        }
        if (i + 1 >= arguments.size())
            return fail(u"%1 needs a value"_s.arg(argument));
        const QString value = arguments.at(++i);
        bool isNumber = false;
        if (argument == u"--library") {
            options.libraryFolder = value;
        } else if (argument == u"--listen") {
            const qsizetype colon = value.lastIndexOf(u':');
            options.port = value.mid(colon + 1).toInt(&isNumber);
            options.host = value.left(colon).remove(u'[').remove(u']');
            if (colon <= 0 || !isNumber || options.port < 0 || options.port > 65535)
                return fail(u"--listen wants HOST:PORT, not \"%1\""_s.arg(value));
        } else if (argument == u"--trusted-proxy") {
            options.trustedProxy = value;
        } else if (argument == u"--db") {
            options.database = value;
        } else if (argument == u"--video-base-url") {
            const QUrl url(value);
            if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
                return fail(u"--video-base-url wants an absolute URL, not \"%1\""_s.arg(value));
            options.videoBaseURL = value.endsWith(u'/') ? value : value + u'/';
        } else if (argument == u"--likes-per-second" || argument == u"--threads") {
            const int number = value.toInt(&isNumber);
            if (!isNumber || number < (argument == u"--threads" ? 1 : 0))
                return fail(u"%1 wants a number, not \"%2\""_s.arg(argument, value));
            (argument == u"--threads" ? options.threads : options.likesPerSecond) = number;
        } else {
            return fail(u"unknown argument \"%1\""_s.arg(argument));
        }
    }
    if (options.libraryFolder.isEmpty())
        return fail(u"serve needs --library DIR"_s);
    return options;
}

} // namespace lumivale::service
