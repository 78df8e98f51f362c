#include "ChaosRoutes.h"

#include <array>
#include <optional>

#include <QJsonDocument>

#include "ApiJson.h"
#include "ApiServer.h"
#include "HttpRequestParser.h"
#include "ChaosTriggers.h"

namespace {

constexpr const char* ChaosPath = "/api/v1/chaos";
constexpr const char* ErrorCodeKey = "ErrorCode";
constexpr const char* ProbabilityKey = "Probability";
constexpr const char* NotEnabledText = "Chaos is not enabled";
constexpr const char* NotAnObjectText
    = "the body must be a JSON object of steps, each {\"ErrorCode\": N, \"Probability\": N}";
constexpr const char* NotANumberText = "ErrorCode and Probability take whole numbers";
constexpr const char* BadCodeText = "error code must be between 400 and 599";
constexpr const char* BadProbabilityText = "probability must be between 0 and 100";

// A whole number, 0 when absent; nothing when it is another type or has a fraction.
std::optional<int> wholeNumber(const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return 0;
    const double number = value.toDouble(-1.5);
    if (!value.isDouble() || number != double(int(number)))
        return std::nullopt;
    return int(number);
}

void reply(HttpResponder& responder, const ChaosTriggers& chaos)
{
    responder.write(QJsonDocument(ChaosJson::triggers(chaos)).toJson(QJsonDocument::Compact),
                    QByteArrayLiteral("application/json"));
}

} // namespace

namespace ChaosJson {

QJsonObject triggers(const ChaosTriggers& chaos)
{
    QJsonObject object;
    for (ChaosStep step : ChaosTriggers::Steps) {
        const ChaosTrigger trigger = chaos.trigger(step);
        object.insert(QString::fromLatin1(ChaosTriggers::stepName(step)),
                      QJsonObject{{QLatin1String(ErrorCodeKey), trigger.errorCode},
                                  {QLatin1String(ProbabilityKey), trigger.probability}});
    }
    return object;
}

bool apply(const QByteArray& body, ChaosTriggers& chaos, std::string& error)
{
    const QJsonDocument document = QJsonDocument::fromJson(body.trimmed().isEmpty() ? QByteArray("{}") : body);
    if (!document.isObject()) {
        error = NotAnObjectText;
        return false;
    }
    std::array<ChaosTrigger, ChaosTriggers::Steps.size()> wanted;
    for (ChaosStep step : ChaosTriggers::Steps) {
        const QJsonValue value = ApiJson::member(document.object(), ChaosTriggers::stepName(step).data());
        if (!value.isUndefined() && !value.isNull() && !value.isObject()) {
            error = NotAnObjectText;
            return false;
        }
        const std::optional<int> code = wholeNumber(ApiJson::member(value.toObject(), ErrorCodeKey));
        const std::optional<int> probability = wholeNumber(ApiJson::member(value.toObject(), ProbabilityKey));
        if (!code || !probability)
            error = NotANumberText;
        else if (*code != 0 && !ChaosTriggers::validCode(*code))
            error = BadCodeText;
        else if (!ChaosTriggers::validProbability(*probability))
            error = BadProbabilityText;
        if (!error.empty())
            return false;
        wanted[std::size_t(step)] = {*code == 0 ? ChaosTriggers::defaultCode(step) : *code, *probability};
    }
    for (ChaosStep step : ChaosTriggers::Steps)
        chaos.set(step, wanted[std::size_t(step)]);
    return true;
}

} // namespace ChaosJson

void addChaosRoutes(ApiServer& api, ChaosTriggers& chaos)
{
    api.addRoute("GET", ChaosPath, [&chaos](const HttpRequest&, HttpResponder& responder) {
        if (!chaos.enabled())
            return writeError(responder, HttpStatus::BadRequest, NotEnabledText);
        reply(responder, chaos);
    });
    api.addRoute("PUT", ChaosPath, [&chaos](const HttpRequest& request, HttpResponder& responder) {
        if (!chaos.enabled())
            return writeError(responder, HttpStatus::BadRequest, NotEnabledText);
        std::string error;
        if (!ChaosJson::apply(QByteArray::fromStdString(request.body), chaos, error))
            return writeError(responder, HttpStatus::BadRequest, error.c_str());
        reply(responder, chaos);
    });
}
