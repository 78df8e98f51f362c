#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>

#include <QByteArray>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// How a reference in a mail's HTML is answered: from the message's own parts, from the URL
// itself, from the network only when the user allowed it, or not at all.
enum class ResourceSource { ContentId, Data, Remote, Refused };
ResourceSource resourceSourceOf(const QUrl& url);

// The bytes a data: URL carries, or nothing when it is malformed.
std::optional<QByteArray> dataUrlContent(const QUrl& url);

// Renders a mail's HTML as a mail program would, safely: no script engine exists here at all,
// nothing leaves the machine until the user allows remote content for this message, and a link
// opens in the desktop's browser only when it is clicked.
class MailHtmlView final : public QTextBrowser {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailHtmlView)
public:
    // The bytes of the part with this Content-ID, or nothing.
    using PartLookup = std::function<std::optional<QByteArray>(const QString& contentId)>;

    explicit MailHtmlView(QWidget* parent = nullptr);
    ~MailHtmlView() override;

    // Shows another message's HTML; its remote content stays refused until allowed anew.
    void showMail(const QString& html, PartLookup parts);
    // Allows (and fetches) or refuses remote content for the mail on show.
    void setRemoteContentAllowed(bool allowed);

    // Remote references refused for the mail on show.
    const std::set<QUrl>& refusedUrls() const { return m_refused; }
    // Requests ever handed to the network by this view.
    int networkRequests() const { return m_networkRequests; }

    QVariant loadResource(int type, const QUrl& name) override;

signals:
    // The mail on show refers to remote content that was not loaded.
    void remoteContentRefused();

private:
    void fetch(const QUrl& url);
    void fetched(QNetworkReply* reply);
    void openClickedLink(const QUrl& url);
    void render();

    QString m_html;
    PartLookup m_parts;
    bool m_remoteAllowed = false;
    std::set<QUrl> m_refused;
    QNetworkAccessManager* m_network = nullptr;
    std::map<QUrl, QByteArray> m_fetchedContent;
    std::set<QUrl> m_pending;
    // Lays the mail out again with what has arrived; answers close together are shown together.
    QTimer m_arrivals;
    int m_networkRequests = 0;
};
