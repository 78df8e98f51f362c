#pragma once

#include <QSslConfiguration>
#include <QString>

// What the capture server shows a client that asks for TLS: a certificate and its key.
namespace TlsCredentials {

// A self-signed certificate for the machine's host name (and localhost, 127.0.0.1 and ::1),
// with a fresh key. Throws AppError when it cannot be made.
QSslConfiguration selfSigned(const QString& hostName);

// The certificate (chain) and key the user keeps in PEM files. Throws AppError, naming the file,
// when either cannot be read or the two do not belong together.
QSslConfiguration fromFiles(const QString& certificateFile, const QString& keyFile);

} // namespace TlsCredentials
