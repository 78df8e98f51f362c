#include "MessageHeader.h"

#include "Latin1Text.h"
#include "MessageComposition.h"
#include "ProductInfo.h"

namespace {

constexpr std::string_view FoldedListSeparator = ", \r\n\t";
constexpr std::int32_t NormalPriority = 3;
constexpr std::int32_t MimeEncoding = 0;

constexpr std::string_view MessageIdField = "Message-ID: <";
constexpr std::string_view FromField = "From: ";
constexpr std::string_view ToField = "To: ";
constexpr std::string_view CcField = "Cc: ";
constexpr std::string_view SubjectField = "Subject: ";
constexpr std::string_view ReplyToField = "Reply-to: <";
constexpr std::string_view DateField = "Date: ";
constexpr std::string_view MimeVersionLine = "MIME-Version: 1.0";
constexpr std::string_view PriorityField = "X-Priority: ";
constexpr std::string_view PriorityNameField = "X-MSMail-Priority: ";
constexpr std::string_view MailerField = "X-Mailer: ";
constexpr std::string_view ReceiptField = "Disposition-Notification-To: ";
constexpr std::string_view ContentTypeLine = "Content-Type: text/plain;";
constexpr std::string_view CharsetLine = "\tcharset=\"iso-8859-1\"";
constexpr std::string_view TransferEncodingField = "Content-Transfer-Encoding: ";
constexpr std::string_view EightBit = "8bit";
constexpr std::string_view SevenBit = "7bit";

constexpr std::string_view MailFromStart = "MAIL FROM: <";
constexpr std::string_view AuthParameterStart = " AUTH=";
constexpr std::string_view RcptToStart = "RCPT TO: <";

// A value may hold line breaks (a subject typed in a text box, a name taken from a file); written
// as they are, they would end the header line or command and start one the value dictates.
std::string singleLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // CR LF gives one blank, from its LF
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    return line;
}

std::string quoted(std::string_view text)
{
    return concat({"\"", text, "\""});
}

} // namespace

std::vector<HeaderLine> composeHeaderLines(const MessageHeaderFields& f)
{
    std::vector<HeaderLine> lines;
    auto add = [&lines](std::string text, bool shown) { lines.push_back({std::move(text), shown}); };
    add(concat({MessageIdField, f.messageId, ">"}), false);
    add(concat({FromField, f.FromHeader}), true);
    // Always, even empty: copies alone still give the message a To line.
    add(concat({ToField, f.ToList}), true);
    if (!f.CcList.empty())
        add(concat({CcField, f.CcList}), true);
    add(concat({SubjectField, EncodeHeaderText(singleLine(f.Subject), false)}), true);
    if (!f.ReplyToAddress.empty())
        add(concat({ReplyToField, singleLine(f.ReplyToAddress), ">"}), true);
    add(concat({DateField, f.date}), true);
    if (f.EncodeType != MimeEncoding)
        return lines;
    add(std::string(MimeVersionLine), true);
    if (f.Priority != NormalPriority) {
        add(concat({PriorityField, std::to_string(f.Priority)}), false);
        add(concat({PriorityNameField, f.PriorityName}), false);
    }
    add(concat({MailerField, mailerName()}), false);
    if (f.Receipt)
        add(concat({ReceiptField, f.FromHeader}), false);
    add(std::string(ContentTypeLine), true);
    add(std::string(CharsetLine), true);
    add(concat({TransferEncodingField, f.EightBitText ? EightBit : SevenBit}), true);
    return lines;
}

std::string addressListValue(std::span<const std::string> addresses, std::span<const std::string> displayNames)
{
    std::string list;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::string name = i < displayNames.size() ? singleLine(displayNames[i]) : std::string();
        const std::string address = singleLine(addresses[i]);
        list += name.empty() ? quoted(trimBlanks(address)) : EncodeHeaderText(name, true);
        list += concat({" <", address, ">"});
        if (i + 1 < addresses.size())
            list += FoldedListSeparator;
    }
    return list;
}

std::string fromHeaderValue(std::string_view from, std::string_view fromDisplayName)
{
    const std::string address = singleLine(from);
    const std::string name = singleLine(fromDisplayName);
    const std::string shown = trimBlanks(name).empty() ? quoted(address) : EncodeHeaderText(name, true);
    return concat({shown, " <", address, ">"});
}

std::string mailerName()
{
    return std::string(ProductInfo::ProductName) + std::to_string(ProductInfo::VersionMajor) + "."
        + std::to_string(ProductInfo::VersionMinor) + " (build " + std::to_string(ProductInfo::VersionRevision) + ")";
}

std::string mailFromCommand(std::string_view from, bool authEqualsOffered)
{
    const std::string address = singleLine(from);
    std::string command = concat({MailFromStart, address, ">"});
    if (authEqualsOffered)
        command += concat({AuthParameterStart, address});
    return command;
}

std::string rcptToCommand(std::string_view address)
{
    return concat({RcptToStart, singleLine(address), ">"});
}

std::string senderDomain(std::string_view from)
{
    const std::size_t at = from.find('@');
    return singleLine(at == std::string_view::npos ? from : from.substr(at + 1));
}

void fitDisplayNames(std::vector<std::string>& displayNames, std::size_t addressCount)
{
    if (addressCount > 0)
        displayNames.resize(addressCount);
}
