#include "frmMessage.h"

#include <algorithm>
#include <chrono>
#include <tuple>

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ChosenMessages.h"
#include "Desktop.h"
#include "ErrorReport.h"
#include "InboxListModel.h"
#include "MailHtmlView.h"
#include "MessageBoxes.h"
#include "MimeDocument.h"
#include "QtLatin1.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* WindowTitle = "Message";
constexpr const char* NoMessageText = "No message on show.";
constexpr const char* EnvelopeCaption = "Envelope (from the SMTP dialogue)";
constexpr const char* EnvelopeFromCaption = "Sender:";
constexpr const char* EnvelopeToCaption = "Recipients:";
constexpr const char* EnvelopeLoginCaption = "Login:";
constexpr const char* EnvelopeReceivedCaption = "Received:";
constexpr const char* HeaderCaption = "Header";
constexpr const char* HeaderFromCaption = "From:";
constexpr const char* HeaderToCaption = "To:";
constexpr const char* HeaderCcCaption = "Cc:";
constexpr const char* HeaderSubjectCaption = "Subject:";
constexpr const char* HeaderDateCaption = "Date:";
constexpr const char* NoDateText = "(none)";
constexpr const char* AllHeadersCaption = "Show all header fields";
constexpr const char* HtmlTabCaption = "HTML";
constexpr const char* TextTabCaption = "Text";
constexpr const char* AttachmentsTabCaption = "Attachments (%1)";
constexpr const char* StructureTabCaption = "Structure";
constexpr const char* RemoteContentCaption = "Load remote content";
constexpr const char* RemoteContentTip = "Fetch pictures and style sheets from the network for this message only.";
constexpr const char* RemoteRefusedText = "Remote content was not loaded.";
constexpr const char* AttachmentColumns[] = {"Name", "Type", "Size"};
constexpr const char* StructureColumns[] = {"Type", "Charset", "Transfer encoding", "Size", "File name"};
constexpr int StructureSizeColumn = 3;
constexpr const char* SaveAsCaption = "Save as...";
constexpr const char* ReleaseCaption = "Release...";
constexpr const char* ReleaseTip = "Send this message, unchanged, to a real mail server (--relay).";
constexpr const char* OpenCaption = "Open";
constexpr const char* SaveAttachmentTitle = "Save attachment as";
constexpr const char* AllFilesFilter = "All files (*)";
constexpr const char* UnnamedAttachment = "attachment-%1";
constexpr const char* CannotWriteText = "Unable to write the file.";
constexpr const char* CannotReadPartText = "The attachment cannot be read from the message.";
constexpr int WindowWidth = 760;
// The list beside the message widens the window by this much, so that the message keeps its room.
constexpr int ListPaneWidth = 420;
constexpr int WindowHeight = 640;

QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString addresses(const std::vector<Mime::Address>& list)
{
    QStringList shown;
    for (const Mime::Address& address : list)
        shown << (address.name.empty() ? utf8(address.address)
                                       : utf8(address.name) + QStringLiteral(" <") + utf8(address.address) + u'>');
    return shown.join(QStringLiteral(", "));
}

QLabel* valueLabel(const char* name)
{
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    return label;
}

QStringList captions(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << fromLatin1(text);
    return list;
}

QString sizeText(std::size_t bytes)
{
    return QLocale().formattedDataSize(qint64(bytes));
}

// A file name from a message may hold folders or be empty; only its last part is ever used.
QString safeFileName(const Mime::Part& part)
{
    QString name = QFileInfo(utf8(part.fileName).replace(u'\\', u'/')).fileName();
    if (!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."))
        return name;
    return fromLatin1(UnnamedAttachment).arg(utf8(part.partId));
}

// A multipart (or an attached message) has no bytes of its own to count: it is as large as
// what it holds. Returns the size shown.
std::size_t addStructure(QTreeWidgetItem* parent, const Mime::Part& part)
{
    auto* item = new QTreeWidgetItem(
        parent,
        {utf8(part.contentType), utf8(part.charset), utf8(part.transferEncoding), QString(), utf8(part.fileName)});
    item->setData(0, Qt::UserRole, utf8(part.partId));
    std::size_t held = 0;
    for (const Mime::Part& child : part.children)
        held += addStructure(item, child);
    const std::size_t size = std::max(part.size, held);
    item->setText(StructureSizeColumn, sizeText(size));
    return size;
}

} // namespace

frmMessage::frmMessage(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(fromLatin1(WindowTitle));
    build();
    resize(WindowWidth + ListPaneWidth + m_split->handleWidth(), WindowHeight);
    m_split->setSizes({ListPaneWidth, WindowWidth});
    render();
}

bool frmMessage::listShown() const
{
    return !m_listPane->isHidden();
}

void frmMessage::setListShown(bool shown)
{
    if (shown == listShown())
        return;
    // Before the window is first shown its panes have no sizes yet: the list's is the one it gets.
    const int paneWidth = (shown || !isVisible() ? ListPaneWidth : m_listPane->width()) + m_split->handleWidth();
    m_listPane->setVisible(shown);
    if (m_listModel)
        m_listModel->setReadingAhead(shown);
    resize(width() + (shown ? paneWidth : -paneWidth), height());
    if (shown)
        m_split->setSizes({ListPaneWidth, m_pages->width()});
}

frmMessage::~frmMessage() = default;

void frmMessage::build()
{
    m_split = new QSplitter(this);
    m_split->setObjectName(QStringLiteral("splitMessage"));
    m_split->setChildrenCollapsible(false);
    m_pages = new QStackedWidget;
    m_pages->setObjectName(QStringLiteral("pages"));
    m_split->addWidget(buildListPane());
    m_split->addWidget(m_pages);
    m_split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_split);

    lblNoMessage = new QLabel(fromLatin1(NoMessageText));
    lblNoMessage->setObjectName(QStringLiteral("lblNoMessage"));
    lblNoMessage->setAlignment(Qt::AlignCenter);
    m_pages->addWidget(lblNoMessage);

    auto* content = new QWidget;
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addWidget(buildHeaderArea());

    tabParts = new QTabWidget;
    tabParts->setObjectName(QStringLiteral("tabParts"));
    m_htmlTab = new QWidget;
    auto* htmlLayout = new QVBoxLayout(m_htmlTab);
    auto* remoteRow = new QHBoxLayout;
    chkRemoteContent = new QCheckBox(fromLatin1(RemoteContentCaption));
    chkRemoteContent->setObjectName(QStringLiteral("chkRemoteContent"));
    chkRemoteContent->setToolTip(fromLatin1(RemoteContentTip));
    lblRemoteRefused = new QLabel(fromLatin1(RemoteRefusedText));
    lblRemoteRefused->setObjectName(QStringLiteral("lblRemoteRefused"));
    remoteRow->addWidget(lblRemoteRefused);
    remoteRow->addStretch();
    remoteRow->addWidget(chkRemoteContent);
    htmlLayout->addLayout(remoteRow);
    htmlBody = new MailHtmlView;
    htmlBody->setObjectName(QStringLiteral("htmlBody"));
    htmlLayout->addWidget(htmlBody);
    connect(chkRemoteContent, &QCheckBox::toggled, htmlBody, &MailHtmlView::setRemoteContentAllowed);
    connect(htmlBody, &MailHtmlView::remoteContentRefused, lblRemoteRefused, &QLabel::show);

    m_textTab = new QWidget;
    auto* textLayout = new QVBoxLayout(m_textTab);
    txtTextBody = new QPlainTextEdit;
    txtTextBody->setObjectName(QStringLiteral("txtTextBody"));
    txtTextBody->setReadOnly(true);
    textLayout->addWidget(txtTextBody);

    tabParts->addTab(m_htmlTab, fromLatin1(HtmlTabCaption));
    tabParts->addTab(m_textTab, fromLatin1(TextTabCaption));
    m_attachmentsTab = buildAttachmentsTab();
    tabParts->addTab(m_attachmentsTab, fromLatin1(AttachmentsTabCaption).arg(0));
    tabParts->addTab(buildStructureTab(), fromLatin1(StructureTabCaption));
    contentLayout->addWidget(tabParts, 1);
    m_pages->addWidget(content);
}

QWidget* frmMessage::buildHeaderArea()
{
    auto* area = new QWidget;
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);

    // A bold heading over a form of values; each value a label named for the tests.
    const auto section
        = [layout](const char* heading, std::initializer_list<std::tuple<const char*, const char*, QLabel**>> rows) {
              auto* title = new QLabel(fromLatin1(heading));
              QFont bold = title->font();
              bold.setBold(true);
              title->setFont(bold);
              layout->addWidget(title);
              auto* form = new QFormLayout;
              for (const auto& [caption, name, label] : rows)
                  form->addRow(fromLatin1(caption), *label = valueLabel(name));
              layout->addLayout(form);
              return form;
          };
    m_envelopeForm = section(EnvelopeCaption,
                             {{EnvelopeFromCaption, "lblEnvelopeFrom", &lblEnvelopeFrom},
                              {EnvelopeToCaption, "lblEnvelopeTo", &lblEnvelopeTo},
                              {EnvelopeLoginCaption, "lblEnvelopeLogin", &lblEnvelopeLogin},
                              {EnvelopeReceivedCaption, "lblEnvelopeReceived", &lblEnvelopeReceived}});
    m_headerForm = section(HeaderCaption,
                           {{HeaderFromCaption, "lblHeaderFrom", &lblHeaderFrom},
                            {HeaderToCaption, "lblHeaderTo", &lblHeaderTo},
                            {HeaderCcCaption, "lblHeaderCc", &lblHeaderCc},
                            {HeaderSubjectCaption, "lblHeaderSubject", &lblHeaderSubject},
                            {HeaderDateCaption, "lblHeaderDate", &lblHeaderDate}});

    chkAllHeaders = new QCheckBox(fromLatin1(AllHeadersCaption));
    chkAllHeaders->setObjectName(QStringLiteral("chkAllHeaders"));
    cmdRelease = new QPushButton(fromLatin1(ReleaseCaption));
    cmdRelease->setObjectName(QStringLiteral("cmdRelease"));
    cmdRelease->setToolTip(fromLatin1(ReleaseTip));
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(chkAllHeaders);
    headerRow->addStretch();
    headerRow->addWidget(cmdRelease);
    layout->addLayout(headerRow);
    // The id is taken now: the message on show may change while the release's dialog is open.
    connect(cmdRelease, &QPushButton::clicked, this, [this] { emit releaseRequested(shownId()); });
    txtAllHeaders = new QPlainTextEdit;
    txtAllHeaders->setObjectName(QStringLiteral("txtAllHeaders"));
    txtAllHeaders->setReadOnly(true);
    txtAllHeaders->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtAllHeaders->hide();
    layout->addWidget(txtAllHeaders);
    connect(chkAllHeaders, &QCheckBox::toggled, this, &frmMessage::showAllHeaders);
    return area;
}

QWidget* frmMessage::buildAttachmentsTab()
{
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    lstAttachments = new QTreeWidget;
    lstAttachments->setObjectName(QStringLiteral("lstAttachments"));
    lstAttachments->setRootIsDecorated(false);
    lstAttachments->setHeaderLabels(captions({AttachmentColumns[0], AttachmentColumns[1], AttachmentColumns[2]}));
    lstAttachments->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(lstAttachments);
    auto* buttons = new QHBoxLayout;
    cmdAttachmentSaveAs = new QPushButton(fromLatin1(SaveAsCaption));
    cmdAttachmentSaveAs->setObjectName(QStringLiteral("cmdAttachmentSaveAs"));
    cmdAttachmentOpen = new QPushButton(fromLatin1(OpenCaption));
    cmdAttachmentOpen->setObjectName(QStringLiteral("cmdAttachmentOpen"));
    buttons->addStretch();
    buttons->addWidget(cmdAttachmentSaveAs);
    buttons->addWidget(cmdAttachmentOpen);
    layout->addLayout(buttons);
    connect(cmdAttachmentSaveAs, &QPushButton::clicked, this, &frmMessage::cmdAttachmentSaveAs_Click);
    connect(cmdAttachmentOpen, &QPushButton::clicked, this, &frmMessage::cmdAttachmentOpen_Click);
    connect(lstAttachments, &QTreeWidget::itemActivated, this, &frmMessage::cmdAttachmentOpen_Click);
    return tab;
}

QWidget* frmMessage::buildStructureTab()
{
    treeStructure = new QTreeWidget;
    treeStructure->setObjectName(QStringLiteral("treeStructure"));
    treeStructure->setHeaderLabels(captions(
        {StructureColumns[0], StructureColumns[1], StructureColumns[2], StructureColumns[3], StructureColumns[4]}));
    return treeStructure;
}

void frmMessage::showStored(clsEmailStorage& store, std::int16_t position)
{
    m_store = &store;
    if (!m_listModel)
        makeList(store);
    const std::uint64_t id = position >= 1 ? store.emailId(position) : 0;
    if (id == shownId())
        return selectShown();
    m_message.reset();
    m_parsed = false;
    m_stale = true;
    if (id == 0) {
        m_shown.reset();
    } else {
        const auto received
            = std::chrono::duration_cast<std::chrono::milliseconds>(store.emailReceived(position).time_since_epoch());
        m_shown = Stored{id,
                         store.EmailFrom(position),
                         store.EmailTo(position),
                         store.emailAuthUser(position),
                         received.count(),
                         store.emailBodyShared(position)};
    }
    selectShown();
    // A hidden window reads the message only when it is shown: nothing is parsed for the
    // messages that a burst of arrivals puts on show one after another.
    if (isVisible())
        render();
}

void frmMessage::showEvent(QShowEvent* event)
{
    if (m_stale)
        trapped("frmMessage_Show", [&] { render(); });
    QWidget::showEvent(event);
}

void frmMessage::render()
{
    m_stale = false;
    if (!m_shown) {
        m_pages->setCurrentWidget(lblNoMessage);
        htmlBody->showMail({}, {});
        txtTextBody->clear();
        lstAttachments->clear();
        treeStructure->clear();
        return;
    }
    const auto document = std::make_shared<const Mime::Document>(m_shown->raw);
    m_message = std::shared_ptr<const Mime::Message>(document, &document->message());
    m_parsed = true;
    renderEnvelope();
    renderHeader();
    renderParts(document);
    m_pages->setCurrentIndex(1);
}

void frmMessage::renderEnvelope()
{
    lblEnvelopeFrom->setText(fromLatin1(m_shown->from));
    lblEnvelopeTo->setText(fromLatin1(m_shown->to));
    lblEnvelopeLogin->setText(fromLatin1(m_shown->authUser));
    m_envelopeForm->setRowVisible(lblEnvelopeLogin, !m_shown->authUser.empty());
    lblEnvelopeReceived->setText(
        QLocale().toString(QDateTime::fromMSecsSinceEpoch(m_shown->receivedMs), QLocale::LongFormat));
}

void frmMessage::renderHeader()
{
    const Mime::Message& message = *m_message;
    lblHeaderFrom->setText(addresses(message.from));
    lblHeaderTo->setText(addresses(message.to));
    lblHeaderCc->setText(addresses(message.cc));
    m_headerForm->setRowVisible(lblHeaderCc, !message.cc.empty());
    lblHeaderSubject->setText(utf8(message.subject));
    lblHeaderDate->setText(message.date.empty() ? fromLatin1(NoDateText) : utf8(message.date));
    QString all;
    for (const Mime::Header& header : message.headers)
        all += utf8(header.name) + QStringLiteral(": ") + utf8(header.value) + u'\n';
    txtAllHeaders->setPlainText(all);
}

void frmMessage::showAllHeaders(bool shown)
{
    txtAllHeaders->setVisible(shown);
}

void frmMessage::renderParts(const std::shared_ptr<const Mime::Document>& document)
{
    const Mime::Message& message = *m_message;
    // The remote content choice holds for one message only.
    chkRemoteContent->blockSignals(true);
    chkRemoteContent->setChecked(false);
    chkRemoteContent->blockSignals(false);
    lblRemoteRefused->hide();
    // Every picture comes from the one parse of the message on show. One the HTML refers to
    // may also be listed as an attachment by its sender.
    htmlBody->showMail(utf8(message.html), [document](const QString& contentId) -> std::optional<QByteArray> {
        const std::string wanted = contentId.toStdString();
        for (const auto* list : {&document->message().inlineParts, &document->message().attachments})
            for (const Mime::Part& part : *list)
                if (part.contentId == wanted)
                    if (auto bytes = document->partContent(part.partId))
                        return QByteArray(bytes->data(), qsizetype(bytes->size()));
        return std::nullopt;
    });
    txtTextBody->setPlainText(utf8(message.text));

    lstAttachments->clear();
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const Mime::Part& part = message.attachments[i];
        auto* item
            = new QTreeWidgetItem(lstAttachments, {safeFileName(part), utf8(part.contentType), sizeText(part.size)});
        item->setData(0, Qt::UserRole, qulonglong(i));
    }
    if (lstAttachments->topLevelItemCount() > 0)
        lstAttachments->setCurrentItem(lstAttachments->topLevelItem(0));
    tabParts->setTabText(tabParts->indexOf(m_attachmentsTab),
                         fromLatin1(AttachmentsTabCaption).arg(message.attachments.size()));

    treeStructure->clear();
    addStructure(treeStructure->invisibleRootItem(), message.root);
    treeStructure->expandAll();
    // Once, after filling: sizing to the contents on every change would measure each row anew.
    for (int column = 0; column < treeStructure->columnCount(); ++column)
        treeStructure->resizeColumnToContents(column);

    tabParts->setTabEnabled(tabParts->indexOf(m_htmlTab), !message.html.empty());
    tabParts->setTabEnabled(tabParts->indexOf(m_textTab), !message.text.empty() || message.html.empty());
    // Stepping keeps the attachments or the structure in view; a body tab shows the body there is.
    const QWidget* current = tabParts->currentWidget();
    if (current == m_htmlTab || current == m_textTab)
        tabParts->setCurrentWidget(message.html.empty() ? m_textTab : m_htmlTab);
}

std::optional<frmMessage::ChosenAttachment> frmMessage::selectedAttachment() const
{
    const QTreeWidgetItem* item = lstAttachments->currentItem();
    if (!item || !m_message || !m_shown)
        return std::nullopt;
    const auto index = item->data(0, Qt::UserRole).toULongLong();
    if (index >= m_message->attachments.size())
        return std::nullopt;
    const Mime::Part& part = m_message->attachments[index];
    return ChosenAttachment{m_shown->id, m_shown->raw, part.partId, safeFileName(part)};
}

std::optional<std::string> frmMessage::contentOf(const ChosenAttachment& chosen)
{
    auto content = Mime::partContent(*chosen.raw, chosen.partId);
    if (!content)
        msgBox(CannotReadPartText, MsgButtons::Ok, MsgIcon::Exclamation);
    return content;
}

namespace {

bool writeFile(const QString& path, const std::string& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size())
        && file.commit();
}

} // namespace

void frmMessage::cmdAttachmentSaveAs_Click()
{
    trapped("cmdAttachmentSaveAs_Click", [&] { saveAttachment(); });
}

void frmMessage::cmdAttachmentOpen_Click()
{
    trapped("cmdAttachmentOpen_Click", [&] { openAttachment(); });
}

// The file dialog lets events run: another message may be on show when it closes, and the one
// chosen may be gone.
void frmMessage::saveAttachment()
{
    const auto chosen = selectedAttachment();
    if (!chosen)
        return;
    const QString path
        = desktop().saveFileName(this, fromLatin1(SaveAttachmentTitle), chosen->fileName, fromLatin1(AllFilesFilter));
    if (path.isEmpty() || ChosenMessages::withId(*m_store, chosen->messageId).stillStored().empty())
        return;
    if (const auto content = contentOf(*chosen); content && !writeFile(path, *content))
        msgBox(CannotWriteText, MsgButtons::Ok, MsgIcon::Exclamation);
}

// The desktop's program gets a copy of its own: one folder per part keeps equal names apart.
void frmMessage::openAttachment()
{
    const auto chosen = selectedAttachment();
    if (!chosen)
        return;
    const auto content = contentOf(*chosen);
    if (!content)
        return;
    if (!m_openedCopies)
        m_openedCopies = std::make_unique<QTemporaryDir>();
    const QString folder = m_openedCopies->filePath(QString::number(chosen->messageId) + u'-' + utf8(chosen->partId));
    const QString path = QDir(folder).filePath(chosen->fileName);
    if (!m_openedCopies->isValid() || !QDir().mkpath(folder) || !writeFile(path, *content)) {
        msgBox(CannotWriteText, MsgButtons::Ok, MsgIcon::Exclamation);
        return;
    }
    // Read-only and never executable: the desktop opens it as a document, whatever its name.
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    desktop().openUrl(QUrl::fromLocalFile(path));
}
