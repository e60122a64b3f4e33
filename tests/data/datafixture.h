#pragma once
// A server with one table of known rows and a logged-in connection to it.
#include "common/exception.h"
#include "data/connection.h"
#include "support/testserver.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace vorel::test {

// TDATOS: ID 1..120 in order of arrival. Known values:
//   PRECIO: row 1 12.5, row 2 3, row 3 1234567.25; NULL every 17th row;
//           otherwise (ID * 37) % 101 + 0.5 so text order differs from numeric.
//   NOMBRE: NULL every 15th row, otherwise one of kNames by ID % size.
//   FECHA:  2024-01-(ID % 28 + 1); rows whose ID is a multiple of 10 carry 13:45:10.
//   DATOS:  row 1 the bytes 0..255, row 2 "Ñandú" as UTF-8 text, else NULL.
inline const QStringList kNames{QStringLiteral("beta"), QStringLiteral("Alfa"), QStringLiteral("gamma"),
                                QStringLiteral("ALFA"), QStringLiteral("Delta"), QStringLiteral("Ñandú"),
                                QStringLiteral("alfa")};
constexpr int kRowCount = 120;

inline QString nombreOf(int id) { return id % 15 == 0 ? QString() : kNames.at(id % kNames.size()); }

inline QByteArray allBytes()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    return b;
}

// The rows in the Oracle form either database loads; row 1's bytes come
// from the file kAllBytesFile beside the script.
inline const QString kAllBytesFile = QStringLiteral("todos.bin");

inline QString dataScript()
{
    QString s = QStringLiteral(
        "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (1, 'Prueba', 'clave');\n"
        "CREATE TABLE TDATOS (ID NUMBER(8) NOT NULL, NOMBRE VARCHAR2(40), PRECIO NUMBER(12,2), FECHA DATE, "
        "DATOS BLOB);\n");
    for (int id = 1; id <= kRowCount; ++id) {
        QString precio;
        if (id == 1)
            precio = QStringLiteral("12.5");
        else if (id == 2)
            precio = QStringLiteral("3");
        else if (id == 3)
            precio = QStringLiteral("1234567.25");
        else if (id % 17 == 0)
            precio = QStringLiteral("NULL");
        else
            precio = QString::number((id * 37) % 101) + QStringLiteral(".5");
        const QString nombre = nombreOf(id).isNull() ? QStringLiteral("NULL") : QLatin1Char('\'') + nombreOf(id) + QLatin1Char('\'');
        QString fecha = QStringLiteral("2024-01-%1").arg(id % 28 + 1, 2, 10, QLatin1Char('0'));
        fecha += id % 10 == 0 ? QStringLiteral(" 13:45:10") : QStringLiteral(" 00:00:00");
        QString datos = QStringLiteral("NULL");
        if (id == 1)
            datos = QStringLiteral("FILE('%1')").arg(kAllBytesFile);
        else if (id == 2)
            datos = QStringLiteral("'Ñandú'");
        s += QStringLiteral("INSERT INTO TDATOS VALUES (%1, %2, %3, TIMESTAMP '%4', %5);\n").arg(id).arg(nombre, precio, fecha, datos);
    }
    return s;
}

inline const QString kSelectAll = QStringLiteral("SELECT ID, NOMBRE, PRECIO, FECHA, DATOS FROM TDATOS ORDER BY ID");

// Starts the server (once per test program) and opens logged-in connections.
class DataFixture
{
public:
    // False with error() telling why.
    bool start()
    {
        if (m_server && m_server->running())
            return true;
        m_error.clear();
        if (!m_scripts.isValid())
            return fail(QStringLiteral("cannot create a temporary folder: ") + m_scripts.errorString());
        if (!write(kAllBytesFile, allBytes()) || !write(QStringLiteral("datos.sql"), dataScript().toUtf8()))
            return false;
        TestServer::Options o;
        o.demo = false;
        o.oracleScripts = QStringList{m_scripts.filePath(QStringLiteral("datos.sql"))};
        m_server = std::make_unique<TestServer>(o);
        QString error;
        if (!m_server->start(&error))
            return fail(error);
        return true;
    }

    QString error() const { return m_error; }

    TestServer &server() { return *m_server; }

    std::unique_ptr<TSocketConnection> connect()
    {
        auto c = std::make_unique<TSocketConnection>();
        c->SetHost(m_server->host());
        c->SetPort(m_server->port());
        c->SetTimeout(30000);
        c->Open();
        c->Call(QStringLiteral("Login"),
                {QStringLiteral("1"), QStringLiteral("clave"), QStringLiteral("PRUEBA"), QStringLiteral("127.0.0.1")});
        return c;
    }

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    bool write(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_scripts.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush())
            return fail(QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString()));
        return true;
    }

    QString m_error;
    QTemporaryDir m_scripts;
    std::unique_ptr<TestServer> m_server;
};

} // namespace vorel::test
