#pragma once

#include <string>

#include <QAbstractSocket>
#include <QString>

#include "AppError.h"

// The error number and plain description of a socket failure as Qt reports it.
int socketErrorNumber(QAbstractSocket::SocketError error);
std::string socketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText);

// The error a failed Listen throws, in words a user can act on.
AppError listenError(QAbstractSocket::SocketError error, int port, const QString& qtText);
