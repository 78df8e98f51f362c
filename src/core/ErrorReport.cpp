#include "ErrorReport.h"

#include "MessageBoxes.h"

namespace {
constexpr const char* FatalHeading = "Fatal application error tracked:";
constexpr const char* SourcePrefix = "Source: ";
constexpr const char* IndexPrefix = "Index: ";
} // namespace

std::string FatalReportText(std::string_view source, const AppError& error, std::optional<int> index)
{
    std::string text = FatalHeading;
    text += "\r[" + std::to_string(error.Number()) + "]: " + error.Description();
    text += '\r';
    text += SourcePrefix;
    text += source;
    if (index)
        text += "\r" + std::string(IndexPrefix) + std::to_string(*index);
    return text;
}

void ReportFatal(std::string_view source, const AppError& error)
{
    MsgBox(FatalReportText(source, error), MsgButtons::Ok, MsgIcon::Critical);
}

void ReportFatal(std::string_view source, int index, const AppError& error)
{
    MsgBox(FatalReportText(source, error, index), MsgButtons::Ok, MsgIcon::Critical);
}
