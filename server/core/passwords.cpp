#include "server/core/passwords.h"


#include <QByteArray>
#include <QList>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <optional>
#include <utility>

namespace vorel::server::passwords {

namespace {

constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
// A stored count above this is not ours; checking it would stall the login.
constexpr int kMaxIterations = 5000000;

QByteArray derive(const QByteArray &password, const QByteArray &salt, int iterations)
{
    QByteArray key(kKeyBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                          int(salt.size()), iterations, EVP_sha256(), kKeyBytes,
                          reinterpret_cast<unsigned char *>(key.data()))
        != 1)
        return {};
    return key;
}

struct Parsed {
    int iterations = 0;
    QByteArray salt;
    QByteArray key;
};

std::optional<Parsed> parse(const QString &stored)
{
    if (!stored.startsWith(QLatin1String(kPrefix)))
        return std::nullopt;
    const QStringList parts = stored.mid(int(sizeof(kPrefix)) - 1).split(QLatin1Char('$'));
    if (parts.size() != 3)
        return std::nullopt;
    Parsed p;
    bool ok = false;
    p.iterations = parts[0].toInt(&ok);
    if (!ok || p.iterations < 1 || p.iterations > kMaxIterations)
        return std::nullopt;
    const auto salt = QByteArray::fromBase64Encoding(parts[1].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(parts[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !key || (*salt).isEmpty() || (*key).size() != kKeyBytes)
        return std::nullopt;
    p.salt = *salt;
    p.key = *key;
    return p;
}


} // namespace

QString hash(const QString &plain)
{
    QByteArray salt(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), kSaltBytes) != 1)
        return {};
    const QByteArray key = derive(plain.toUtf8(), salt, kIterations);
    if (key.isEmpty())
        return {};
    return QLatin1String(kPrefix) + QString::number(kIterations) + QLatin1Char('$')
        + QString::fromLatin1(salt.toBase64(QByteArray::OmitTrailingEquals)) + QLatin1Char('$')
        + QString::fromLatin1(key.toBase64(QByteArray::OmitTrailingEquals));
}

bool isHash(const QString &stored) { return parse(stored).has_value(); }

bool verify(const QString &plain, const QString &stored)
{
    if (!stored.startsWith(QLatin1String(kPrefix)))
        return plain == stored;
    const auto p = parse(stored);
    if (!p)
        return false;
    const QByteArray key = derive(plain.toUtf8(), p->salt, p->iterations);
    return key.size() == p->key.size() && CRYPTO_memcmp(key.constData(), p->key.constData(), size_t(key.size())) == 0;
}


} // namespace vorel::server::passwords
