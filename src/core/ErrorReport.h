#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "AppError.h"

// The text of the fatal-error box: heading, number and description, source, optional index.
std::string fatalReportText(std::string_view source, const AppError& error, std::optional<int> index = {});

// Shows the fatal-error box (critical icon, OK) naming the procedure that failed.
void reportFatal(std::string_view source, const AppError& error);
void reportFatal(std::string_view source, int index, const AppError& error);

// Runs body; a failure inside it is reported naming source. True when body ran to its end.
template <class Body> bool trapped(std::string_view source, Body&& body)
{
    try {
        body();
        return true;
    } catch (...) {
        reportFatal(source, AppError::fromCurrentException());
        return false;
    }
}

// The same for the socket handlers, whose reports also name the socket's index.
template <class Body> bool trapped(std::string_view source, int index, Body&& body)
{
    try {
        body();
        return true;
    } catch (...) {
        reportFatal(source, index, AppError::fromCurrentException());
        return false;
    }
}
