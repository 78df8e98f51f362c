#include "SendRequest.h"

#include <array>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ApiJson.h"

namespace {

constexpr const char* NotObjectFormat = "the body must be a JSON object: %1";
constexpr const char* WrongTypeFormat = "%1 must be %2";
constexpr const char* BadAddressFormat = "invalid %1 address: %2";
constexpr const char* NoFromText = "error building message: from not set";
constexpr const char* NoRecipientsText = "error building message: no recipients (to, cc, bcc) set";
constexpr const char* ForbiddenHeaderFormat = "cannot overwrite header: \"%1\"";
constexpr const char* BadBase64Format = "error decoding base64 attachment \"%1\": illegal base64 data";
constexpr const char* BadHeaderFormat
    = "cannot write header \"%1\": its name must have no blank or colon, its value a text on one line";
constexpr const char* AnObject = "an object";
constexpr const char* AList = "a list";
constexpr const char* AText = "a string";

// Fields the request's own members write: a header of that name would contradict them.
constexpr std::array<const char*, 9> OwnFields{"To",   "From",    "Cc",           "Bcc",         "Reply-To",
                                               "Date", "Subject", "Content-Type", "Mime-Version"};

using ApiJson::member;

bool absent(const QJsonValue& value)
{
    return value.isUndefined() || value.isNull();
}

class Reader {
public:
    explicit Reader(std::string& error) : m_error(error) { }

    bool failed() const { return !m_error.empty(); }
    void fail(const QString& text)
    {
        if (m_error.empty())
            m_error = text.toStdString();
    }
    void wrongType(const char* name, const char* what)
    {
        fail(QString::fromLatin1(WrongTypeFormat).arg(QLatin1String(name), QLatin1String(what)));
    }

    std::string text(const QJsonObject& object, const char* name)
    {
        const QJsonValue value = member(object, name);
        if (!absent(value) && !value.isString())
            wrongType(name, AText);
        return value.toString().toStdString();
    }

    // One address: the address alone, or nothing (and the error) when it is none.
    std::string address(const char* field, const std::string& text)
    {
        const std::optional<std::string> address = Mime::addressOf(text);
        if (!address)
            fail(QString::fromLatin1(BadAddressFormat).arg(QLatin1String(field), QString::fromStdString(text)));
        return address.value_or(std::string());
    }

    std::vector<Mime::Composition::Mailbox> mailboxes(const QJsonObject& object, const char* name, const char* field)
    {
        std::vector<Mime::Composition::Mailbox> boxes;
        const QJsonValue value = member(object, name);
        if (absent(value))
            return boxes;
        if (!value.isArray())
            wrongType(name, AList);
        for (const auto& entry : value.toArray()) {
            if (!entry.isObject())
                wrongType(name, AList);
            const std::string email = text(entry.toObject(), "Email");
            boxes.push_back({text(entry.toObject(), "Name"), address(field, email)});
        }
        return boxes;
    }

private:
    std::string& m_error;
};

std::vector<Mime::Composition::File> files(Reader& reader, const QJsonObject& object)
{
    std::vector<Mime::Composition::File> result;
    const QJsonValue value = member(object, "Attachments");
    if (!absent(value) && !value.isArray())
        reader.wrongType("Attachments", AList);
    for (const auto& entry : value.toArray()) {
        const QJsonObject file = entry.toObject();
        Mime::Composition::File out{{}, {}, reader.text(file, "ContentType"), reader.text(file, "ContentID")};
        out.fileName = reader.text(file, "Filename");
        // A data: URL carries its base64 after the last comma.
        QByteArray content = QByteArray::fromStdString(reader.text(file, "Content"));
        content = content.mid(content.lastIndexOf(',') + 1);
        content.replace('\r', QByteArray()).replace('\n', QByteArray());
        const auto decoded = QByteArray::fromBase64Encoding(content, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            reader.fail(QString::fromLatin1(BadBase64Format).arg(QString::fromStdString(out.fileName)));
        out.content = decoded.decoded.toStdString();
        result.push_back(std::move(out));
    }
    return result;
}

void headers(Reader& reader, const QJsonObject& object, Mime::Composition& message)
{
    const QJsonValue value = member(object, "Headers");
    if (absent(value))
        return;
    if (!value.isObject())
        return reader.wrongType("Headers", AnObject);
    const QJsonObject fields = value.toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        for (const char* own : OwnFields)
            if (it.key().compare(QLatin1String(own), Qt::CaseInsensitive) == 0)
                reader.fail(QString::fromLatin1(ForbiddenHeaderFormat).arg(it.key()));
        // A name must be a header field's name, and neither may break the header's lines.
        const std::string name = it.key().toStdString();
        const bool validName = !name.empty() && name.find_first_of(": \t\r\n") == std::string::npos;
        if (!validName || !it.value().isString() || it.value().toString().contains(QLatin1Char('\n'))
            || it.value().toString().contains(QLatin1Char('\r')))
            reader.fail(QString::fromLatin1(BadHeaderFormat).arg(it.key()));
        message.headers.emplace_back(name, it.value().toString().toStdString());
    }
}

} // namespace

std::optional<SendRequest> readSendRequest(QByteArrayView body, std::string& error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &parseError);
    if (!document.isObject()) {
        error = QString::fromLatin1(NotObjectFormat).arg(parseError.errorString()).toStdString();
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    Reader reader(error);
    SendRequest request;
    Mime::Composition& message = request.message;
    const QJsonValue from = member(object, "From");
    if (!absent(from) && !from.isObject())
        reader.wrongType("From", AnObject);
    const std::string fromEmail = reader.text(from.toObject(), "Email");
    message.to = reader.mailboxes(object, "To", "To");
    message.cc = reader.mailboxes(object, "Cc", "Cc");
    message.replyTo = reader.mailboxes(object, "ReplyTo", "Reply-To");
    std::vector<std::string> bcc;
    const QJsonValue bccValue = member(object, "Bcc");
    if (!absent(bccValue) && !bccValue.isArray())
        reader.wrongType("Bcc", AList);
    for (const auto& entry : bccValue.toArray())
        bcc.push_back(reader.address("Bcc", entry.toString().toStdString()));
    message.subject = reader.text(object, "Subject");
    message.text = reader.text(object, "Text");
    message.html = reader.text(object, "HTML");
    message.files = files(reader, object);
    headers(reader, object, message);
    if (fromEmail.empty())
        reader.fail(QString::fromLatin1(NoFromText));
    else
        message.from = {reader.text(from.toObject(), "Name"), reader.address("From", fromEmail)};
    if (message.to.empty() && message.cc.empty() && bcc.empty())
        reader.fail(QString::fromLatin1(NoRecipientsText));
    if (reader.failed())
        return std::nullopt;
    request.sender = message.from.address;
    for (const auto* boxes : {&message.to, &message.cc})
        for (const Mime::Composition::Mailbox& box : *boxes)
            request.recipients.push_back(box.address);
    request.recipients.insert(request.recipients.end(), bcc.begin(), bcc.end());
    return request;
}
