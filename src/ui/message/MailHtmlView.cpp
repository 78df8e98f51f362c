#include "MailHtmlView.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScrollBar>

#include "Desktop.h"

namespace {

// A remote picture or style sheet larger than this is not shown; a mail is not a web site.
constexpr qint64 MaxRemoteBytes = 8 << 20;
constexpr int RemoteTimeoutMs = 15000;
constexpr int ArrivalsShownEveryMs = 100;

bool isRemote(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Only what a browser or a mail program should take from a click; never files or scripts.
bool isOpenableLink(const QUrl& url)
{
    return isRemote(url) || url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0;
}

} // namespace

ResourceSource resourceSourceOf(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("cid"))
        return ResourceSource::ContentId;
    if (scheme == QLatin1String("data"))
        return ResourceSource::Data;
    if (isRemote(url))
        return ResourceSource::Remote;
    // Relative and local references (file:, qrc:...) would read this machine, not the message.
    return ResourceSource::Refused;
}

std::optional<QByteArray> dataUrlContent(const QUrl& url)
{
    // data:[<media type>][;base64],<data>
    const QByteArray encoded = url.toEncoded(QUrl::RemoveScheme);
    const qsizetype comma = encoded.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    const QByteArray meta = encoded.left(comma).toLower();
    const QByteArray payload = QByteArray::fromPercentEncoding(encoded.mid(comma + 1));
    if (!meta.endsWith(";base64"))
        return payload;
    // Mail programs wrap long attribute values: what is not Base64 is skipped, as browsers do.
    return QByteArray::fromBase64(payload);
}

MailHtmlView::MailHtmlView(QWidget* parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &MailHtmlView::openClickedLink);
    m_arrivals.setSingleShot(true);
    m_arrivals.setInterval(ArrivalsShownEveryMs);
    connect(&m_arrivals, &QTimer::timeout, this, &MailHtmlView::render);
}

MailHtmlView::~MailHtmlView()
{
    delete m_network;
}

void MailHtmlView::showMail(const QString& html, PartLookup parts)
{
    m_html = html;
    m_parts = std::move(parts);
    m_remoteAllowed = false;
    m_fetchedContent.clear();
    m_pending.clear();
    m_arrivals.stop();
    // Replies still on their way belong to the mail before; they go unread with their manager.
    delete m_network;
    m_network = nullptr;
    render();
}

void MailHtmlView::setRemoteContentAllowed(bool allowed)
{
    if (allowed == m_remoteAllowed)
        return;
    m_remoteAllowed = allowed;
    render();
}

void MailHtmlView::render()
{
    m_arrivals.stop();
    m_refused.clear();
    const int scrolled = verticalScrollBar()->value();
    // setHtml clears the document's resources, so every reference is asked for anew.
    setHtml(m_html);
    verticalScrollBar()->setValue(scrolled);
}

// Every reference gets an answer: given none, the text engine would look for the reference as a
// file on this machine (a picture at /home/..., a style sheet at file:///...) and read it.
QVariant MailHtmlView::loadResource(int type, const QUrl& name)
{
    const auto answer = [type](std::optional<QByteArray> bytes) -> QVariant {
        if (type != QTextDocument::ImageResource)
            return bytes.value_or(QByteArray(""));
        const QImage image = bytes ? QImage::fromData(*bytes) : QImage();
        if (!image.isNull())
            return image;
        QImage nothing(1, 1, QImage::Format_ARGB32);
        nothing.fill(Qt::transparent);
        return nothing;
    };
    switch (resourceSourceOf(name)) {
    case ResourceSource::ContentId:
        return answer(m_parts ? m_parts(name.path()) : std::nullopt);
    case ResourceSource::Data:
        return answer(dataUrlContent(name));
    case ResourceSource::Remote:
        if (!m_remoteAllowed) {
            // Pictures are asked for as they are laid out, not when the HTML is set.
            if (m_refused.insert(name).second && m_refused.size() == 1)
                emit remoteContentRefused();
            return answer(std::nullopt);
        }
        if (auto found = m_fetchedContent.find(name); found != m_fetchedContent.end())
            return answer(found->second);
        // Asked again when it has come: an answer now would be kept in place of it.
        fetch(name);
        return {};
    case ResourceSource::Refused:
        break;
    }
    return answer(std::nullopt);
}

void MailHtmlView::fetch(const QUrl& url)
{
    if (!m_pending.insert(url).second)
        return;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setTransferTimeout(RemoteTimeoutMs);
    ++m_networkRequests;
    QNetworkReply* reply = m_network->get(request);
    reply->setReadBufferSize(MaxRemoteBytes);
    // The manager is the context: replies of a mail no longer on show, or of a view being
    // destroyed, are dropped with it and never call back.
    connect(reply, &QNetworkReply::finished, m_network, [this, reply] { fetched(reply); });
}

// Each answer is kept and shown soon after it arrives: waiting for the last one would let a slow
// or silent server (a style sheet's, a background's) hold back every picture.
void MailHtmlView::fetched(QNetworkReply* reply)
{
    reply->deleteLater();
    const QUrl url = reply->request().url();
    m_pending.erase(url);
    m_fetchedContent[url] = reply->error() == QNetworkReply::NoError ? reply->read(MaxRemoteBytes) : QByteArray();
    if (m_remoteAllowed && !m_arrivals.isActive())
        m_arrivals.start();
}

void MailHtmlView::openClickedLink(const QUrl& url)
{
    if (isOpenableLink(url))
        desktop().openUrl(url);
}
