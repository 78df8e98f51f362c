#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The envelope commands and the header block of an outgoing message.

// One line of the message text without its CR LF; Shown when the protocol log shows it.
struct HeaderLine {
    std::string text;
    bool shown = false;

    bool operator==(const HeaderLine&) const = default;
};

// The values the header block is made of.
struct MessageHeaderFields {
    std::string_view messageId{};  // without angle brackets
    std::string_view FromHeader{}; // as FromHeaderValue gives it
    std::string_view ToList{};     // as AddressListValue gives it
    std::string_view CcList{};
    std::string_view Subject{}; // as assigned; encoded here
    std::string_view ReplyToAddress{};
    std::string_view date{};
    std::int32_t EncodeType = 0;
    std::int32_t Priority = 3;
    std::string_view PriorityName{};
    bool Receipt = false;
    bool EightBitText = false;
};

// Every header line in order, up to the blank line that ends the block (not included).
std::vector<HeaderLine> composeHeaderLines(const MessageHeaderFields& fields);

// "Name" <address> entries, folded onto continuation lines; a missing display name is empty.
std::string addressListValue(std::span<const std::string> addresses, std::span<const std::string> displayNames);

// The From header's value: the display name (or the quoted address), then the address in brackets.
std::string fromHeaderValue(std::string_view from, std::string_view fromDisplayName);

// "X-Mailer" value: product name, version and build.
std::string mailerName();

// "MAIL FROM: <from>", with " AUTH=from" when the server offers that form.
std::string mailFromCommand(std::string_view from, bool authEqualsOffered);
std::string rcptToCommand(std::string_view address);

// What follows the first "@" of the sender, or the whole sender when it has none.
std::string senderDomain(std::string_view from);

// Pads with empty names or cuts to the number of addresses; an empty address list leaves them.
void fitDisplayNames(std::vector<std::string>& displayNames, std::size_t addressCount);
