#include "MailFiles.h"

#include <algorithm>
#include <ctime>
#include <iterator>

#include "MimeMessage.h"
#include "clsEmailStorage.h"

namespace MailFiles {
namespace {

// The sender of a "From " line when the envelope had none, as mail systems write it.
constexpr std::string_view NullSender = "MAILER-DAEMON";

// Calls line(text) for every line, its line end (LF or CR LF) removed; a last line without a
// line end counts too.
template <typename Line> void forEachLine(std::string_view bytes, const Line& line)
{
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view text = bytes.substr(0, end);
        if (text.ends_with('\r'))
            text.remove_suffix(1);
        line(text);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    }
}

// mboxrd: a line that would read as a separator, or as a quoted one, gains one more '>'.
bool isQuotedFromLine(std::string_view line)
{
    const std::size_t first = line.find_first_not_of('>');
    return first != std::string_view::npos && line.substr(first).starts_with("From ");
}

// The time as the "From " line writes it, asctime's form in UTC, whatever the locale.
std::string separatorDate(std::chrono::system_clock::time_point when)
{
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", Days[utc.tm_wday % 7], Months[utc.tm_mon % 12],
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900);
    return text;
}

// RFC 5322: a field name is one or more printable characters other than the colon.
bool isHeaderField(std::string_view line)
{
    const std::size_t colon = line.find(':');
    return colon != 0 && colon != std::string_view::npos
        && std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) { return c > ' ' && c < '\x7f'; });
}

// Mail starts with its header: fields, each perhaps folded onto further lines, up to the first empty
// line or the end. A picture, an empty file or a text does not.
bool startsWithHeader(std::string_view data)
{
    const std::string_view header = data.substr(0, data.find("\r\n\r\n"));
    bool lines = false;
    bool fields = true;
    forEachLine(header, [&](std::string_view line) {
        const bool folded = lines && (line.starts_with(' ') || line.starts_with('\t'));
        fields = fields && (folded || isHeaderField(line));
        lines = true;
    });
    return lines && fields;
}

std::string withoutAngles(std::string_view path)
{
    if (path.starts_with('<') && path.ends_with('>') && path.size() >= 2)
        path = path.substr(1, path.size() - 2);
    return std::string(path);
}

// Sender and recipients from the header fields, in the form the SMTP server stores them.
FileMessage withEnvelope(std::string data, std::string_view fallbackSender)
{
    const std::size_t headerEnd = data.find("\r\n\r\n");
    const Mime::Message header
        = Mime::parse(std::string_view(data).substr(0, headerEnd == std::string::npos ? data.size() : headerEnd + 2));
    FileMessage message;
    if (!header.from.empty())
        message.sender = "<" + header.from.front().address + ">";
    else if (!fallbackSender.empty())
        message.sender = "<" + std::string(fallbackSender) + ">";
    std::vector<std::string> recipients;
    for (const auto* list : {&header.to, &header.cc, &header.bcc})
        for (const Mime::Address& address : *list)
            recipients.push_back("<" + address.address + ">");
    message.recipients = clsEmailStorage::joinRecipients(recipients);
    message.data = std::move(data);
    return message;
}

std::string withCrlf(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 32);
    forEachLine(bytes, [&](std::string_view line) {
        out += line;
        out += "\r\n";
    });
    // A last line without a line end keeps having none.
    if (!bytes.empty() && !bytes.ends_with('\n'))
        out.resize(out.size() - 2);
    return out;
}

std::vector<FileMessage> readMbox(std::string_view bytes)
{
    std::vector<FileMessage> messages;
    std::string data, envelopeSender;
    bool inMessage = false, lastWasEmpty = true;
    const auto finish = [&] {
        // The empty line that ends an entry belongs to the file, not to the message.
        if (data.ends_with("\r\n\r\n"))
            data.resize(data.size() - 2);
        messages.push_back(withEnvelope(std::move(data), envelopeSender == NullSender ? "" : envelopeSender));
        data.clear();
    };
    forEachLine(bytes, [&](std::string_view line) {
        if (lastWasEmpty && line.starts_with("From ")) {
            if (inMessage)
                finish();
            inMessage = true;
            const std::string_view rest = line.substr(5);
            envelopeSender = std::string(rest.substr(0, rest.find(' ')));
            lastWasEmpty = false;
            return;
        }
        lastWasEmpty = line.empty();
        if (isQuotedFromLine(line) && line.starts_with('>'))
            line.remove_prefix(1);
        data += line;
        data += "\r\n";
    });
    if (inMessage)
        finish();
    return messages;
}

} // namespace

bool writeEml(const std::filesystem::path& path, std::string_view data)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    file.close();
    return !file.fail();
}

std::string mboxEntry(std::string_view envelopeSender, std::chrono::system_clock::time_point received,
                      std::string_view data)
{
    std::string sender = withoutAngles(envelopeSender);
    std::string entry
        = "From " + (sender.empty() ? std::string(NullSender) : sender) + " " + separatorDate(received) + "\n";
    entry.reserve(entry.size() + data.size() + 2);
    forEachLine(data, [&](std::string_view line) {
        if (isQuotedFromLine(line))
            entry += '>';
        entry += line;
        entry += '\n';
    });
    entry += '\n';
    return entry;
}

MboxWriter::MboxWriter(const std::filesystem::path& path) : m_file(path, std::ios::binary | std::ios::trunc)
{
}

void MboxWriter::append(std::string_view envelopeSender, std::chrono::system_clock::time_point received,
                        std::string_view data)
{
    const std::string entry = mboxEntry(envelopeSender, received, data);
    m_file.write(entry.data(), static_cast<std::streamsize>(entry.size()));
}

bool MboxWriter::finish()
{
    m_file.close();
    return !m_file.fail();
}

std::vector<FileMessage> readMailBytes(std::string_view bytes)
{
    if (bytes.starts_with("From ")) {
        std::vector<FileMessage> messages = readMbox(bytes);
        // The first message shows whether the file holds mail at all; the others are taken as they are.
        if (!messages.empty() && !startsWithHeader(messages.front().data))
            messages.clear();
        return messages;
    }
    std::string data = withCrlf(bytes);
    if (!startsWithHeader(data))
        return {};
    std::vector<FileMessage> messages;
    messages.push_back(withEnvelope(std::move(data), ""));
    return messages;
}

std::optional<std::vector<FileMessage>> readMailFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        return std::nullopt;
    return readMailBytes(bytes);
}

} // namespace MailFiles
