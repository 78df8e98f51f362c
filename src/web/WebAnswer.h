#pragma once

#include <utility>
#include <vector>

#include <QByteArray>

// One answer of the browser-facing side, as plain data: whichever HTTP server carries it writes
// the status, these header fields (Content-Type among them) and the body.
struct WebAnswer {
    int status = 200;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Fields that every page of ours carries: no guessing of types, no address leaked to a link's target.
void addStrictHeaders(WebAnswer& answer);
