#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

#include "ByteBudget.h"
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
    // Qt's own options (-platform, -style...) take one dash and are left to the application object.
    QStringList list{QString::fromLatin1(ProgramName)};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const QString argument = QString::fromLocal8Bit(arguments[i].data(), qsizetype(arguments[i].size()));
        if (!argument.startsWith(QLatin1String("--")) && !ShortOptions.contains(argument))
            continue;
        list << argument;
        if (argument.mid(2) == QLatin1String(MaxMemoryName) && i + 1 < arguments.size())
            list << QString::fromLocal8Bit(arguments[++i].c_str());
    }
    if (!parser.parse(list)) {
        error = parser.errorText().toStdString();
        return std::nullopt;
    }

    CommandLineOptions options;
    if (parser.isSet(help)) {
        options.Output = parser.helpText().replace(QLatin1String("<executable_name>"), list.front()).toStdString();
        return options;
    }
    if (parser.isSet(version)) {
        options.Output = std::string(ProductInfo::ProductName) + " " + ProductInfo::VersionText + "\n";
        return options;
    }
    if (parser.isSet(maxMemory)) {
        const QByteArray text = parser.value(maxMemory).toLatin1();
        std::size_t bytes = 0;
        if (!parseByteSize(text.constData(), bytes)) {
            error = NotASizeText + text.toStdString();
            return std::nullopt;
        }
        options.MaxMemory = bytes;
    }
    return options;
}
