#include "BasicAuth.h"

namespace {

const QByteArray Scheme = QByteArrayLiteral("basic ");
const QByteArray Challenge = QByteArrayLiteral("Basic realm=\"Quellpost\", charset=\"UTF-8\"");
constexpr const char* ChallengeText = "{\"Error\":\"a user name and password are needed\"}";

} // namespace

bool BasicAuth::allows(const QByteArray& authorization)
{
    if (!authorization.left(Scheme.size()).toLower().startsWith(Scheme))
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(authorization.mid(Scheme.size()).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (!decoded || colon < 0)
        return false;
    return m_users.accepts(decoded.decoded.left(colon).toStdString(), decoded.decoded.mid(colon + 1).toStdString());
}

WebAnswer BasicAuth::challenge()
{
    WebAnswer answer{
        401, {{"Content-Type", "application/json"}, {"WWW-Authenticate", Challenge}}, QByteArray(ChallengeText)};
    addStrictHeaders(answer);
    return answer;
}
