#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QTimer>
#include <QWidget>

#include "MimeMessage.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QTableView;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTemporaryDir;
class QTreeWidget;
class QTreeWidgetItem;
class InboxListModel;
class MailHtmlView;
class clsEmailStorage;
namespace Mime {
class Document;
}

// The message the main window shows, read as its recipient would read it: the envelope apart
// from the header, the header decoded, the text, the HTML rendered, the attachments and the
// structure. It follows the main window; a hidden window only notes which message that is.
// Beside the message, a list of the stored messages (which can be hidden) picks the one on show.
class frmMessage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMessage)
public:
    explicit frmMessage(QWidget* parent = nullptr);
    ~frmMessage() override;

    // Follows the store's message at this position; 0 or a position beyond the store shows none.
    // The list is made over this store when first needed; the store outlives the window.
    void showStored(clsEmailStorage& store, std::int16_t position);
    // The store's id of the message on show (or to be shown), 0 for none.
    std::uint64_t shownId() const { return m_shown ? m_shown->id : 0; }
    // The message as read, while one is on show and the window has read it.
    const Mime::Message* message() const { return m_parsed ? &*m_message : nullptr; }

    // Shows or hides the list of messages beside the message; the message keeps its room.
    void setListShown(bool shown);
    bool listShown() const;
    // The list's model, made with the first message followed; null before.
    InboxListModel* listModel() const { return m_listModel; }

signals:
    // Release was asked for the message with this id, the one on show when it was asked.
    void releaseRequested(quint64 id);
    // The user picked the message with this id in the list.
    void messageChosen(quint64 id);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What the store said of the message: enough to show it without the store.
    struct Stored {
        std::uint64_t id = 0;
        std::string from;
        std::string to;
        std::string authUser;
        std::int64_t receivedMs = 0;
        std::shared_ptr<const std::string> raw;
    };

    void build();
    // The list pane (frmMessageList.cpp).
    QWidget* buildListPane();
    void makeList(clsEmailStorage& store);
    void txtListFilter_Change();
    void lstMessages_CurrentChanged();
    void listRowsArrived();
    // Lists the arrivals gathered by the list's model: the first of a burst at once, later
    // ones together once per interval.
    void listArrivalsGathered();
    void listArrivalsDue();
    std::chrono::nanoseconds listInterval() const;
    // Selects the message on show in the list, without telling anyone it was chosen.
    void selectShown();
    QWidget* buildHeaderArea();
    QWidget* buildAttachmentsTab();
    QWidget* buildStructureTab();
    void render();
    void renderEnvelope();
    void renderHeader();
    void renderParts(const std::shared_ptr<const Mime::Document>& document);
    void showAllHeaders(bool shown);
    // What a save or an open acts on, taken before any modal step: the message by its store id,
    // its bytes (shared and never changed), and the part.
    struct ChosenAttachment {
        std::uint64_t messageId = 0;
        std::shared_ptr<const std::string> raw;
        std::string partId;
        QString fileName;
    };
    std::optional<ChosenAttachment> selectedAttachment() const;
    static std::optional<std::string> contentOf(const ChosenAttachment& chosen);
    void cmdAttachmentSaveAs_Click();
    void cmdAttachmentOpen_Click();
    void saveAttachment();
    void openAttachment();

    // The store the message on show comes from; it outlives this window.
    const clsEmailStorage* m_store = nullptr;
    std::optional<Stored> m_shown;
    // Part of the parse that also answers the HTML's pictures, and kept alive by it.
    std::shared_ptr<const Mime::Message> m_message;
    bool m_parsed = false;
    // The widgets still show an earlier message (or none): the window was hidden when it changed.
    bool m_stale = false;
    // Attachments opened in other programs are copies here, removed with the window.
    std::unique_ptr<QTemporaryDir> m_openedCopies;

    QStackedWidget* m_pages = nullptr;
    QLabel* lblNoMessage = nullptr;
    QFormLayout* m_envelopeForm = nullptr;
    QLabel* lblEnvelopeFrom = nullptr;
    QLabel* lblEnvelopeTo = nullptr;
    QLabel* lblEnvelopeLogin = nullptr;
    QLabel* lblEnvelopeReceived = nullptr;
    QLabel* lblHeaderFrom = nullptr;
    QLabel* lblHeaderTo = nullptr;
    QLabel* lblHeaderCc = nullptr;
    QLabel* lblHeaderSubject = nullptr;
    QLabel* lblHeaderDate = nullptr;
    QFormLayout* m_headerForm = nullptr;
    QCheckBox* chkAllHeaders = nullptr;
    QPlainTextEdit* txtAllHeaders = nullptr;
    QTabWidget* tabParts = nullptr;
    QWidget* m_htmlTab = nullptr;
    QWidget* m_textTab = nullptr;
    QWidget* m_attachmentsTab = nullptr;
    MailHtmlView* htmlBody = nullptr;
    QCheckBox* chkRemoteContent = nullptr;
    QLabel* lblRemoteRefused = nullptr;
    QPlainTextEdit* txtTextBody = nullptr;
    QTreeWidget* lstAttachments = nullptr;
    QPushButton* cmdAttachmentSaveAs = nullptr;
    QPushButton* cmdAttachmentOpen = nullptr;
    QTreeWidget* treeStructure = nullptr;
    QPushButton* cmdRelease = nullptr;

    QSplitter* m_split = nullptr;
    QWidget* m_listPane = nullptr;
    QLineEdit* txtListFilter = nullptr;
    QLabel* lblListFilterError = nullptr;
    QTableView* lstMessages = nullptr;
    InboxListModel* m_listModel = nullptr;
    // The window selects a row itself: that is no choice of the user's.
    bool m_selectingShown = false;
    // During a burst of arrivals the list takes them at most once per interval.
    QTimer m_listRepaint;
    // How long the list's last paint took with the listing before it, and when it ended (steady
    // clock); how long listing took since the last paint.
    std::chrono::nanoseconds m_listPaintTook{0};
    std::chrono::nanoseconds m_listTakeTook{0};
    std::chrono::steady_clock::time_point m_listPaintEnded{};
};
