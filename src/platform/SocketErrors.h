#pragma once

#include <string>

#include <QAbstractSocket>
#include <QString>

#include "AppError.h"

// The error number and plain description of a socket failure as Qt reports it.
int SocketErrorNumber(QAbstractSocket::SocketError error);
std::string SocketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText);

// The error a failed Listen throws, in words a user can act on.
AppError ListenError(QAbstractSocket::SocketError error, int port, const QString& qtText);
