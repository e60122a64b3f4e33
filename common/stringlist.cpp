#include "common/stringlist.h"
#include "common/exception.h"

namespace vorel {

const TStringList::Item &TStringList::at(int index) const
{
    if (index < 0 || index >= m_items.size())
        throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
    return m_items.at(index);
}

int TStringList::AddObject(const QString &s, QObject *o)
{
    m_items.append(Item{s, o});
    return int(m_items.size()) - 1;
}

void TStringList::InsertObject(int index, const QString &s, QObject *o)
{
    if (index < 0 || index > m_items.size())
        throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
    m_items.insert(index, Item{s, o});
}

void TStringList::Delete(int index)
{
    at(index);
    m_items.removeAt(index);
}

const QString &TStringList::Strings(int index) const { return at(index).text; }

void TStringList::SetString(int index, const QString &s)
{
    at(index);
    m_items[index].text = s;
}

QObject *TStringList::Objects(int index) const { return at(index).object; }

int TStringList::IndexOf(const QString &s) const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items.at(i).text == s)
            return i;
    return -1;
}

int TStringList::IndexOfObject(const QObject *o) const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items.at(i).object == o)
            return i;
    return -1;
}

QString TStringList::Text() const
{
    QString t;
    for (const Item &i : m_items)
        t += i.text + QLatin1String("\r\n");
    return t;
}

} // namespace vorel
