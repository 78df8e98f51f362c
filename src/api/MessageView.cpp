#include "MessageView.h"

#include <chrono>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include "Latin1Text.h"
#include "MessageCatalog.h"
#include "MimeMessage.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* NoMessageText = "{\"Error\":\"no such message\"}";
constexpr const char* NoHtmlText = "{\"Error\":\"the message has no HTML part\"}";
constexpr std::string_view ContentIdScheme = "cid:";
constexpr std::string_view Doctype = "<!doctype";
// Without allow-scripts a link can only leave the sandbox as a new top-level page.
constexpr std::string_view LinkTarget = "<base target=\"_blank\">";

// The document's own sandbox holds even where it is opened as a page of its own. A picture may
// come from the message's parts (this origin) or a data: URL; styles only from the document.
const QByteArray LocalPolicy = QByteArrayLiteral(
    "sandbox allow-popups allow-popups-to-escape-sandbox; default-src 'none'; img-src 'self' data:; "
    "media-src 'self' data:; style-src 'unsafe-inline'; font-src data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'self'");
const QByteArray RemotePolicy = QByteArrayLiteral(
    "sandbox allow-popups allow-popups-to-escape-sandbox; default-src 'none'; img-src * 'self' data:; "
    "media-src * 'self' data:; style-src * 'unsafe-inline'; font-src * data:; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'self'");

const QRegularExpression ViewPath(QStringLiteral("^/view/([^/]+)\\.(html|txt)$"));
const QRegularExpression FactsPath(QStringLiteral("^/api/v1/message/([^/]+)/(envelope|structure)$"));

// Ends a cid: reference in an attribute, a style or plain text.
bool endsReference(char c)
{
    return c == '"' || c == '\'' || c == ')' || c == '(' || c == '<' || c == '>' || c == ' ' || c == '\t' || c == '\r'
        || c == '\n' || c == '&';
}

// Where the message's own markup may start: after a doctype, which must stay first.
std::size_t bodyStart(std::string_view html)
{
    const std::size_t first = html.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || findNoCase(html.substr(first, Doctype.size()), Doctype) != 0)
        return 0;
    const std::size_t close = html.find('>', first);
    return close == std::string_view::npos ? 0 : close + 1;
}

QByteArray bytes(const std::string& text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// The envelope as sent: UTF-8 where it is valid, one byte a character otherwise.
QString wireText(std::string_view text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return decoder.hasError() ? QString::fromLatin1(text.data(), qsizetype(text.size())) : decoded;
}

WebAnswer document(int status, const char* type, QByteArray body)
{
    WebAnswer answer{status, {{"Content-Type", type}}, std::move(body)};
    addStrictHeaders(answer);
    return answer;
}

WebAnswer json(const QJsonObject& object)
{
    return document(200, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject structureOf(const Mime::Part& part)
{
    QJsonArray children;
    for (const Mime::Part& child : part.children)
        children.append(structureOf(child));
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    return QJsonObject{
        {QStringLiteral("PartID"), text(part.partId)},
        {QStringLiteral("ContentType"), text(part.contentType)},
        {QStringLiteral("Charset"), text(part.charset)},
        {QStringLiteral("TransferEncoding"), text(part.transferEncoding)},
        {QStringLiteral("FileName"), text(part.fileName)},
        {QStringLiteral("ContentID"), text(part.contentId)},
        {QStringLiteral("Disposition"), text(part.disposition)},
        {QStringLiteral("Size"), double(part.size)},
        {QStringLiteral("Parts"), children},
    };
}

QJsonObject envelopeOf(const clsEmailStorage& store, std::int16_t position)
{
    QJsonArray recipients;
    std::string_view rest = store.EmailTo(position);
    while (!rest.empty()) {
        const std::size_t end = rest.find(clsEmailStorage::RecipientSeparator);
        recipients.append(wireText(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view()
                                             : rest.substr(end + clsEmailStorage::RecipientSeparator.size());
    }
    const auto received
        = std::chrono::duration_cast<std::chrono::milliseconds>(store.emailReceived(position).time_since_epoch());
    return QJsonObject{
        {QStringLiteral("From"), wireText(store.EmailFrom(position))},
        {QStringLiteral("To"), recipients},
        {QStringLiteral("Username"), wireText(store.emailAuthUser(position))},
        {QStringLiteral("Received"),
         QDateTime::fromMSecsSinceEpoch(received.count(), Qt::UTC).toString(Qt::ISODateWithMs)},
    };
}

WebAnswer htmlView(const Mime::Message& message, const QString& id, bool remote)
{
    if (message.html.empty())
        return document(404, "application/json", NoHtmlText);
    const std::string partBase = "/api/v1/message/" + id.toStdString() + "/part/";
    const std::string html = MessageView::htmlDocument(message.html, [&](const std::string& contentId) {
        for (const auto* list : {&message.inlineParts, &message.attachments})
            for (const Mime::Part& part : *list)
                if (!part.contentId.empty() && part.contentId == contentId)
                    return partBase + part.partId;
        return std::string();
    });
    WebAnswer answer = document(200, "text/html; charset=utf-8", bytes(html));
    answer.headers.emplace_back("Content-Security-Policy", remote ? RemotePolicy : LocalPolicy);
    // A link's host name looked up ahead would tell the sender's name server that the mail was read.
    answer.headers.emplace_back("X-DNS-Prefetch-Control", "off");
    return answer;
}

} // namespace

namespace MessageView {

std::string htmlDocument(std::string_view html, const std::function<std::string(const std::string&)>& partUrl)
{
    std::string out;
    out.reserve(html.size() + LinkTarget.size());
    const std::size_t start = bodyStart(html);
    out.append(html.substr(0, start)).append(LinkTarget);
    std::size_t at = start;
    for (std::size_t found; (found = findNoCase(html, ContentIdScheme, at)) != std::string_view::npos;) {
        std::size_t end = found + ContentIdScheme.size();
        while (end < html.size() && !endsReference(html[end]))
            ++end;
        const std::string_view reference
            = html.substr(found + ContentIdScheme.size(), end - found - ContentIdScheme.size());
        const std::string url = partUrl(
            QUrl::fromPercentEncoding(QByteArray(reference.data(), qsizetype(reference.size()))).toStdString());
        out.append(html.substr(at, found - at)).append(url.empty() ? html.substr(found, end - found) : url);
        at = end;
    }
    out.append(html.substr(at));
    return out;
}

std::optional<WebAnswer> answer(const clsEmailStorage& store,
                                const std::function<std::int16_t(const std::string&)>& locate, const QString& path,
                                const QUrlQuery& query)
{
    // Every request of the API passes here first: most leave after a comparison or two.
    QRegularExpressionMatch match;
    if (path.startsWith(QLatin1String("/view/")))
        match = ViewPath.match(path);
    else if (path.endsWith(QLatin1String("/envelope")) || path.endsWith(QLatin1String("/structure")))
        match = FactsPath.match(path);
    if (!match.hasMatch())
        return std::nullopt;
    const QString id = match.captured(1);
    const QString what = match.captured(2);
    const std::int16_t position = locate(id.toStdString());
    if (position < 1)
        return document(404, "application/json", NoMessageText);
    if (what == QLatin1String("envelope"))
        return json(envelopeOf(store, position));
    const Mime::Message message = Mime::parse(store.EmailBody(position));
    if (what == QLatin1String("structure"))
        return json(structureOf(message.root));
    if (what == QLatin1String("txt"))
        return document(200, "text/plain; charset=utf-8", bytes(readerText(message)));
    // Parts are named by the id that stays, not by "latest", which moves on.
    return htmlView(message, QString::fromStdString(MessageCatalog::idText(store.emailId(position))),
                    query.queryItemValue(QStringLiteral("remote")) == QLatin1String("1"));
}

} // namespace MessageView
