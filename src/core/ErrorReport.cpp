#include "ErrorReport.h"

#include "MessageBoxes.h"

namespace {
constexpr const char* FatalHeading = "Fatal application error tracked:";
constexpr const char* SourcePrefix = "Source: ";
constexpr const char* IndexPrefix = "Index: ";
} // namespace

std::string fatalReportText(std::string_view source, const AppError& error, std::optional<int> index)
{
    std::string text = FatalHeading;
    text += "\r[" + std::to_string(error.number()) + "]: " + error.description();
    text += '\r';
    text += SourcePrefix;
    text += source;
    if (index)
        text += "\r" + std::string(IndexPrefix) + std::to_string(*index);
    return text;
}

void reportFatal(std::string_view source, const AppError& error)
{
    msgBox(fatalReportText(source, error), MsgButtons::Ok, MsgIcon::Critical);
}

void reportFatal(std::string_view source, int index, const AppError& error)
{
    msgBox(fatalReportText(source, error, index), MsgButtons::Ok, MsgIcon::Critical);
}
