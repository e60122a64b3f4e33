#include "server/net/tlscert.h"

#include "common/exception.h"
#include "data/servertrust.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QSysInfo>
#include <memory>
#include <mutex>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vorel::server::tls {

namespace {

template <typename T, void (*Free)(T *)>
struct Deleter {
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

[[noreturn]] void fail(const char *what)
{
    throw vorel::Exception(QStringLiteral("cannot make the certificate: %1").arg(QLatin1String(what)));
}

void addExtension(X509 *cert, int nid, const QByteArray &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Extension ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData()));
    if (!ext || !X509_add_ext(cert, ext.get(), -1))
        fail("an extension was refused");
}

QByteArray pem(int (*write)(BIO *, void *), void *object)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get(), object))
        fail("cannot write PEM");
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

int writeCert(BIO *bio, void *cert) { return PEM_write_bio_X509(bio, static_cast<X509 *>(cert)); }

int writeKey(BIO *bio, void *key)
{
    return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY *>(key), nullptr, nullptr, 0, nullptr, nullptr);
}

// Qt offers no way to the OpenSSL objects of its sockets, and its own
// backend options are read as client ones; OpenSSL calls this for every
// connection object it makes, before the handshake. No ticket (TLS 1.3)
// and no session kept for its id (TLS 1.2): no client resumes one, and
// each would be a key held for nothing. A client connection of this
// process (to PostgreSQL) never resumed either.
void noTickets(void *parent, void *, CRYPTO_EX_DATA *, int, long, void *)
{
    auto *ssl = static_cast<SSL *>(parent);
    SSL_set_num_tickets(ssl, 0);
    if (SSL_CTX *context = SSL_get_SSL_CTX(ssl))
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
}

void issueNoTickets()
{
    static std::once_flag once;
    std::call_once(once, [] { CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_SSL, 0, nullptr, noTickets, nullptr, nullptr); });
}

bool writeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions, QString *error)
{
    QSaveFile f(path);
    // The temporary file is its owner's alone from the start; the key is
    // never readable by others, not even while it is being written.
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(permissions) || f.write(data) != data.size()
        || !f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

// Found at start, rather than at every client's handshake.
bool keyMatches(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    Bio certIn(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())));
    Bio keyIn(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    if (!certIn || !keyIn)
        return false;
    // No pass phrase: without a callback OpenSSL would ask on the terminal.
    pem_password_cb *none = [](char *, int, int, void *) { return 0; };
    Cert cert(PEM_read_bio_X509(certIn.get(), nullptr, none, nullptr));
    Key key(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, none, nullptr));
    return cert && key && X509_check_private_key(cert.get(), key.get()) == 1;
}

} // namespace

Identity makeSelfSigned(const QStringList &names, const QDateTime &notBefore, const QDateTime &notAfter)
{
    if (names.isEmpty())
        fail("no name");
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        fail("no key");
    Cert cert(X509_new());
    if (!cert || !X509_set_version(cert.get(), 2))
        fail("no certificate");
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        fail("no random serial number");
    serial[0] &= 0x7f; // positive
    BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    if (!serialSet)
        fail("no serial number");
    if (!ASN1_TIME_set(X509_getm_notBefore(cert.get()), time_t(notBefore.toSecsSinceEpoch()))
        || !ASN1_TIME_set(X509_getm_notAfter(cert.get()), time_t(notAfter.toSecsSinceEpoch())))
        fail("bad validity");
    X509_NAME *subject = X509_get_subject_name(cert.get());
    const QByteArray commonName = names.first().toUtf8().left(64);
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Vorel"), -1,
                               -1, 0);
    if (!X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char *>(commonName.constData()), -1, -1, 0)
        || !X509_set_issuer_name(cert.get(), subject) || !X509_set_pubkey(cert.get(), key.get()))
        fail("bad name");
    QStringList alternatives;
    for (const QString &name : names) {
        const QHostAddress address(name);
        const QString entry = address.isNull() ? QStringLiteral("DNS:") + name : QStringLiteral("IP:") + name;
        if (!alternatives.contains(entry))
            alternatives << entry;
    }
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), NID_subject_alt_name, alternatives.join(QLatin1Char(',')).toUtf8());
    if (!X509_sign(cert.get(), key.get(), EVP_sha256()))
        fail("cannot sign");
    return {pem(writeCert, cert.get()), pem(writeKey, key.get())};
}

QStringList machineNames()
{
    QStringList names;
    const QString host = QSysInfo::machineHostName();
    if (!host.isEmpty())
        names << host;
    names << QStringLiteral("localhost");
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        // A link-local address carries its interface, which no client types.
        if (a.isLinkLocal() || !a.scopeId().isEmpty())
            continue;
        names << a.toString();
    }
    if (!names.contains(QStringLiteral("127.0.0.1")))
        names << QStringLiteral("127.0.0.1");
    names.removeDuplicates();
    return names;
}

QString certificateFileIn(const QString &folder) { return QDir(folder).filePath(QStringLiteral("vorel-server.crt")); }

QString keyFileIn(const QString &folder) { return QDir(folder).filePath(QStringLiteral("vorel-server.key")); }

bool writeIdentity(const Identity &identity, const QString &certificateFile, const QString &keyFile, QString *error)
{
    return writeFile(keyFile, identity.keyPem, QFileDevice::ReadOwner | QFileDevice::WriteOwner, error)
        && writeFile(certificateFile, identity.certificatePem,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                         | QFileDevice::ReadOther,
                     error);
}

bool ensureIdentity(const QString &certificateFile, const QString &keyFile, bool *made, QString *error)
{
    *made = false;
    if (QFile::exists(certificateFile))
        return true;
    try {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const Identity identity = makeSelfSigned(machineNames(), now.addSecs(-3600), now.addYears(10));
        if (!writeIdentity(identity, certificateFile, keyFile, error))
            return false;
    } catch (const vorel::Exception &e) {
        *error = e.message();
        return false;
    }
    *made = true;
    return true;
}

bool loadServerConfiguration(const QString &certificateFile, const QString &keyFile, QSslConfiguration *out,
                             QString *error)
{
    QFile certs(certificateFile);
    if (!certs.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate %1: %2").arg(certificateFile, certs.errorString());
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certs.read(4 * 1024 * 1024), QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("%1 holds no certificate in PEM form").arg(certificateFile);
        return false;
    }
    QFile keyIn(keyFile);
    if (!keyIn.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the key %1: %2").arg(keyFile, keyIn.errorString());
        return false;
    }
    const QByteArray keyPem = keyIn.read(1024 * 1024);
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        key = QSslKey(keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("%1 holds no private key in PEM form (an encrypted key is not read)").arg(keyFile);
        return false;
    }
    if (!keyMatches(chain.first().toPem(), keyPem)) {
        *error = QStringLiteral("the key %1 is not the key of the certificate %2").arg(keyFile, certificateFile);
        return false;
    }
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_2OrLater);
    c.setCiphers(serverCiphers());
    // The client never resumes a session (each connection proves the
    // server's key anew): a ticket would only be a key kept for nothing.
    c.setSslOption(QSsl::SslOptionDisableSessionTickets, true);
    // On TLS 1.3 that alone only makes them tickets the server keeps.
    issueNoTickets();
    c.setPeerVerifyMode(QSslSocket::VerifyNone); // clients prove who they are by Login
    // No authorities to check clients against: the system's list, copied
    // into every connection's context, made each handshake a dozen times dearer.
    c.setCaCertificates({});
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    *out = c;
    return true;
}

QList<QSslCipher> serverCiphers()
{
    QList<QSslCipher> kept;
    for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers()) {
        const QString name = cipher.name();
        const bool tls13 = cipher.protocol() == QSsl::TlsV1_3 || name.startsWith(QLatin1String("TLS_"));
        // On TLS 1.2: an ephemeral key exchange, so that a key stolen later
        // opens no recorded session, and an AEAD cipher, not CBC with SHA-1.
        const bool forwardSecret = name.startsWith(QLatin1String("ECDHE-"));
        const bool aead = name.contains(QLatin1String("-GCM-")) || name.contains(QLatin1String("CHACHA20-POLY1305"));
        if (tls13 || (forwardSecret && aead))
            kept << cipher;
    }
    return kept;
}

QString fingerprintOf(const QString &certificateFile, QString *error)
{
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (certs.isEmpty()) {
        *error = QStringLiteral("no certificate in %1").arg(certificateFile);
        return QString();
    }
    return ServerTrust::fingerprint(certs.first());
}

} // namespace vorel::server::tls
