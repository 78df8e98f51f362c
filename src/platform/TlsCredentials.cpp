#include "TlsCredentials.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QFile>
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

template <auto Free> struct Deleter {
    template <class T> void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;

void check(bool ok)
{
    if (!ok)
        throw AppError(ErrorNumber::InvalidArgument, GenerateFailedText);
}

QByteArray pemOf(const std::function<int(BIO*)>& write)
{
    const Bio bio(BIO_new(BIO_s_mem()));
    check(bio && write(bio.get()) == 1);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

void addExtension(X509* certificate, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    check(extension && X509_add_ext(certificate, extension.get(), -1) == 1);
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

QSslConfiguration SelfSigned(const QString& hostName)
{
    // P-256: every TLS client of the last decade takes it, and the key is made in a millisecond.
    const Key key(EVP_EC_gen("P-256"));
    const Certificate certificate(X509_new());
    check(key && certificate);
    std::int64_t serial = 0;
    check(RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) == 1);
    check(X509_set_version(certificate.get(), X509_VERSION_3) == 1
          && ASN1_INTEGER_set_int64(X509_get_serialNumber(certificate.get()), serial < 0 ? -serial : serial) == 1
          && X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -BackdateSeconds)
          && X509_gmtime_adj(X509_getm_notAfter(certificate.get()), ValidSeconds)
          && X509_set_pubkey(certificate.get(), key.get()) == 1);
    const std::string host = toLatin1(hostName);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); };
    check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, text(ProductInfo::ProductName), -1, -1, 0) == 1
          && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text(host.empty() ? "localhost" : host), -1, -1, 0)
              == 1
          && X509_set_issuer_name(certificate.get(), name) == 1);
    std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (!host.empty() && host.find_first_of(",:") == std::string::npos && host != "localhost")
        names = "DNS:" + host + "," + names;
    addExtension(certificate.get(), NID_subject_alt_name, names);
    addExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
    check(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0);

    const QByteArray certificatePem = pemOf([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
    const QByteArray keyPem = pemOf(
        [&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    const QSslKey sslKey(keyPem, QSsl::Ec);
    const QSslCertificate sslCertificate(certificatePem);
    check(!sslKey.isNull() && !sslCertificate.isNull());
    return serverConfiguration({sslCertificate}, sslKey);
}

QSslConfiguration FromFiles(const QString& certificateFile, const QString& keyFile)
{
    const QByteArray chainPem = readFile(certificateFile);
    const QList<QSslCertificate> chain = QSslCertificate::fromData(chainPem, QSsl::Pem);
    if (chain.isEmpty())
        throw AppError(ErrorNumber::InvalidArgument, NoCertificateText + toLatin1(certificateFile));
    // libcrypto reads every key format (PKCS#1, SEC1, PKCS#8) and can tell whether the two match.
    const QByteArray keyPem = readFile(keyFile);
    const Bio keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    const Key key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    const int type = key ? EVP_PKEY_get_base_id(key.get()) : EVP_PKEY_NONE;
    if (type != EVP_PKEY_RSA && type != EVP_PKEY_EC)
        throw AppError(ErrorNumber::InvalidArgument, NoKeyText + toLatin1(keyFile));
    const Bio chainBio(BIO_new_mem_buf(chainPem.constData(), int(chainPem.size())));
    const Certificate leaf(chainBio ? PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!leaf || X509_check_private_key(leaf.get(), key.get()) != 1)
        throw AppError(ErrorNumber::InvalidArgument, MismatchText + toLatin1(keyFile));
    const QByteArray pkcs8 = pemOf(
        [&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    return serverConfiguration(chain, QSslKey(pkcs8, type == EVP_PKEY_RSA ? QSsl::Rsa : QSsl::Ec));
}

} // namespace TlsCredentials
