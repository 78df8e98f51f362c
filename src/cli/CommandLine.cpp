#include "CommandLine.h"

#include <tuple>

#include <QCommandLineParser>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

#include "ByteBudget.h"
#include "ChaosTriggers.h"
#include "ProductInfo.h"

namespace {
constexpr const char* ProgramName = "quellpost";
const QStringList ShortOptions{QStringLiteral("-h"), QStringLiteral("-v"), QStringLiteral("-?")};
constexpr const char* Description = "Catches the mail a program sends and shows it.";
constexpr const char* MaxMemoryName = "max-memory";
constexpr const char* MaxMemoryHelp
    = "Keep at most SIZE bytes of mail in memory (for example 512M or 2G; default: a quarter of the "
      "machine's memory, at most 4G). Messages beyond it are refused.";
constexpr const char* MaxMemoryValue = "SIZE";
constexpr const char* NotASizeText = "--max-memory takes a size such as 512M or 2G, not: ";
constexpr const char* EsmtpName = "esmtp";
constexpr const char* EsmtpHelp = "Start with Modern SMTP (EHLO, STARTTLS, AUTH) on.";
constexpr const char* TlsCertName = "tls-cert";
constexpr const char* TlsCertHelp
    = "The PEM certificate (chain) TLS shows, instead of one generated for this machine's name.";
constexpr const char* TlsKeyName = "tls-key";
constexpr const char* TlsKeyHelp = "The PEM private key of --tls-cert.";
constexpr const char* FileValue = "FILE";
constexpr const char* TlsPairText = "--tls-cert and --tls-key go together";
constexpr const char* SmtpsName = "smtps";
constexpr const char* SmtpsHelp = "Also listen on ADDR:PORT for clients that speak TLS from the first byte "
                                  "(for example 127.0.0.1:465).";
constexpr const char* SmtpName = "smtp";
constexpr const char* SmtpHelp = "Start listens for mail on ADDR:PORT instead of port 25 on every address.";
constexpr const char* SmtpTimeoutName = "smtp-timeout";
constexpr const char* SmtpTimeoutHelp
    = "Close an SMTP client that sends and reads nothing for SECONDS (default 300; a thirtieth of it, "
      "at least 1, while connections or memory run short).";
constexpr const char* SecondsValue = "SECONDS";
constexpr const char* SmtpMaxConnectionsName = "smtp-max-connections";
constexpr const char* SmtpMaxConnectionsHelp
    = "Serve at most N SMTP clients at once (default 1000); a further one pushes out the client idle longest.";
constexpr const char* CountValue = "N";
constexpr const char* NotACountFormat = "--%1 takes a whole number from 1 to %2, not: %3";
constexpr int MaxTimeoutSeconds = 86400;
constexpr int MaxConnectionsLimit = 32767;
constexpr const char* HttpName = "http";
constexpr const char* HttpHelp = "Serve the HTTP API on ADDR:PORT (127.0.0.1 when only a port is given).";
constexpr const char* HttpHostName = "http-host";
constexpr const char* HttpHostHelp
    = "Also answer HTTP requests that name the API by NAME (a name this machine is reached by; by default "
      "only loopback names and the --http address are answered). May be repeated.";
constexpr const char* NameValue = "NAME";
constexpr const char* NotANameText = "--http-host takes a host name or IP address, not: ";
constexpr const char* CorsName = "cors";
constexpr const char* CorsHelp
    = "Let web pages from ORIGIN (for example http://localhost:3000) use the HTTP API; by default no "
      "other origin may. May be repeated.";
constexpr const char* OriginValue = "ORIGIN";
constexpr const char* NotAnOriginText = "--cors takes an origin such as http://localhost:3000, not: ";
constexpr const char* HttpAuthName = "http-auth";
constexpr const char* HttpAuthHelp = "Ask every HTTP request for a user name and password from FILE, an htpasswd "
                                     "file with bcrypt entries (htpasswd -B).";
constexpr const char* HttpAuthAloneText = "--http-auth needs --http";
constexpr const char* HeadlessName = "headless";
constexpr const char* HeadlessHelp
    = "Run without a window: listen at once, write the log to standard output and what a box "
      "would show to standard error; end on SIGTERM or SIGINT.";
constexpr const char* AddressValue = "ADDR:PORT";
constexpr const char* NotAnAddressFormat = "--%1 takes ADDR:PORT with an IP address and a port from 0 to 65535 "
                                           "(for example 127.0.0.1:2525 or [::1]:2525), not: %2";
constexpr const char* HttpDefaultHost = "127.0.0.1";
constexpr const char* ChaosName = "chaos";
constexpr const char* ChaosHelp
    = "Let failure replies be set (from the API's /api/v1/chaos and the window); none fires until a "
      "probability is set.";
constexpr const char* ChaosTriggersName = "chaos-triggers";
constexpr const char* ChaosTriggersHelp
    = "Answer steps with failure replies, as STEP:CODE:PERCENT items separated by commas; steps are sender, "
      "recipient, data and authentication (for example recipient:421:100). Implies --chaos.";
constexpr const char* ChaosTriggersValue = "TRIGGERS";
constexpr const char* ChaosSeedName = "chaos-seed";
constexpr const char* ChaosSeedHelp = "Draw the failure replies from a sequence that repeats for the same N.";
constexpr const char* NotASeedText = "--chaos-seed takes a whole number, not: ";
constexpr const char* RelayName = "relay";
constexpr const char* RelayHelp
    = "Release sends to the server at URL: smtp://HOST[:PORT] (STARTTLS required) or smtps://HOST[:PORT].";
constexpr const char* UrlValue = "URL";
constexpr const char* RelayAuthName = "relay-auth";
constexpr const char* RelayAuthHelp = "Log in to the relay as the USER:PASSWORD on the first line of FILE.";
constexpr const char* RelayAllowName = "relay-allow";
constexpr const char* RelayAllowHelp
    = "Release only to addresses that REGEX matches as a whole, ignoring case (for example '.*@example\\.com'). "
      "Required with --relay.";
constexpr const char* RegexValue = "REGEX";
constexpr const char* RelayCaName = "relay-ca";
constexpr const char* RelayCaHelp = "Trust the relay's certificate when it is signed by one in FILE (PEM), "
                                    "instead of the system's authorities.";
constexpr const char* RelayInsecureName = "relay-insecure";
constexpr const char* RelayInsecureHelp = "Do not check the relay's certificate.";
constexpr const char* RelayPlainName = "relay-plain";
constexpr const char* RelayPlainHelp = "Send to an smtp:// relay without STARTTLS, in the clear.";
constexpr const char* RelayTimeoutName = "relay-timeout";
constexpr const char* RelayTimeoutHelp = "Give up a release after SECONDS (default 30).";
constexpr const char* RelayAloneText = "--relay-auth, --relay-allow, --relay-ca, --relay-insecure, --relay-plain and "
                                       "--relay-timeout need --relay";
constexpr const char* RelayAllowMissingText = "--relay needs --relay-allow REGEX: the addresses release may send to";
constexpr const char* RelayPlainTlsText = "--relay-plain goes with smtp://, not smtps://";
constexpr int MaxPort = 65535;
// Options whose value is the next argument.
const QStringList ValueOptions{QString::fromLatin1(MaxMemoryName),
                               QString::fromLatin1(SmtpName),
                               QString::fromLatin1(HttpName),
                               QString::fromLatin1(TlsCertName),
                               QString::fromLatin1(TlsKeyName),
                               QString::fromLatin1(SmtpsName),
                               QString::fromLatin1(HttpHostName),
                               QString::fromLatin1(CorsName),
                               QString::fromLatin1(HttpAuthName),
                               QString::fromLatin1(SmtpTimeoutName),
                               QString::fromLatin1(SmtpMaxConnectionsName),
                               QString::fromLatin1(ChaosTriggersName),
                               QString::fromLatin1(ChaosSeedName),
                               QString::fromLatin1(RelayName),
                               QString::fromLatin1(RelayAuthName),
                               QString::fromLatin1(RelayAllowName),
                               QString::fromLatin1(RelayCaName),
                               QString::fromLatin1(RelayTimeoutName)};

// A host name or address as a Host field would give it: lower case, IPv6 in brackets.
std::optional<std::string> parseHostName(const QString& text)
{
    const QString name = text.toLower();
    const bool bracketed = name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'));
    const QHostAddress address(bracketed ? name.mid(1, name.size() - 2) : name);
    if (!address.isNull())
        return (address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                    : address.toString())
            .toStdString();
    static const QRegularExpression Name(QStringLiteral("^[a-z0-9_]([a-z0-9_.-]*[a-z0-9_])?$"));
    return Name.match(name).hasMatch() ? std::optional(name.toStdString()) : std::nullopt;
}

// "scheme://host[:port]", as a browser writes it in an Origin field.
std::optional<std::string> parseOrigin(const QString& text)
{
    static const QRegularExpression Origin(QStringLiteral("^https?://([a-z0-9_.-]+|\\[[0-9a-f:.]+\\])(:[0-9]{1,5})?$"));
    const QString origin = text.toLower();
    return Origin.match(origin).hasMatch() ? std::optional(origin.toStdString()) : std::nullopt;
}

// "ADDR:PORT", "[v6]:PORT", or for the API a bare port.
std::optional<ListenAddress> parseListenAddress(const QString& text, const char* defaultHost)
{
    QString host;
    QString port = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':')))
            return std::nullopt; // an IPv6 address needs brackets, or its last group reads as the port
    } else if (!defaultHost) {
        return std::nullopt;
    } else {
        host = QString::fromLatin1(defaultHost);
    }
    bool ok = false;
    const int number = port.toInt(&ok);
    if (!ok || number < 0 || number > MaxPort || QHostAddress(host).isNull())
        return std::nullopt;
    return ListenAddress{host.toStdString(), number};
}
// A whole number from 1 to maximum, when the option is given; false, with the reason, when it is none.
bool readCount(const QCommandLineParser& parser, const QCommandLineOption& option, int maximum,
               std::optional<int>& target, std::string& error)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int number = parser.value(option).toInt(&ok);
    if (!ok || number < 1 || number > maximum) {
        error = QString::fromLatin1(NotACountFormat)
                    .arg(option.names().constFirst())
                    .arg(maximum)
                    .arg(parser.value(option))
                    .toStdString();
        return false;
    }
    target = number;
    return true;
}
QCommandLineOption option(const char* name, const char* help, const char* value = nullptr)
{
    return value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help), QString::fromLatin1(value))
                 : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help));
}

struct ChaosOptions {
    QCommandLineOption on = option(ChaosName, ChaosHelp);
    QCommandLineOption triggers = option(ChaosTriggersName, ChaosTriggersHelp, ChaosTriggersValue);
    QCommandLineOption seed = option(ChaosSeedName, ChaosSeedHelp, CountValue);

    void add(QCommandLineParser& parser) const { parser.addOptions({on, triggers, seed}); }

    bool read(const QCommandLineParser& parser, CommandLineOptions& options, std::string& error) const
    {
        options.chaos = parser.isSet(on) || parser.isSet(triggers);
        if (parser.isSet(triggers)) {
            const std::string given = parser.value(triggers).toStdString();
            if (!ChaosTriggers().configure(given, error))
                return false;
            options.chaosTriggers = given;
        }
        if (parser.isSet(seed)) {
            bool ok = false;
            options.chaosSeed = parser.value(seed).toULongLong(&ok);
            if (!ok) {
                error = NotASeedText + parser.value(seed).toStdString();
                return false;
            }
        }
        return true;
    }
};

struct RelayOptions {
    QCommandLineOption url = option(RelayName, RelayHelp, UrlValue);
    QCommandLineOption auth = option(RelayAuthName, RelayAuthHelp, FileValue);
    QCommandLineOption allow = option(RelayAllowName, RelayAllowHelp, RegexValue);
    QCommandLineOption ca = option(RelayCaName, RelayCaHelp, FileValue);
    QCommandLineOption insecure = option(RelayInsecureName, RelayInsecureHelp);
    QCommandLineOption plain = option(RelayPlainName, RelayPlainHelp);
    QCommandLineOption timeout = option(RelayTimeoutName, RelayTimeoutHelp, SecondsValue);

    void add(QCommandLineParser& parser) const { parser.addOptions({url, auth, allow, ca, insecure, plain, timeout}); }

    bool read(const QCommandLineParser& parser, CommandLineOptions& options, std::string& error) const
    {
        if (!parser.isSet(url)) {
            const bool stray = parser.isSet(auth) || parser.isSet(allow) || parser.isSet(ca) || parser.isSet(insecure)
                || parser.isSet(plain) || parser.isSet(timeout);
            if (stray)
                error = RelayAloneText;
            return !stray;
        }
        std::optional<RelaySettings> relay = RelaySettings::parse(parser.value(url).toStdString(), error);
        if (!relay)
            return false;
        if (!parser.isSet(allow)) {
            error = RelayAllowMissingText;
            return false;
        }
        options.relayAllow = RelayAllowList::compile(parser.value(allow).toStdString(), error);
        if (!options.relayAllow)
            return false;
        if (parser.isSet(auth) && !readRelayCredentials(parser.value(auth).toStdString(), *relay, error))
            return false;
        if (parser.isSet(plain)) {
            if (relay->security == RelaySettings::Security::ImplicitTls) {
                error = RelayPlainTlsText;
                return false;
            }
            relay->security = RelaySettings::Security::Plain;
        }
        relay->insecure = parser.isSet(insecure);
        relay->caFile = parser.value(ca).toStdString();
        std::optional<int> seconds;
        if (!readCount(parser, timeout, MaxTimeoutSeconds, seconds, error))
            return false;
        relay->timeout = std::chrono::seconds(seconds.value_or(int(RelaySettings::DefaultTimeout.count())));
        options.relay = std::move(relay);
        return true;
    }
};

// The arguments this parser reads: Qt's own options (-platform, -style...) take one dash and are
// left to the application object.
QStringList ownArguments(const std::vector<std::string>& arguments)
{
    QStringList list{QString::fromLatin1(ProgramName)};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const QString argument = QString::fromLocal8Bit(arguments[i].data(), qsizetype(arguments[i].size()));
        if (!argument.startsWith(QLatin1String("--")) && !ShortOptions.contains(argument))
            continue;
        list << argument;
        if (ValueOptions.contains(argument.mid(2)) && i + 1 < arguments.size())
            list << QString::fromLocal8Bit(arguments[++i].c_str());
    }
    return list;
}

struct AddressOptions {
    const QCommandLineOption& smtp;
    const QCommandLineOption& http;
    const QCommandLineOption& smtps;
};

bool readAddresses(const QCommandLineParser& parser, const AddressOptions& given, CommandLineOptions& options,
                   std::string& error)
{
    const std::pair<const QCommandLineOption*, std::optional<ListenAddress>*> addresses[]
        = {{&given.smtp, &options.smtp}, {&given.http, &options.http}, {&given.smtps, &options.smtps}};
    for (const auto& [option, target] : addresses) {
        if (!parser.isSet(*option))
            continue;
        const QString text = parser.value(*option);
        *target = parseListenAddress(text, option == &given.http ? HttpDefaultHost : nullptr);
        if (!*target) {
            error = QString::fromLatin1(NotAnAddressFormat).arg(option->names().constFirst(), text).toStdString();
            return false;
        }
    }
    return true;
}

struct NameListOptions {
    const QCommandLineOption& httpHost;
    const QCommandLineOption& cors;
};

bool readNameLists(const QCommandLineParser& parser, const NameListOptions& given, CommandLineOptions& options,
                   std::string& error)
{
    const std::tuple<const QCommandLineOption*, std::vector<std::string>*, const char*,
                     std::optional<std::string> (*)(const QString&)>
        lists[] = {{&given.httpHost, &options.httpHosts, NotANameText, parseHostName},
                   {&given.cors, &options.corsOrigins, NotAnOriginText, parseOrigin}};
    for (const auto& [option, target, complaint, parse] : lists) {
        for (const QString& text : parser.values(*option)) {
            const std::optional<std::string> value = parse(text);
            if (!value) {
                error = complaint + text.toStdString();
                return false;
            }
            target->push_back(*value);
        }
    }
    return true;
}
} // namespace

std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption maxMemory(QString::fromLatin1(MaxMemoryName), QString::fromLatin1(MaxMemoryHelp),
                                       QString::fromLatin1(MaxMemoryValue));
    parser.addOption(maxMemory);
    const QCommandLineOption esmtp(QString::fromLatin1(EsmtpName), QString::fromLatin1(EsmtpHelp));
    const QCommandLineOption tlsCert(QString::fromLatin1(TlsCertName), QString::fromLatin1(TlsCertHelp),
                                     QString::fromLatin1(FileValue));
    const QCommandLineOption tlsKey(QString::fromLatin1(TlsKeyName), QString::fromLatin1(TlsKeyHelp),
                                    QString::fromLatin1(FileValue));
    const QCommandLineOption smtps(QString::fromLatin1(SmtpsName), QString::fromLatin1(SmtpsHelp),
                                   QString::fromLatin1(AddressValue));
    parser.addOptions({esmtp, tlsCert, tlsKey, smtps});
    const QCommandLineOption smtp(QString::fromLatin1(SmtpName), QString::fromLatin1(SmtpHelp),
                                  QString::fromLatin1(AddressValue));
    parser.addOption(smtp);
    const QCommandLineOption http(QString::fromLatin1(HttpName), QString::fromLatin1(HttpHelp),
                                  QString::fromLatin1(AddressValue));
    parser.addOption(http);
    const QCommandLineOption httpHost(QString::fromLatin1(HttpHostName), QString::fromLatin1(HttpHostHelp),
                                      QString::fromLatin1(NameValue));
    const QCommandLineOption cors(QString::fromLatin1(CorsName), QString::fromLatin1(CorsHelp),
                                  QString::fromLatin1(OriginValue));
    parser.addOptions({httpHost, cors});
    const QCommandLineOption httpAuth(QString::fromLatin1(HttpAuthName), QString::fromLatin1(HttpAuthHelp),
                                      QString::fromLatin1(FileValue));
    parser.addOption(httpAuth);
    const QCommandLineOption headless(QString::fromLatin1(HeadlessName), QString::fromLatin1(HeadlessHelp));
    parser.addOption(headless);
    const QCommandLineOption smtpTimeout(QString::fromLatin1(SmtpTimeoutName), QString::fromLatin1(SmtpTimeoutHelp),
                                         QString::fromLatin1(SecondsValue));
    const QCommandLineOption smtpMaxConnections(QString::fromLatin1(SmtpMaxConnectionsName),
                                                QString::fromLatin1(SmtpMaxConnectionsHelp),
                                                QString::fromLatin1(CountValue));
    parser.addOptions({smtpTimeout, smtpMaxConnections});
    const ChaosOptions chaos;
    chaos.add(parser);
    const RelayOptions relay;
    relay.add(parser);
    const QStringList list = ownArguments(arguments);
    if (!parser.parse(list)) {
        error = parser.errorText().toStdString();
        return std::nullopt;
    }

    CommandLineOptions options;
    if (parser.isSet(help)) {
        options.output = parser.helpText().replace(QLatin1String("<executable_name>"), list.front()).toStdString();
        return options;
    }
    if (parser.isSet(version)) {
        options.output = std::string(ProductInfo::ProductName) + " " + ProductInfo::VersionText + "\n";
        return options;
    }
    if (parser.isSet(maxMemory)) {
        const QByteArray text = parser.value(maxMemory).toLatin1();
        std::size_t bytes = 0;
        if (!parseByteSize(text.constData(), bytes)) {
            error = NotASizeText + text.toStdString();
            return std::nullopt;
        }
        options.maxMemory = bytes;
    }
    options.modernSmtp = parser.isSet(esmtp);
    if (parser.isSet(tlsCert) != parser.isSet(tlsKey)) {
        error = TlsPairText;
        return std::nullopt;
    }
    if (parser.isSet(tlsCert)) {
        options.tlsCertificateFile = parser.value(tlsCert).toStdString();
        options.tlsKeyFile = parser.value(tlsKey).toStdString();
    }
    if (!readAddresses(parser, {smtp, http, smtps}, options, error)
        || !readNameLists(parser, {httpHost, cors}, options, error))
        return std::nullopt;
    if (parser.isSet(httpAuth)) {
        if (!options.http) {
            error = HttpAuthAloneText;
            return std::nullopt;
        }
        options.httpUsersFile = parser.value(httpAuth).toStdString();
    }
    if (!readCount(parser, smtpTimeout, MaxTimeoutSeconds, options.smtpTimeoutSeconds, error)
        || !readCount(parser, smtpMaxConnections, MaxConnectionsLimit, options.smtpMaxConnections, error))
        return std::nullopt;
    if (!chaos.read(parser, options, error) || !relay.read(parser, options, error))
        return std::nullopt;
    options.headless = parser.isSet(headless);
    return options;
}
