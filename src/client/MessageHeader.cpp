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
    return Concat({"\"", text, "\""});
}

} // namespace

std::vector<HeaderLine> ComposeHeaderLines(const MessageHeaderFields& f)
{
    std::vector<HeaderLine> lines;
    auto add = [&lines](std::string text, bool shown) { lines.push_back({std::move(text), shown}); };
    add(Concat({MessageIdField, f.MessageId, ">"}), false);
    add(Concat({FromField, f.FromHeader}), true);
    // Always, even empty: copies alone still give the message a To line.
    add(Concat({ToField, f.ToList}), true);
    if (!f.CcList.empty())
        add(Concat({CcField, f.CcList}), true);
    add(Concat({SubjectField, EncodeHeaderText(singleLine(f.Subject), false)}), true);
    if (!f.ReplyToAddress.empty())
        add(Concat({ReplyToField, singleLine(f.ReplyToAddress), ">"}), true);
    add(Concat({DateField, f.Date}), true);
    if (f.EncodeType != MimeEncoding)
        return lines;
    add(std::string(MimeVersionLine), true);
    if (f.Priority != NormalPriority) {
        add(Concat({PriorityField, std::to_string(f.Priority)}), false);
        add(Concat({PriorityNameField, f.PriorityName}), false);
    }
    add(Concat({MailerField, MailerName()}), false);
    if (f.Receipt)
        add(Concat({ReceiptField, f.FromHeader}), false);
    add(std::string(ContentTypeLine), true);
    add(std::string(CharsetLine), true);
    add(Concat({TransferEncodingField, f.EightBitText ? EightBit : SevenBit}), true);
    return lines;
}

std::string AddressListValue(std::span<const std::string> addresses, std::span<const std::string> displayNames)
{
    std::string list;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::string name = i < displayNames.size() ? singleLine(displayNames[i]) : std::string();
        const std::string address = singleLine(addresses[i]);
        list += name.empty() ? quoted(TrimBlanks(address)) : EncodeHeaderText(name, true);
        list += Concat({" <", address, ">"});
        if (i + 1 < addresses.size())
            list += FoldedListSeparator;
    }
    return list;
}

std::string FromHeaderValue(std::string_view from, std::string_view fromDisplayName)
{
    const std::string address = singleLine(from);
    const std::string name = singleLine(fromDisplayName);
    const std::string shown = TrimBlanks(name).empty() ? quoted(address) : EncodeHeaderText(name, true);
    return Concat({shown, " <", address, ">"});
}

std::string MailerName()
{
    return std::string(ProductInfo::ProductName) + std::to_string(ProductInfo::VersionMajor) + "."
        + std::to_string(ProductInfo::VersionMinor) + " (build " + std::to_string(ProductInfo::VersionRevision) + ")";
}

std::string MailFromCommand(std::string_view from, bool authEqualsOffered)
{
    const std::string address = singleLine(from);
    std::string command = Concat({MailFromStart, address, ">"});
    if (authEqualsOffered)
        command += Concat({AuthParameterStart, address});
    return command;
}

std::string RcptToCommand(std::string_view address)
{
    return Concat({RcptToStart, singleLine(address), ">"});
}

std::string SenderDomain(std::string_view from)
{
    const std::size_t at = from.find('@');
    return singleLine(at == std::string_view::npos ? from : from.substr(at + 1));
}

void FitDisplayNames(std::vector<std::string>& displayNames, std::size_t addressCount)
{
    if (addressCount > 0)
        displayNames.resize(addressCount);
}
