// The per-user settings store as one text file of sections, one per key:
//   [Software\Vorel7]
//   Login=1001
// Key paths and value names compare without regard to case; the spelling a
// key or value was first written with is the one kept in the file.
#include "common/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vorel::platform {

namespace {
QString escape(const QString &s, bool name)
{
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (name && c == u'=')
            out += QStringLiteral("\\e");
        else
            out += c;
    }
    return out;
}

QString unescape(QStringView s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != u'\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        const QChar n = s[++i];
        if (n == u'n')
            out += u'\n';
        else if (n == u'r')
            out += u'\r';
        else if (n == u'e')
            out += u'=';
        else
            out += n;
    }
    return out;
}

// Index of the first '=' that is not escaped; names escape theirs.
qsizetype separator(const QString &line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\\')
            ++i;
        else if (line[i] == u'=')
            return i;
    }
    return -1;
}

// Key paths keep their backslashes, which separate the keys; a line break
// or another control character in a key's name (a database name, say) must
// not end the section line and start lines of its own. Such characters, and
// '%', are written as %XX.
QString encodeSection(const QString &path)
{
    QString out;
    out.reserve(path.size());
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c == u'%' || c.unicode() == 0x7f)
            out += u'%' + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString decodeSection(QStringView line)
{
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        bool ok = false;
        const auto hex = [](QChar c) { return c.isDigit() || (c >= u'A' && c <= u'F'); };
        const uint code = line[i] == u'%' && i + 2 < line.size() && hex(line[i + 1]) && hex(line[i + 2])
            ? line.mid(i + 1, 2).toUInt(&ok, 16)
            : 0;
        if (ok) {
            out += QChar(char16_t(code));
            i += 2;
        } else {
            out += line[i];
        }
    }
    return out;
}

} // namespace

TSettingsStore::TSettingsStore()
{
    load();
}

TSettingsStore::~TSettingsStore() = default;

QString TSettingsStore::StorageFile()
{
    QString dir = qEnvironmentVariable("VOREL_CONFIG_DIR");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Vorel");
    return QDir(dir).filePath(QStringLiteral("settings.ini"));
}

void TSettingsStore::load()
{
    m_keys.clear();
    m_keyNames.clear();
    QFile f(StorageFile());
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(f.readAll());
    QString section;
    bool inSection = false;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = normalised(decodeSection(QStringView(line).mid(1, line.size() - 2)));
            m_keyNames.insert(section.toLower(), section);
            m_keys[section.toLower()];
            inSection = true;
            continue;
        }
        const qsizetype eq = separator(line);
        if (!inSection || eq <= 0)
            continue;
        const QString name = unescape(QStringView(line).left(eq));
        const QString value = unescape(QStringView(line).mid(eq + 1));
        m_keys[section.toLower()].insert(name.toLower(), Value{name, value});
    }
}

void TSettingsStore::save() const
{
    const QString file = StorageFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QString text;
    for (auto k = m_keys.cbegin(); k != m_keys.cend(); ++k) {
        text += u'[' + encodeSection(m_keyNames.value(k.key(), k.key())) + QStringLiteral("]\n");
        for (const Value &v : k.value())
            text += escape(v.name, true) + u'=' + escape(v.value, false) + u'\n';
        text += u'\n';
    }
    // Written aside and renamed over the old file: a crash or a full disk
    // never leaves the user without their settings.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write(text.toUtf8());
    out.commit();
}

bool TSettingsStore::OpenKey(const QString &key, bool create)
{
    const std::optional<QString> target = resolve(key);
    if (!target)
        return true;
    const QString &path = *target;
    if (path.isEmpty()) {
        m_current.clear();
        return true;
    }
    // Another store in the process (or another process) may have written
    // since this one was opened.
    load();
    const QString lower = path.toLower();
    if (m_keyNames.contains(lower)) {
        m_current = m_keyNames.value(lower);
        return true;
    }
    if (!create)
        return false;
    // A new key brings its missing parents with it, as nested keys do.
    const QStringList parts = path.split(u'\\');
    QString prefix;
    for (const QString &part : parts) {
        prefix = prefix.isEmpty() ? part : prefix + u'\\' + part;
        if (!m_keyNames.contains(prefix.toLower())) {
            m_keyNames.insert(prefix.toLower(), prefix);
            m_keys[prefix.toLower()];
        }
    }
    save();
    m_current = m_keyNames.value(lower);
    return true;
}

void TSettingsStore::CloseKey()
{
    m_current.clear();
}

bool TSettingsStore::ValueExists(const QString &name) const
{
    const auto k = m_keys.constFind(m_current.toLower());
    return k != m_keys.cend() && k->contains(name.toLower());
}

QString TSettingsStore::ReadString(const QString &name) const
{
    const auto k = m_keys.constFind(m_current.toLower());
    if (k == m_keys.cend())
        return QString();
    return k->value(name.toLower()).value;
}

void TSettingsStore::WriteString(const QString &name, const QString &value)
{
    load(); // keep what others wrote since
    const QString key = m_current.toLower();
    if (!m_keyNames.contains(key))
        m_keyNames.insert(key, m_current);
    auto &values = m_keys[key];
    auto v = values.find(name.toLower());
    if (v == values.end())
        values.insert(name.toLower(), Value{name, value});
    else
        v->value = value;
    save();
}

} // namespace vorel::platform
