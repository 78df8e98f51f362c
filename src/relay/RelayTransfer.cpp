#include "RelayTransfer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include <curl/curl.h>

#include "Latin1Text.h"

namespace {

constexpr const char* TimedOutFormat = "the relay did not answer within ";
constexpr const char* SecondsText = " seconds";
constexpr const char* CertificateText = "the relay's certificate does not verify (";
constexpr const char* CertificateHintText
    = "); --relay-ca FILE names the certificates to trust, --relay-insecure skips the check";
constexpr const char* NoStartTlsText = "the relay does not offer STARTTLS (--relay-plain sends in the clear)";
constexpr const char* RefusedText = "the relay refused: ";
constexpr const char* CancelledText = "cancelled: the program is ending";
constexpr const char* FailedText = "the transfer failed: ";
// A server's reply lines are its own text: bounded, and controls escaped, before they reach the log.
constexpr std::size_t MaxReplyBytes = 512;

struct Transfer {
    const std::string& body;
    std::size_t sent = 0;
    const std::atomic<bool>& cancelled;
    std::string lastFailure; // the last reply line with a 4xx or 5xx code
};

std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = std::min(size * count, transfer.body.size() - transfer.sent);
    std::copy_n(transfer.body.data() + transfer.sent, length, buffer);
    transfer.sent += length;
    return length;
}

// Only the server's replies are looked at: the one that ends the transaction is reported as given.
int watchReplies(CURL*, curl_infotype type, char* data, std::size_t size, void* user)
{
    if (type != CURLINFO_HEADER_IN || size < 3 || (data[0] != '4' && data[0] != '5'))
        return 0;
    std::string_view line(data, size);
    while (line.ends_with('\n') || line.ends_with('\r'))
        line.remove_suffix(1);
    static_cast<Transfer*>(user)->lastFailure = escapeControls(line, MaxReplyBytes);
    return 0;
}

int checkCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(user)->cancelled.load() ? 1 : 0;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string describe(CURLcode code, const RelaySettings& settings, const Transfer& transfer, const char* detail)
{
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return TimedOutFormat + std::to_string(settings.timeout.count()) + SecondsText;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return CertificateText + escapeControls(detail, MaxReplyBytes) + CertificateHintText;
    case CURLE_USE_SSL_FAILED:
        return NoStartTlsText;
    case CURLE_REMOTE_ACCESS_DENIED:
        // libcurl's answer when a server refuses EHLO while TLS is required: HELO cannot offer it.
        if (settings.security == RelaySettings::Security::StartTls)
            return NoStartTlsText;
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        return CancelledText;
    default:
        break;
    }
    if (!transfer.lastFailure.empty())
        return RefusedText + transfer.lastFailure;
    return FailedText + escapeControls(*detail ? detail : curl_easy_strerror(code), MaxReplyBytes);
}

} // namespace

void initRelayTransfers()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

RelayResult relayMessage(const RelaySettings& settings, std::string_view sender,
                         const std::vector<std::string>& recipients, const std::string& body,
                         const std::atomic<bool>& cancelled)
{
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return {false, FailedText + std::string(curl_easy_strerror(CURLE_FAILED_INIT))};
    std::unique_ptr<curl_slist, ListDeleter> rcpt;
    for (const std::string& recipient : recipients)
        rcpt.reset(curl_slist_append(rcpt.release(), recipient.c_str()));
    Transfer transfer{body, 0, cancelled, {}};
    char detail[CURL_ERROR_SIZE] = {};
    const std::string url = settings.url();
    const std::string from(sender);
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // a worker thread: no SIGALRM for name look-ups
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    const long timeout = long(std::chrono::milliseconds(settings.timeout).count());
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(h, CURLOPT_USE_SSL,
                     settings.security == RelaySettings::Security::Plain ? long(CURLUSESSL_NONE)
                                                                         : long(CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, settings.insecure ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, settings.insecure ? 0L : 2L);
    if (!settings.caFile.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, settings.caFile.c_str());
    if (!settings.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, settings.password.c_str());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());
    // Every recipient or none: a refused one ends the transaction before DATA.
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readBody);
    curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L); // the replies reach watchReplies, nothing is printed
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, watchReplies);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancelled);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode code = curl_easy_perform(h);
    if (code == CURLE_OK)
        return {true, {}};
    return {false, describe(code, settings, transfer, detail)};
}
