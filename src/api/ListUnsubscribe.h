#pragma once

#include <string>
#include <string_view>
#include <vector>

// A List-Unsubscribe field (RFC 2369) read as the peer API reads it: at most one mailto: and one
// HTTP(S) link, each in angle brackets, separated by commas; comments in parentheses ignored.
struct UnsubscribeLinks {
    std::vector<std::string> links; // in the field's order
    std::string errors;             // every fault found, joined by ", "; empty when none
};

UnsubscribeLinks parseListUnsubscribe(std::string_view field);

// A header field's name in canonical form, as HTTP's header maps key them: the first letter and
// each letter after a '-' upper case, the others lower case (Message-ID is Message-Id). A name
// with a space is kept as written.
std::string canonicalHeaderName(std::string_view name);
