#pragma once
// The server's TLS identity: the certificate and key it presents, read from
// files an administrator installed, or made here (self-signed) when none
// were given, so that a fresh server is encrypted from its first start.
#include <QDateTime>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

namespace vorel::server::tls {

struct Identity {
    QByteArray certificatePem;
    QByteArray keyPem;
};

// A self-signed certificate for `names` (host names and IP addresses; the
// first is also the common name): an EC P-256 key, signed with SHA-256,
// usable as its own certificate authority so that clients can be given the
// certificate itself as their CA file. Throws vorel::Exception.
Identity makeSelfSigned(const QStringList &names, const QDateTime &notBefore, const QDateTime &notAfter);

// The names a certificate of this machine answers to: its host name,
// "localhost", and the addresses of its interfaces.
QStringList machineNames();

// Default files, in `folder`: "vorel-server.crt" and "vorel-server.key".
QString certificateFileIn(const QString &folder);
QString keyFileIn(const QString &folder);

// Writes the pair, each aside and renamed into place, the key readable by
// its owner only. False with *error set.
bool writeIdentity(const Identity &identity, const QString &certificateFile, const QString &keyFile,
                   QString *error);

// Makes a pair for this machine (valid ten years) unless `certificateFile`
// exists; *made tells whether it did. False with *error set.
bool ensureIdentity(const QString &certificateFile, const QString &keyFile, bool *made, QString *error);

// The server side of every connection: the certificate (and the chain the
// file holds after it) with its key, TLS 1.2 at least. False with *error set.
bool loadServerConfiguration(const QString &certificateFile, const QString &keyFile, QSslConfiguration *out,
                             QString *error);

// SHA-256 fingerprint of the first certificate of a PEM file, as clients
// show it; empty with *error set when there is none.
QString fingerprintOf(const QString &certificateFile, QString *error);

// What the server offers: TLS 1.3's suites as they are and, on TLS 1.2,
// only ECDHE key exchanges with AES-GCM or ChaCha20-Poly1305.
QList<QSslCipher> serverCiphers();

} // namespace vorel::server::tls
