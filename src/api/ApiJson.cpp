#include "ApiJson.h"

#include <algorithm>
#include <array>
#include <chrono>

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>

#include "JsonText.h"
#include "ListUnsubscribe.h"
#include "MimeDocument.h"
#include "clsEmailStorage.h"

namespace ApiJson {
namespace {

QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The envelope is kept as it came off the wire.
QString wire(const std::string& text)
{
    return utf8(envelopeText(text));
}

QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString receivedTime(std::chrono::system_clock::time_point received)
{
    const auto since = received.time_since_epoch();
    return isoTime(
        QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(since).count(), Qt::UTC));
}

QString receivedTime(const clsEmailStorage& store, std::int16_t position)
{
    return receivedTime(store.emailReceived(position));
}

// The Date field when it reads as one, with the offset it was written with; else the arrival.
QString messageTime(const clsEmailStorage& store, std::int16_t position, const std::optional<Mime::DateTime>& date)
{
    if (!date)
        return receivedTime(store, position);
    if (date->offsetMinutes == 0)
        return isoTime(QDateTime::fromSecsSinceEpoch(date->secondsSinceEpoch, Qt::UTC));
    return QDateTime::fromSecsSinceEpoch(date->secondsSinceEpoch, Qt::OffsetFromUTC, date->offsetMinutes * 60)
        .toString(Qt::ISODateWithMs);
}

QJsonObject address(const Mime::Address& value)
{
    return QJsonObject{{QStringLiteral("Name"), utf8(value.name)}, {QStringLiteral("Address"), utf8(value.address)}};
}

QJsonArray addresses(const std::vector<Mime::Address>& values)
{
    QJsonArray array;
    for (const Mime::Address& value : values)
        array.append(address(value));
    return array;
}

// The envelope's sender without its angle brackets.
std::string envelopeSender(std::string sender)
{
    if (sender.size() >= 2 && sender.front() == '<' && sender.back() == '>')
        sender = sender.substr(1, sender.size() - 2);
    return sender;
}

std::string envelopeSender(const clsEmailStorage& store, std::int16_t position)
{
    return envelopeSender(store.EmailFrom(position));
}

// The From field's first address; a message without one shows its envelope sender.
QJsonObject sender(const std::string& envelopeFrom, const std::vector<Mime::Address>& from)
{
    if (!from.empty())
        return address(from.front());
    return address(Mime::Address{{}, envelopeSender(envelopeFrom)});
}

QJsonObject unsubscribe(const Mime::Message& message)
{
    const std::vector<std::string> field = Mime::headerValues(message, "List-Unsubscribe");
    if (field.empty())
        return QJsonObject{{QStringLiteral("Header"), QString()},
                           {QStringLiteral("HeaderPost"), QString()},
                           {QStringLiteral("Links"), QJsonArray()},
                           {QStringLiteral("Errors"), QString()}};
    const std::vector<std::string> post = Mime::headerValues(message, "List-Unsubscribe-Post");
    const UnsubscribeLinks parsed = parseListUnsubscribe(field.front());
    QJsonArray links;
    for (const std::string& link : parsed.links)
        links.append(utf8(link));
    return QJsonObject{{QStringLiteral("Header"), utf8(field.front())},
                       {QStringLiteral("HeaderPost"), post.empty() ? QString() : utf8(post.front())},
                       {QStringLiteral("Links"), links},
                       {QStringLiteral("Errors"), utf8(parsed.errors)}};
}

QString hex(QByteArrayView data, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
}

// Every part's checksums from the one parse: the work is bounded by the parse's bounds
// (MimeBounds.h) and the bytes by the message's size.
QJsonArray attachments(const std::vector<Mime::Part>& parts, const Mime::Document& document)
{
    QJsonArray array;
    for (const Mime::Part& part : parts) {
        const std::string content = document.partContent(part.partId).value_or(std::string());
        const QByteArrayView bytes(content.data(), qsizetype(content.size()));
        array.append(QJsonObject{
            {QStringLiteral("PartID"), utf8(part.partId)},
            {QStringLiteral("FileName"), utf8(part.fileName)},
            {QStringLiteral("ContentType"), utf8(part.contentType)},
            {QStringLiteral("ContentID"), utf8(part.contentId)},
            {QStringLiteral("Size"), double(part.size)},
            {QStringLiteral("Checksums"),
             QJsonObject{{QStringLiteral("MD5"), hex(bytes, QCryptographicHash::Md5)},
                         {QStringLiteral("SHA1"), hex(bytes, QCryptographicHash::Sha1)},
                         {QStringLiteral("SHA256"), hex(bytes, QCryptographicHash::Sha256)}}},
        });
    }
    return array;
}

// Address lists that were cut say how many addresses they left out: {"Omitted": {"To": 249900}}.
void addOmitted(QJsonObject& object, const std::array<std::pair<const char*, std::size_t>, 4>& leftOut)
{
    QJsonObject omitted;
    for (const auto& [name, count] : leftOut)
        if (count > 0)
            omitted.insert(QLatin1String(name), double(count));
    if (!omitted.isEmpty())
        object.insert(QStringLiteral("Omitted"), omitted);
}

} // namespace

QJsonObject listItem(const clsEmailStorage& store, MessageCatalog& catalog, std::int16_t position)
{
    const std::shared_ptr<const MessageFacts> facts = catalog.facts(position);
    return listItem(entryOf(store, position), *facts);
}

ListingEntry entryOf(const clsEmailStorage& store, std::int16_t position)
{
    return ListingEntry{store.emailId(position),       store.emailRead(position),     store.EmailFrom(position),
                        store.emailAuthUser(position), store.emailReceived(position), store.emailBodyShared(position)};
}

QJsonObject listItem(const ListingEntry& entry, const MessageFacts& facts)
{
    QJsonObject item{
        {QStringLiteral("ID"), QString::fromStdString(MessageCatalog::idText(entry.id))},
        {QStringLiteral("MessageID"), utf8(facts.messageId)},
        {QStringLiteral("Read"), entry.read},
        {QStringLiteral("From"), sender(entry.envelopeFrom, facts.from.first)},
        {QStringLiteral("To"), addresses(facts.to.first)},
        {QStringLiteral("Cc"), addresses(facts.cc.first)},
        {QStringLiteral("Bcc"), addresses(facts.bcc.first)},
        {QStringLiteral("ReplyTo"), addresses(facts.replyTo.first)},
        {QStringLiteral("Subject"), utf8(facts.subject)},
        {QStringLiteral("Created"), receivedTime(entry.received)},
        {QStringLiteral("Tags"), QJsonArray()},
        {QStringLiteral("Size"), entry.body ? double(entry.body->size()) : 0.0},
        {QStringLiteral("Attachments"), facts.attachments},
        {QStringLiteral("Snippet"), utf8(facts.snippet)},
        {QStringLiteral("Username"), wire(entry.authUser)},
    };
    const auto left = [](const ListedAddresses& field) { return field.count - field.first.size(); };
    addOmitted(
        item,
        {{{"To", left(facts.to)}, {"Cc", left(facts.cc)}, {"Bcc", left(facts.bcc)}, {"ReplyTo", left(facts.replyTo)}}});
    return item;
}

namespace {

void appendAddress(std::string& out, const Mime::Address& value)
{
    out += '{';
    JsonText::appendKey(out, "Address");
    JsonText::appendString(out, value.address);
    out += ',';
    JsonText::appendKey(out, "Name");
    JsonText::appendString(out, value.name);
    out += '}';
}

void appendAddresses(std::string& out, const std::vector<Mime::Address>& values)
{
    out += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        appendAddress(out, values[i]);
    }
    out += ']';
}

void appendDigits(std::string& out, unsigned value, int width)
{
    char digits[10];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        digits[i] = char('0' + value % 10);
    out.append(digits, std::size_t(width));
}

// receivedTime's text (ISO 8601 in UTC, with milliseconds) without a QDateTime, which costs more
// than the rest of an item. Times Qt writes otherwise go to Qt: before 1970, and past the year
// 9999 on a clock that holds them.
void appendReceivedTime(std::string& out, std::chrono::system_clock::time_point received)
{
    using namespace std::chrono;
    const auto since = duration_cast<milliseconds>(received.time_since_epoch());
    const auto days = floor<std::chrono::days>(since);
    const year_month_day date{sys_days(days)};
    if (since.count() < 0 || date.year() > year(9999)) {
        JsonText::appendString(out, receivedTime(received).toStdString());
        return;
    }
    const hh_mm_ss time(since - days);
    out += '"';
    appendDigits(out, unsigned(int(date.year())), 4);
    out += '-';
    appendDigits(out, unsigned(date.month()), 2);
    out += '-';
    appendDigits(out, unsigned(date.day()), 2);
    out += 'T';
    appendDigits(out, unsigned(time.hours().count()), 2);
    out += ':';
    appendDigits(out, unsigned(time.minutes().count()), 2);
    out += ':';
    appendDigits(out, unsigned(time.seconds().count()), 2);
    out += '.';
    appendDigits(out, unsigned(time.subseconds().count()), 3);
    out += "Z\"";
}

// As addOmitted: the cut lists by name, in the keys' order; nothing when none was cut.
void appendOmitted(std::string& out, const MessageFacts& facts)
{
    const std::array<std::pair<const char*, const ListedAddresses*>, 4> fields{
        {{"Bcc", &facts.bcc}, {"Cc", &facts.cc}, {"ReplyTo", &facts.replyTo}, {"To", &facts.to}}};
    bool any = false;
    for (const auto& [name, field] : fields) {
        if (field->count <= field->first.size())
            continue;
        out += any ? "," : ",\"Omitted\":{";
        any = true;
        JsonText::appendKey(out, name);
        JsonText::appendNumber(out, field->count - field->first.size());
    }
    if (any)
        out += '}';
}

} // namespace

// Keys in QJsonObject's order (sorted), as listItem's object prints.
void appendListItem(std::string& out, const ListingEntry& entry, const MessageFacts& facts)
{
    using JsonText::appendKey, JsonText::appendString;
    out += '{';
    appendKey(out, "Attachments");
    JsonText::appendNumber(out, std::uint64_t(std::max(facts.attachments, 0)));
    out += ",\"Bcc\":";
    appendAddresses(out, facts.bcc.first);
    out += ",\"Cc\":";
    appendAddresses(out, facts.cc.first);
    out += ",\"Created\":";
    appendReceivedTime(out, entry.received);
    out += ",\"From\":";
    if (!facts.from.first.empty())
        appendAddress(out, facts.from.first.front());
    else
        appendAddress(out, Mime::Address{{}, envelopeSender(entry.envelopeFrom)});
    out += ",\"ID\":";
    appendString(out, MessageCatalog::idText(entry.id));
    out += ",\"MessageID\":";
    appendString(out, facts.messageId);
    appendOmitted(out, facts);
    out += entry.read ? ",\"Read\":true" : ",\"Read\":false";
    out += ",\"ReplyTo\":";
    appendAddresses(out, facts.replyTo.first);
    out += ",\"Size\":";
    JsonText::appendNumber(out, entry.body ? entry.body->size() : 0);
    out += ",\"Snippet\":";
    appendString(out, facts.snippet);
    out += ",\"Subject\":";
    appendString(out, facts.subject);
    out += ",\"Tags\":[],\"To\":";
    appendAddresses(out, facts.to.first);
    out += ",\"Username\":";
    appendString(out, envelopeText(entry.authUser));
    out += '}';
}

namespace {

QJsonObject pageOf(const clsEmailStorage& store, MessageCatalog& catalog, const std::vector<std::int16_t>& shown,
                   std::size_t matchCount, std::size_t unreadMatches, std::size_t start)
{
    QJsonArray messages;
    for (std::int16_t position : shown)
        messages.append(listItem(store, catalog, position));
    const auto total = static_cast<std::size_t>(store.Count());
    return QJsonObject{
        {QStringLiteral("total"), double(total)},
        {QStringLiteral("unread"), double(total - store.readCount())},
        {QStringLiteral("messages_count"), double(matchCount)},
        {QStringLiteral("messages_unread"), double(unreadMatches)},
        {QStringLiteral("start"), double(start)},
        {QStringLiteral("count"), messages.size()},
        {QStringLiteral("tags"), QJsonArray()},
        {QStringLiteral("messages"), messages},
    };
}

} // namespace

QJsonObject page(const clsEmailStorage& store, MessageCatalog& catalog, const std::vector<std::int16_t>& matches,
                 std::size_t start, std::size_t limit)
{
    std::vector<std::int16_t> shown;
    std::size_t unreadMatches = 0;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        if (!store.emailRead(matches[i]))
            ++unreadMatches;
        if (i >= start && i - start < limit)
            shown.push_back(matches[i]);
    }
    return pageOf(store, catalog, shown, matches.size(), unreadMatches, start);
}

QJsonObject listPage(const clsEmailStorage& store, MessageCatalog& catalog, std::size_t start, std::size_t limit)
{
    // Costs the page, not the store: twenty clients polling a full store must not starve the capture.
    const auto total = static_cast<std::size_t>(store.Count());
    std::vector<std::int16_t> shown;
    for (std::size_t i = start; i < total && i - start < limit; ++i)
        shown.push_back(static_cast<std::int16_t>(total - i));
    return pageOf(store, catalog, shown, total, total - store.readCount(), start);
}

QJsonObject summary(clsEmailStorage& store, std::int16_t position)
{
    const std::string& raw = store.EmailBody(position);
    const Mime::Document document(store.emailBodyShared(position));
    const Mime::Message& message = document.message();
    QJsonObject object{
        {QStringLiteral("ID"), QString::fromStdString(MessageCatalog::idText(store.emailId(position)))},
        {QStringLiteral("MessageID"), utf8(message.messageId)},
        {QStringLiteral("From"), sender(store.EmailFrom(position), message.from)},
        {QStringLiteral("To"), addresses(message.to)},
        {QStringLiteral("Cc"), addresses(message.cc)},
        {QStringLiteral("Bcc"), addresses(blindCopies(message, store.EmailTo(position)))},
        {QStringLiteral("ReplyTo"), addresses(message.replyTo)},
        {QStringLiteral("ReturnPath"), wire(envelopeSender(store, position))},
        {QStringLiteral("Subject"), utf8(message.subject)},
        {QStringLiteral("Date"), messageTime(store, position, message.sentAt)},
        {QStringLiteral("Tags"), QJsonArray()},
        {QStringLiteral("Username"), wire(store.emailAuthUser(position))},
        {QStringLiteral("Text"), utf8(readerText(message))},
        {QStringLiteral("HTML"), utf8(message.html)},
        {QStringLiteral("Size"), double(raw.size())},
        {QStringLiteral("Inline"), attachments(message.inlineParts, document)},
        {QStringLiteral("Attachments"), attachments(message.attachments, document)},
        {QStringLiteral("ListUnsubscribe"), unsubscribe(message)},
    };
    const Mime::AddressesLeftOut& left = message.addressesLeftOut;
    addOmitted(object, {{{"To", left.to}, {"Cc", left.cc}, {"Bcc", left.bcc}, {"ReplyTo", left.replyTo}}});
    store.markEmailRead(store.emailId(position));
    return object;
}

QJsonObject headers(const Mime::Message& message)
{
    QJsonObject object;
    for (const Mime::Header& header : message.headers) {
        const QString name = utf8(canonicalHeaderName(header.name));
        QJsonArray values = object.value(name).toArray();
        values.append(utf8(header.value));
        object.insert(name, values);
    }
    return object;
}

QJsonObject error(const char* text)
{
    return QJsonObject{{QStringLiteral("Error"), QString::fromUtf8(text)}};
}

QJsonValue member(const QJsonObject& object, const char* name)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key().compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return it.value();
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace ApiJson
