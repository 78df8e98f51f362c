#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <QString>
#include <QUrlQuery>

#include "WebAnswer.h"

class clsEmailStorage;

// What a browser shows of one message beyond the API's JSON: its HTML as a document of its own
// that runs nothing and fetches nothing from elsewhere, its text, its envelope and its structure.
namespace MessageView {

// GET /view/{ID}.html (with remote=1 it may fetch pictures, styles and fonts from the network),
// /view/{ID}.txt, /api/v1/message/{ID}/envelope and /api/v1/message/{ID}/structure; nothing for
// any other path. locate gives the position of a message id ("latest" included), 0 for none.
std::optional<WebAnswer> answer(const clsEmailStorage& store,
                                const std::function<std::int16_t(const std::string&)>& locate, const QString& path,
                                const QUrlQuery& query);

// The message's HTML with every cid: reference that partUrl resolves (given the Content-ID,
// percent-decoded) replaced by the URL it gives, and links sent to a new page.
std::string htmlDocument(std::string_view html, const std::function<std::string(const std::string&)>& partUrl);

} // namespace MessageView
