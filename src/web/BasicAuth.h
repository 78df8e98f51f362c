#pragma once

#include <QByteArray>

#include "Htpasswd.h"
#include "WebAnswer.h"

// HTTP basic authentication of every request, for an API that others can reach.
class BasicAuth {
public:
    explicit BasicAuth(Htpasswd users) : m_users(std::move(users)) { }

    // Whether the value of a request's Authorization field names a user with the right password.
    bool allows(const QByteArray& authorization);
    // The 401 that makes a browser ask for a name and password.
    static WebAnswer challenge();

private:
    Htpasswd m_users;
};
