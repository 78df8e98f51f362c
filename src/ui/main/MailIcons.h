#pragma once

#include <cstddef>

#include <QIcon>

// The program's own pictures, painted at 16 and 32 pixels.
QIcon noMailIcon();      // no message stored: an empty tray
QIcon mailPresentIcon(); // messages stored: a letter in the tray
QIcon programIcon();
// The tray's picture: the base greyed while not listening, with a badge counting unread messages.
QIcon trayPicture(const QIcon& base, bool listening, std::size_t unread);
