#include "WebAssets.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr QStringView AssetPrefix = u"/assets/";
constexpr QStringView InboxPath = u"/";
const QString InboxFile = QStringLiteral("index.html");
const QString ResourceFolder = QStringLiteral(":/inbox/");
// Nothing the inbox needs comes from elsewhere: the event stream and the message's own HTML
// document are on this origin, and the HTML is a sandboxed frame with its own, stricter policy.
const QByteArray InboxPolicy = QByteArrayLiteral(
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "frame-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");

struct Type {
    QLatin1String suffix;
    QByteArray contentType;
};
const Type Types[] = {
    {QLatin1String(".html"), QByteArrayLiteral("text/html; charset=utf-8")},
    {QLatin1String(".js"), QByteArrayLiteral("text/javascript; charset=utf-8")},
    {QLatin1String(".css"), QByteArrayLiteral("text/css; charset=utf-8")},
    {QLatin1String(".svg"), QByteArrayLiteral("image/svg+xml")},
};

// A plain file name, so that no path can climb out of the folder.
bool isAssetName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9][a-z0-9.-]*$"));
    return plain.match(name).hasMatch();
}

} // namespace

namespace WebAssets {

std::optional<WebAnswer> find(QStringView path)
{
    QString name;
    if (path == InboxPath)
        name = InboxFile;
    else if (path.startsWith(AssetPrefix))
        name = path.mid(AssetPrefix.size()).toString();
    else
        return std::nullopt;
    if (!isAssetName(name))
        return std::nullopt;
    for (const Type& type : Types) {
        if (!name.endsWith(type.suffix))
            continue;
        QFile file(ResourceFolder + name);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        WebAnswer answer{
            200, {{"Content-Type", type.contentType}, {"Content-Security-Policy", InboxPolicy}}, file.readAll()};
        answer.headers.emplace_back("X-Frame-Options", "DENY");
        addStrictHeaders(answer);
        return answer;
    }
    return std::nullopt;
}

} // namespace WebAssets
