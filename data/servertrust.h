#pragma once
// Whom a client believes it talks to. Every connection to an application
// server is TLS; before anything of the session is sent, the server's
// certificate must pass one of two checks:
//  - with a CA file, the chain must end at one of its certificates and name
//    the host the client asked for;
//  - without one, the certificate seen first for a host and port is kept in
//    the settings store and a later, different one is refused (trust on first
//    use, as SSH does).
// The CA file is, in this order: the file the environment variable
// VOREL_CA_FILE names, the value "CertCA" of "Software\Vorel7", or
// "vorel-ca.pem" beside the program when an administrator deployed one.
#include "common/vorelglobal.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QSslSocket;

namespace vorel {

class TlsSharedContext;

class VOREL_CORE_EXPORT ServerTrust
{
public:
    static constexpr const char *CaValue = "CertCA";
    static constexpr const char *CaFileName = "vorel-ca.pem";
    // Key of the certificates trusted on first use: one value per
    // "host:port", holding the certificate's fingerprint.
    static constexpr const char *PinKey = "\\Software\\Vorel7\\Certificados";

    // Reads the configuration in force; failure() tells when the CA file
    // named cannot be used (nothing may be sent then).
    ServerTrust();

    QString caFile() const { return m_caFile; }
    QString failure() const { return m_failure; }
    // TLS 1.2 at least; with a CA file, verification of chain and name by
    // the handshake itself.
    QSslConfiguration configuration() const;

    // The TLS context of every connection this thread makes with this
    // configuration (the same CA file, unchanged since, or none).
    TlsSharedContext &sharedContext() const;

    // After the handshake: empty when the server is to be trusted, else the
    // refusal shown to the user. `endpoint` is "host:port" as typed.
    QString check(const QSslSocket &socket, const QString &host, int port) const;
    // The refusal for a handshake that failed, in the user's words.
    QString handshakeFailure(const QSslSocket &socket, const QString &endpoint) const;

    // "AB:CD:...": SHA-256 of the certificate as stored, as `openssl x509
    // -fingerprint -sha256` prints it.
    static QString fingerprint(const QSslCertificate &certificate);
    static QString pinName(const QString &host, int port);
    // Whether `host` (a name or an address) is among the certificate's
    // subject alternative names; its common name does not count.
    static bool namesHost(const QSslCertificate &certificate, const QString &host);
    // Why the certificate is not for `host`, in the user's words; empty when it is.
    static QString nameMismatch(const QSslCertificate &certificate, const QString &host);
    // The reasons of a failed verification, in Spanish, joined by "; ".
    static QString describe(const QList<QSslError> &errors, const QString &host, const QString &caFile);

private:
    QString m_caFile;
    QString m_contextKey;
    QString m_failure;
    QList<QSslCertificate> m_authorities;
};

} // namespace vorel
