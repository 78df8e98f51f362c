#include "TlsCredentials.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QFile>
#include <QLibrary>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "AppError.h"
#include "ProductInfo.h"
#include "QtLatin1.h"

namespace {

constexpr const char* GenerateFailedText = "The TLS certificate could not be generated";
constexpr const char* UnreadableFileText = "Cannot read the TLS file: ";
constexpr const char* NoCertificateText = "No PEM certificate in: ";
constexpr const char* NoKeyText = "No unencrypted PEM private key (RSA or EC) in: ";
constexpr const char* MismatchText = "The TLS key does not belong to the certificate: ";
constexpr long ValidSeconds = 365L * 24 * 3600;
constexpr long BackdateSeconds = 3600; // clocks of client and server may disagree a little
constexpr const char* NoCryptoText = "OpenSSL's libcrypto 3 is needed for TLS: ";
constexpr int CryptoMajorVersion = 3;

// libcrypto is loaded when a certificate is first wanted, as Qt's own TLS backend loads it: a
// program that never speaks TLS does not carry it. Each function keeps the type its header gives.
// clang-format off
#define QP_CRYPTO_FUNCTIONS(X) \
    X(ASN1_INTEGER_set_int64) \
    X(BIO_ctrl) \
    X(BIO_free) \
    X(BIO_new) \
    X(BIO_new_mem_buf) \
    X(BIO_s_mem) \
    X(EVP_PKEY_Q_keygen) \
    X(EVP_PKEY_free) \
    X(EVP_PKEY_get_base_id) \
    X(EVP_sha256) \
    X(PEM_read_bio_PrivateKey) \
    X(PEM_read_bio_X509) \
    X(PEM_write_bio_PrivateKey) \
    X(PEM_write_bio_X509) \
    X(RAND_bytes) \
    X(X509V3_EXT_conf_nid) \
    X(X509V3_set_ctx) \
    X(X509_EXTENSION_free) \
    X(X509_NAME_add_entry_by_txt) \
    X(X509_add_ext) \
    X(X509_check_private_key) \
    X(X509_free) \
    X(X509_get_serialNumber) \
    X(X509_get_subject_name) \
    X(X509_getm_notAfter) \
    X(X509_getm_notBefore) \
    X(X509_gmtime_adj) \
    X(X509_new) \
    X(X509_set_issuer_name) \
    X(X509_set_pubkey) \
    X(X509_set_version) \
    X(X509_sign)
// clang-format on

struct Crypto {
// A member declarator cannot be parenthesised.
#define QP_DECLARE(name) decltype(&::name) name = nullptr; // NOLINT(bugprone-macro-parentheses)
    QP_CRYPTO_FUNCTIONS(QP_DECLARE)
#undef QP_DECLARE
};

template <typename Function> void resolve(QLibrary& library, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    if (!function)
        throw AppError(ErrorNumber::InvalidArgument, NoCryptoText + std::string(name));
}

const Crypto& crypto()
{
    static const Crypto loaded = [] {
        QLibrary library(QStringLiteral("crypto"), CryptoMajorVersion);
        if (!library.load())
            throw AppError(ErrorNumber::InvalidArgument, NoCryptoText + toLatin1(library.errorString()));
        Crypto functions;
#define QP_RESOLVE(name) resolve(library, functions.name, #name);
        QP_CRYPTO_FUNCTIONS(QP_RESOLVE)
#undef QP_RESOLVE
        return functions; // the library stays loaded: QLibrary does not unload on destruction
    }();
    return loaded;
}

struct Free {
    void operator()(EVP_PKEY* p) const { crypto().EVP_PKEY_free(p); }
    void operator()(X509* p) const { crypto().X509_free(p); }
    void operator()(X509_EXTENSION* p) const { crypto().X509_EXTENSION_free(p); }
    void operator()(BIO* p) const { crypto().BIO_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;
using Extension = std::unique_ptr<X509_EXTENSION, Free>;
using Bio = std::unique_ptr<BIO, Free>;

void check(bool ok)
{
    if (!ok)
        throw AppError(ErrorNumber::InvalidArgument, GenerateFailedText);
}

QByteArray pemOf(const std::function<int(BIO*)>& write)
{
    const Bio bio(crypto().BIO_new(crypto().BIO_s_mem()));
    check(bio && write(bio.get()) == 1);
    char* data = nullptr;
    const long size = crypto().BIO_ctrl(bio.get(), BIO_CTRL_INFO, 0, &data);
    return QByteArray(data, qsizetype(size));
}

void addExtension(X509* certificate, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    crypto().X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const Extension extension(crypto().X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    check(extension && crypto().X509_add_ext(certificate, extension.get(), -1) == 1);
}

QSslConfiguration serverConfiguration(const QList<QSslCertificate>& chain, const QSslKey& key)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

QByteArray readFile(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(ErrorNumber::InvalidArgument, UnreadableFileText + toLatin1(name));
    return file.readAll();
}

} // namespace

namespace TlsCredentials {

QSslConfiguration selfSigned(const QString& hostName)
{
    // P-256: every TLS client of the last decade takes it, and the key is made in a millisecond.
    const Crypto& c = crypto();
    const Key key(c.EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const Certificate certificate(c.X509_new());
    check(key && certificate);
    std::int64_t serial = 0;
    check(c.RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) == 1);
    check(c.X509_set_version(certificate.get(), X509_VERSION_3) == 1
          && c.ASN1_INTEGER_set_int64(c.X509_get_serialNumber(certificate.get()), serial < 0 ? -serial : serial) == 1
          && c.X509_gmtime_adj(c.X509_getm_notBefore(certificate.get()), -BackdateSeconds)
          && c.X509_gmtime_adj(c.X509_getm_notAfter(certificate.get()), ValidSeconds)
          && c.X509_set_pubkey(certificate.get(), key.get()) == 1);
    const std::string host = toLatin1(hostName);
    X509_NAME* name = c.X509_get_subject_name(certificate.get());
    const auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); };
    check(c.X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, text(ProductInfo::ProductName), -1, -1, 0) == 1
          && c.X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text(host.empty() ? "localhost" : host), -1, -1, 0)
              == 1
          && c.X509_set_issuer_name(certificate.get(), name) == 1);
    std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (!host.empty() && host.find_first_of(",:") == std::string::npos && host != "localhost")
        names = "DNS:" + host + "," + names;
    addExtension(certificate.get(), NID_subject_alt_name, names);
    addExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
    check(c.X509_sign(certificate.get(), key.get(), c.EVP_sha256()) > 0);

    const QByteArray certificatePem = pemOf([&](BIO* bio) { return c.PEM_write_bio_X509(bio, certificate.get()); });
    const QByteArray keyPem = pemOf(
        [&](BIO* bio) { return c.PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    const QSslKey sslKey(keyPem, QSsl::Ec);
    const QSslCertificate sslCertificate(certificatePem);
    check(!sslKey.isNull() && !sslCertificate.isNull());
    return serverConfiguration({sslCertificate}, sslKey);
}

QSslConfiguration fromFiles(const QString& certificateFile, const QString& keyFile)
{
    const QByteArray chainPem = readFile(certificateFile);
    const QList<QSslCertificate> chain = QSslCertificate::fromData(chainPem, QSsl::Pem);
    if (chain.isEmpty())
        throw AppError(ErrorNumber::InvalidArgument, NoCertificateText + toLatin1(certificateFile));
    // libcrypto reads every key format (PKCS#1, SEC1, PKCS#8) and can tell whether the two match.
    const QByteArray keyPem = readFile(keyFile);
    const Crypto& c = crypto();
    const Bio keyBio(c.BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    const Key key(keyBio ? c.PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    const int type = key ? c.EVP_PKEY_get_base_id(key.get()) : EVP_PKEY_NONE;
    if (type != EVP_PKEY_RSA && type != EVP_PKEY_EC)
        throw AppError(ErrorNumber::InvalidArgument, NoKeyText + toLatin1(keyFile));
    const Bio chainBio(c.BIO_new_mem_buf(chainPem.constData(), int(chainPem.size())));
    const Certificate leaf(chainBio ? c.PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!leaf || c.X509_check_private_key(leaf.get(), key.get()) != 1)
        throw AppError(ErrorNumber::InvalidArgument, MismatchText + toLatin1(keyFile));
    const QByteArray pkcs8 = pemOf(
        [&](BIO* bio) { return c.PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    return serverConfiguration(chain, QSslKey(pkcs8, type == EVP_PKEY_RSA ? QSsl::Rsa : QSsl::Ec));
}

} // namespace TlsCredentials
