#pragma once

#include <QIcon>

// The program's own pictures, painted at 16 and 32 pixels.
QIcon NoMailIcon();      // no message stored: an empty tray
QIcon MailPresentIcon(); // messages stored: a letter in the tray
QIcon ProgramIcon();
