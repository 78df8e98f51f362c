#pragma once

#include <optional>

#include <QStringView>

#include "WebAnswer.h"

// The web inbox's page, scripts and styles, compiled into the program.
namespace WebAssets {

// The file a GET of this path asks for ("/" is the inbox itself), with fields that allow it only
// its own scripts and styles and no framing; nothing for a path that is not one of ours.
std::optional<WebAnswer> find(QStringView path);

} // namespace WebAssets
