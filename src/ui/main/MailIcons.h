#pragma once

#include <cstddef>

#include <QIcon>

// The program's own pictures, painted at 16 and 32 pixels.
QIcon NoMailIcon();      // no message stored: an empty tray
QIcon MailPresentIcon(); // messages stored: a letter in the tray
QIcon ProgramIcon();
// The tray's picture: the base greyed while not listening, with a badge counting unread messages.
QIcon TrayPicture(const QIcon& base, bool listening, std::size_t unread);
