#include "ReleaseRoutes.h"

#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ApiJson.h"
#include "ApiServer.h"
#include "HttpRequestParser.h"
#include "HttpRouter.h"
#include "RelayService.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* ReleasePath = "/api/v1/message/{id}/release";
constexpr const char* ToKey = "To";
constexpr const char* NoRelayText = "release needs a relay: start the program with --relay URL --relay-allow REGEX";
constexpr const char* NoMessageText = "no such message";
constexpr const char* BadBodyText = "the body must be a JSON object with To a list of addresses";
constexpr const char* OkText = "ok";
constexpr std::size_t IdSegment = 3;
constexpr std::size_t MaxIdDigits = 20;

std::uint64_t idOf(const HttpRequest& request)
{
    const std::vector<std::string> segments = pathSegments(request.path);
    const std::string& id = segments.at(IdSegment);
    if (id.empty() || id.size() > MaxIdDigits || id.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    try {
        return std::stoull(id);
    } catch (const std::out_of_range&) {
        return 0;
    }
}

} // namespace

std::optional<std::vector<std::string>> releaseRecipients(const QByteArray& body, std::string& error)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    QJsonValue list = ApiJson::member(document.object(), ToKey);
    std::vector<std::string> recipients;
    for (const QJsonValue value : list.toArray()) {
        if (!value.isString())
            list = QJsonValue();
        recipients.push_back(value.toString().trimmed().toStdString());
    }
    if (!document.isObject() || !list.isArray()) {
        error = BadBodyText;
        return std::nullopt;
    }
    return recipients;
}

void addReleaseRoutes(ApiServer& api, const clsEmailStorage& store, RelayService* relay)
{
    api.addRoute("POST", ReleasePath, [&store, relay](const HttpRequest& request, HttpResponder& responder) {
        if (!relay)
            return writeError(responder, HttpStatus::BadRequest, NoRelayText);
        const std::uint64_t id = idOf(request);
        if (store.positionOfId(id) < 1)
            return writeError(responder, HttpStatus::NotFound, NoMessageText);
        std::string error;
        const std::optional<std::vector<std::string>> recipients
            = releaseRecipients(QByteArray::fromStdString(request.body), error);
        if (!recipients)
            return writeError(responder, HttpStatus::BadRequest, error.c_str());
        // The answer waits for the relay; a client that leaves meanwhile is simply not answered.
        auto held = std::make_shared<HttpResponder>(std::move(responder));
        const auto done = [held](const RelayResult& result) {
            if (result.sent)
                held->write(QByteArray(OkText), QByteArrayLiteral("text/plain; charset=utf-8"));
            else
                writeError(*held, HttpStatus::BadGateway, result.error.c_str());
        };
        if (!relay->release(store, id, *recipients, done, error))
            writeError(*held, HttpStatus::BadRequest, error.c_str());
    });
}
