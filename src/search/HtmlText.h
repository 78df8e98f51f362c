#pragma once

#include <string>
#include <string_view>

namespace Search {

// The text a reader sees in an HTML mail, for mail that has no text part of its own: block
// elements as line breaks (paragraphs, headings and lists as blank lines, list items with "* "),
// entities decoded, scripts, styles and the document's head dropped, and each link's target
// after its text as "text ( target )" (mailto: dropped; not repeated when it is the text).
// Linear in the HTML's size, whatever it holds.
std::string htmlToText(std::string_view html);

} // namespace Search
