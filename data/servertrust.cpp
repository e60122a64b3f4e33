#include "data/servertrust.h"

#include "common/platform.h"
#include "data/tlscontext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QSslSocket>
#include <algorithm>

namespace vorel {

namespace {

QString date(const QDateTime &when) { return when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy")); }

QString reason(const QSslError &error, const QString &host, const QString &caFile)
{
    const QSslCertificate cert = error.certificate();
    switch (error.error()) {
    case QSslError::CertificateExpired:
        return QStringLiteral("el certificado caducó el %1").arg(date(cert.expiryDate()));
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("el certificado no es válido hasta el %1").arg(date(cert.effectiveDate()));
    case QSslError::HostNameMismatch: {
        QStringList names;
        const auto alternatives = cert.subjectAlternativeNames();
        for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
            names << it.value();
        if (names.isEmpty())
            names = cert.subjectInfo(QSslCertificate::CommonName);
        return QStringLiteral("el certificado es de %1, no de %2")
            .arg(names.isEmpty() ? QStringLiteral("otro equipo") : names.join(QStringLiteral(", ")), host);
    }
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return QStringLiteral("el certificado no lo firma la autoridad de certificación de %1").arg(caFile);
    case QSslError::CertificateRevoked:
        return QStringLiteral("el certificado fue revocado");
    default:
        return error.errorString();
    }
}

} // namespace

ServerTrust::ServerTrust()
{
    m_caFile = qEnvironmentVariable("VOREL_CA_FILE");
    if (m_caFile.isEmpty()) {
        platform::TSettingsStore store;
        if (store.OpenKey(QStringLiteral("\\Software\\Vorel7"), false))
            m_caFile = store.ReadString(QLatin1String(CaValue)).trimmed();
    }
    if (m_caFile.isEmpty()) {
        const QString beside = QDir(platform::ProgramFolder()).filePath(QLatin1String(CaFileName));
        if (QFileInfo::exists(beside))
            m_caFile = beside;
    }
    if (m_caFile.isEmpty())
        return;
    QFile f(m_caFile);
    if (!f.open(QIODevice::ReadOnly)) {
        m_failure = QStringLiteral("No se puede leer el archivo de autoridades de certificación %1: %2")
                        .arg(m_caFile, f.errorString());
        return;
    }
    // A file an administrator replaces gets a context of its own.
    const QFileInfo info(f);
    m_contextKey = info.absoluteFilePath() + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
        + QString::number(info.lastModified().toMSecsSinceEpoch());
    // Read once per version of the file: OpenSSL 3 decodes certificates
    // slowly, and every connection would decode the file again.
    static QMutex mutex;
    static QHash<QString, QList<QSslCertificate>> parsed;
    QMutexLocker lock(&mutex);
    const auto known = parsed.constFind(m_contextKey);
    if (known != parsed.constEnd()) {
        m_authorities = *known;
    } else {
        // A CA file is small; one that is not is not a CA file.
        m_authorities = QSslCertificate::fromData(f.read(4 * 1024 * 1024), QSsl::Pem);
        if (parsed.size() >= 64)
            parsed.clear();
        parsed.insert(m_contextKey, m_authorities);
    }
    if (m_authorities.isEmpty())
        m_failure = QStringLiteral("El archivo de autoridades de certificación %1 no contiene ningún certificado")
                        .arg(m_caFile);
}

TlsSharedContext &ServerTrust::sharedContext() const
{
    // One per process and configuration: contexts are made once, and the
    // connections of every thread share them.
    static QMutex mutex;
    static QHash<QString, std::shared_ptr<TlsSharedContext>> contexts;
    QMutexLocker lock(&mutex);
    std::shared_ptr<TlsSharedContext> &c = contexts[m_contextKey];
    if (!c)
        c = std::make_shared<TlsSharedContext>();
    return *c;
}

QSslConfiguration ServerTrust::configuration() const
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_2OrLater);
    // Every connection a full handshake with the server's certificate: a
    // session kept in the shared context would be offered to the next
    // server too.
    c.setSslOption(QSsl::SslOptionDisableSessionSharing, true);
    if (m_caFile.isEmpty()) {
        // Checked against the pin after the handshake, which has proved by
        // then that the server holds the certificate's key. The system's
        // authorities have no say, and copying them into each connection
        // costs milliseconds.
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        c.setCaCertificates({});
    } else {
        c.setCaCertificates(m_authorities);
        c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    }
    return c;
}

QString ServerTrust::fingerprint(const QSslCertificate &certificate)
{
    const QByteArray hex = certificate.digest(QCryptographicHash::Sha256).toHex().toUpper();
    QString out;
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        if (i > 0)
            out += QLatin1Char(':');
        out += QLatin1String(hex.mid(i, 2));
    }
    return out;
}

QString ServerTrust::pinName(const QString &host, int port)
{
    return host.trimmed().toLower() + QLatin1Char(':') + QString::number(port);
}

QString ServerTrust::describe(const QList<QSslError> &errors, const QString &host, const QString &caFile)
{
    // An expired or misnamed certificate that is its own authority is also
    // "not signed" by it to OpenSSL; the specific reason is the one to tell.
    const auto specific = [](const QSslError &e) {
        switch (e.error()) {
        case QSslError::CertificateExpired:
        case QSslError::CertificateNotYetValid:
        case QSslError::HostNameMismatch:
        case QSslError::CertificateRevoked:
            return true;
        default:
            return false;
        }
    };
    const bool anySpecific = std::any_of(errors.cbegin(), errors.cend(), specific);
    QStringList reasons;
    for (const QSslError &e : errors) {
        if (anySpecific && !specific(e))
            continue;
        const QString r = reason(e, host, caFile);
        if (!reasons.contains(r))
            reasons << r;
    }
    return reasons.join(QStringLiteral("; "));
}

bool ServerTrust::namesHost(const QSslCertificate &certificate, const QString &host)
{
    const QString wanted = host.trimmed().toLower();
    const QHostAddress address(wanted);
    const auto names = certificate.subjectAlternativeNames();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        if (!address.isNull()) {
            if (it.key() == QSsl::IpAddressEntry && QHostAddress(it.value()) == address)
                return true;
            continue;
        }
        if (it.key() != QSsl::DnsEntry)
            continue;
        const QString name = it.value().trimmed().toLower();
        if (name == wanted)
            return true;
        // "*.example.com": one whole label, the leftmost, and never the
        // name of a domain of its own ("*.com").
        if (name.startsWith(QLatin1String("*.")) && name.count(QLatin1Char('.')) >= 2) {
            const qsizetype dot = wanted.indexOf(QLatin1Char('.'));
            if (dot > 0 && wanted.mid(dot) == name.mid(1))
                return true;
        }
    }
    return false;
}

QString ServerTrust::nameMismatch(const QSslCertificate &certificate, const QString &host)
{
    if (namesHost(certificate, host))
        return QString();
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        names << it.value();
    if (names.isEmpty())
        return QStringLiteral("el certificado nombra al equipo solo en su nombre común (CN), que no se admite; "
                              "debe llevar %1 entre sus nombres alternativos (subjectAltName)")
            .arg(host);
    return QStringLiteral("el certificado es de %1, no de %2").arg(names.join(QStringLiteral(", ")), host);
}

QString ServerTrust::check(const QSslSocket &socket, const QString &host, int port) const
{
    const QString endpoint = host + QLatin1Char(':') + QString::number(port);
    const QSslCertificate presented = socket.peerCertificate();
    if (presented.isNull())
        return QStringLiteral("El servidor de aplicaciones %1 no presentó ningún certificado: no se envió nada")
            .arg(endpoint);
    if (!m_caFile.isEmpty()) {
        // The handshake verified the chain, and the name against the
        // common name too: only the subject's alternative names count.
        const QString why = nameMismatch(presented, host);
        if (why.isEmpty())
            return QString();
        return QStringLiteral("El certificado del servidor de aplicaciones %1 no es válido: %2. No se envió nada.")
            .arg(endpoint, why);
    }
    const QString seen = fingerprint(presented);
    platform::TSettingsStore store;
    const QString name = pinName(host, port);
    if (store.OpenKey(QLatin1String(PinKey), false) && store.ValueExists(name)) {
        const QString known = store.ReadString(name);
        if (known.compare(seen, Qt::CaseInsensitive) == 0)
            return QString();
        return QStringLiteral("El certificado del servidor de aplicaciones %1 no es el de siempre: la huella SHA-256 "
                              "conocida es %2 y el servidor presenta %3. Puede ser otro equipo que se hace pasar por "
                              "el servidor; no se envió nada. Si el administrador cambió el certificado, borre el "
                              "valor \"%4\" de \"%5\" o instale el archivo de la autoridad de certificación.")
            .arg(endpoint, known, seen, name, QString::fromLatin1(PinKey).mid(1));
    }
    store.OpenKey(QLatin1String(PinKey), true);
    store.WriteString(name, seen);
    return QString();
}

QString ServerTrust::handshakeFailure(const QSslSocket &socket, const QString &endpoint) const
{
    if (!socket.sslHandshakeErrors().isEmpty()) {
        const QString host = endpoint.left(endpoint.lastIndexOf(QLatin1Char(':')));
        return QStringLiteral("El certificado del servidor de aplicaciones %1 no es válido: %2. No se envió nada.")
            .arg(endpoint, describe(socket.sslHandshakeErrors(), host, m_caFile));
    }
    // What OpenSSL says when the first bytes back are no TLS record: the
    // server answered in the clear.
    const QString why = socket.errorString();
    if (why.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive)
        || why.contains(QLatin1String("packet length too long"), Qt::CaseInsensitive)
        || why.contains(QLatin1String("record layer failure"), Qt::CaseInsensitive))
        return QStringLiteral("El servidor de aplicaciones %1 no usa una conexión cifrada (TLS): no se envió nada. "
                              "Compruebe la dirección y el puerto, o actualice el servidor.")
            .arg(endpoint);
    return QStringLiteral("No se puede establecer una conexión cifrada con el servidor de aplicaciones %1: %2")
        .arg(endpoint, why);
}

} // namespace vorel
