#include "browser/columnlayout.h"

#include "common/platform.h"
#include "data/dataset.h"
#include "data/datasetmodel.h"

#include <QHash>
#include <QHeaderView>
#include <QStringList>

namespace vorel {

namespace {

const QString MainKey = QStringLiteral("\\Software\\Vorel7");

// The user's key under the database's key, opened in `store`; false for no
// user, or for a name that would reach into another key.
bool openLayoutKey(platform::TSettingsStore &store, const QString &user, const QString &database, bool create)
{
    const QChar separator = QLatin1Char('\\');
    if (user.isEmpty() || user.contains(separator) || database.contains(separator))
        return false;
    QString key = MainKey;
    if (!database.isEmpty())
        key += separator + database;
    return store.OpenKey(key + QStringLiteral("\\Columnas\\") + user, create);
}

} // namespace

QString ColumnLayoutText(const QHeaderView &header, const TDataSetModel &model)
{
    const TClientDataSet *data = model.DataSet();
    QStringList parts;
    for (int visual = 0; data && visual < header.count(); ++visual) {
        const int field = model.FieldIndexOfColumn(header.logicalIndex(visual));
        if (field >= 0)
            parts << data->Fields(field)->FieldName() + QLatin1Char(':')
                         + QString::number(header.sectionSize(header.logicalIndex(visual)));
    }
    return parts.join(QLatin1Char(','));
}

void ApplyColumnLayout(QHeaderView &header, const TDataSetModel &model, const QString &text)
{
    const TClientDataSet *data = model.DataSet();
    if (!data || text.isEmpty())
        return;
    QHash<QString, int> columnOf;
    for (int c = 0; c < model.columnCount(); ++c)
        columnOf.insert(data->Fields(model.FieldIndexOfColumn(c))->FieldName().toUpper(), c);
    int place = 0;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype colon = part.lastIndexOf(QLatin1Char(':'));
        const int column = columnOf.value(part.left(colon).toUpper(), -1);
        if (colon < 0 || column < 0)
            continue;
        header.moveSection(header.visualIndex(column), place++);
        bool ok = false;
        const int width = part.mid(colon + 1).toInt(&ok);
        if (ok && width > 0)
            header.resizeSection(column, width);
    }
}

void ResetColumnOrder(QHeaderView &header)
{
    for (int logical = 0; logical < header.count(); ++logical)
        header.moveSection(header.visualIndex(logical), logical);
}

QString StoredColumnLayout(const QString &user, const QString &database, const QString &classId)
{
    platform::TSettingsStore store;
    return openLayoutKey(store, user, database, false) ? store.ReadString(classId) : QString();
}

void StoreColumnLayout(const QString &user, const QString &database, const QString &classId, const QString &text)
{
    platform::TSettingsStore store;
    if (openLayoutKey(store, user, database, true))
        store.WriteString(classId, text);
}

} // namespace vorel
