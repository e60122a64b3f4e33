#pragma once
// The cursors one session holds open, by the number the client names them
// by: numbered from 1 in the order they were opened, at most
// Database::kMaxCursors at once.
#include "common/exception.h"
#include "server/core/database.h"

#include <QString>
#include <map>
#include <memory>

namespace vorel::server {

template <typename Cursor>
class CursorTable
{
public:
    using Map = std::map<quint32, std::unique_ptr<Cursor>>;

    // Throws, in the client's words, when no further cursor may be opened.
    void checkRoom() const
    {
        if (int(m_cursors.size()) >= Database::kMaxCursors)
            throw vorel::Exception(QString::fromUtf8(answers::kTooManyCursors));
    }
    // The next number; a backend may spend some on names of its own.
    quint32 nextId() { return m_next++; }
    // The cursor the client names; throws for one it does not hold.
    typename Map::iterator at(quint32 id)
    {
        const auto it = m_cursors.find(id);
        if (it == m_cursors.end())
            throw vorel::Exception(QStringLiteral("Cursor desconocido: %1").arg(id));
        return it;
    }

    auto begin() { return m_cursors.begin(); }
    auto end() { return m_cursors.end(); }
    auto begin() const { return m_cursors.begin(); }
    auto end() const { return m_cursors.end(); }
    auto find(quint32 id) { return m_cursors.find(id); }
    template <typename... Args>
    auto emplace(Args &&...args) { return m_cursors.emplace(std::forward<Args>(args)...); }
    auto erase(typename Map::iterator it) { return m_cursors.erase(it); }
    auto erase(quint32 id) { return m_cursors.erase(id); }
    size_t size() const { return m_cursors.size(); }
    void clear() { m_cursors.clear(); }

private:
    Map m_cursors;
    quint32 m_next = 1;
};

} // namespace vorel::server
