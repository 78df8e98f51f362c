#include "WebAnswer.h"

void addStrictHeaders(WebAnswer& answer)
{
    answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
    answer.headers.emplace_back("Referrer-Policy", "no-referrer");
    answer.headers.emplace_back("Cache-Control", "no-cache");
}
