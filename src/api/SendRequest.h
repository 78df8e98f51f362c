#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QByteArrayView>

#include "MailComposer.h"

// POST /api/v1/send as the published clients write it: From, To, Cc, Bcc, ReplyTo, Subject,
// Text, HTML, Attachments (base64) and Headers, keys in any letter case.
struct SendRequest {
    Mime::Composition message;
    std::string sender;                  // the envelope's: From's address
    std::vector<std::string> recipients; // To, Cc and Bcc, addresses alone
};

// The request, or nothing with the error naming what is wrong; nothing is stored then.
std::optional<SendRequest> readSendRequest(QByteArrayView body, std::string& error);
