#pragma once
#include "common/vorelglobal.h"

#include <QList>
#include <QString>

class QObject;

namespace vorel {

// A list of texts, each optionally carrying an object it does not own: the
// item id map of the shell, the method runs and relation keys of module
// windows, the drill-down history of the gateway.
class VOREL_CORE_EXPORT TStringList
{
public:
    int Count() const { return int(m_items.size()); }
    bool IsEmpty() const { return m_items.isEmpty(); }
    int Add(const QString &s) { return AddObject(s, nullptr); }
    int AddObject(const QString &s, QObject *o);
    void Insert(int index, const QString &s) { InsertObject(index, s, nullptr); }
    void InsertObject(int index, const QString &s, QObject *o);
    void Delete(int index);
    void Clear() { m_items.clear(); }
    const QString &Strings(int index) const;
    void SetString(int index, const QString &s);
    QObject *Objects(int index) const;
    // First index from the front, -1 when absent.
    int IndexOf(const QString &s) const;
    int IndexOfObject(const QObject *o) const;
    QString Text() const; // every line followed by CR LF

private:
    struct Item { QString text; QObject *object = nullptr; };
    const Item &at(int index) const;
    QList<Item> m_items;
};

} // namespace vorel
