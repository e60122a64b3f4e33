#include "data/datasetmodel.h"

#include "common/exception.h"
#include "data/dataset.h"
#include "data/datawalk.h"

#include <QLocale>
#include <QScopeGuard>

namespace vorel {

TDataSetModel::TDataSetModel(QObject *parent) : QAbstractTableModel(parent) {}

TDataSetModel::~TDataSetModel() = default;

bool TDataSetModel::live() const { return m_ds && m_ds->Active() && !m_ds->Opening(); }

void TDataSetModel::SetDataSet(TClientDataSet *ds)
{
    if (m_ds)
        m_ds->disconnect(this);
    m_ds = ds;
    if (ds) {
        connect(ds, &TClientDataSet::AfterOpen, this, &TDataSetModel::reset);
        connect(ds, &TClientDataSet::AfterClose, this, &TDataSetModel::reset);
        connect(ds, &TClientDataSet::RowsReordered, this, &TDataSetModel::reset);
        connect(ds, &TClientDataSet::destroyed, this, &TDataSetModel::reset);
        connect(ds, &TClientDataSet::RowsAppended, this, &TDataSetModel::rowsAppended);
        connect(ds, &TClientDataSet::AfterScroll, this, [this](TClientDataSet *d) {
            if (!m_syncing)
                Q_EMIT CurrentRowChanged(d->CurrentRow());
        });
    }
    reset();
}

void TDataSetModel::reset()
{
    ++m_notifying;
    const auto done = qScopeGuard([this] { --m_notifying; });
    beginResetModel();
    m_columns.clear();
    m_rowsShown = 0;
    m_fetchFailed = false;
    if (live()) {
        for (int i = 0; i < m_ds->FieldCount(); ++i)
            if (m_ds->Fields(i)->Visible())
                m_columns.append(i);
        m_rowsShown = m_ds->RecordCountFetched();
    }
    endResetModel();
    Q_EMIT CurrentRowChanged(live() ? m_ds->CurrentRow() : -1);
}

void TDataSetModel::rowsAppended(int first, int last)
{
    if (first != m_rowsShown || last < first) {
        reset();
        return;
    }
    ++m_notifying;
    const auto done = qScopeGuard([this] { --m_notifying; });
    beginInsertRows(QModelIndex(), first, last);
    m_rowsShown = last + 1;
    endInsertRows();
}

void TDataSetModel::RefreshLayout() { reset(); }

int TDataSetModel::FieldIndexOfColumn(int column) const { return m_columns.value(column, -1); }

int TDataSetModel::ColumnOfField(int fieldIndex) const { return int(m_columns.indexOf(fieldIndex)); }

int TDataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowsShown;
}

int TDataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TDataSetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !live() || index.row() >= m_rowsShown || index.column() >= m_columns.size())
        return QVariant();
    const int fieldIndex = m_columns.at(index.column());
    const TField *field = m_ds->Fields(fieldIndex);
    // Read in place from the rows held: no row is walked or copied.
    const proto::Cell c = m_ds->CellAt(index.row(), fieldIndex);
    const bool number = c.type == proto::ValueType::Integer || c.type == proto::ValueType::Float;
    switch (role) {
    case Qt::DisplayRole: {
        if (c.isNull())
            return QString();
        if (field->Currency() && number)
            // The same money text as the statistics of the column.
            return StatisticText(c.type == proto::ValueType::Integer ? double(c.integer) : c.real, true);
        return field->TextOf(c);
    }
    case Qt::EditRole:
        return c.toVariant();
    case Qt::AccessibleDescriptionRole:
        // A screen reader names the column with the value.
        return field->DisplayLabel();
    case Qt::TextAlignmentRole: {
        const bool numeric = field->IsNumeric() || (field->DataType() == TFieldType::Unknown && number);
        return QVariant::fromValue(Qt::Alignment((numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    default:
        return QVariant();
    }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && live() && section >= 0 && section < m_columns.size()) {
        const TField *field = m_ds->Fields(m_columns.at(section));
        if (role == Qt::DisplayRole)
            return field->DisplayLabel();
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(
                (field->IsNumeric() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
        return QVariant();
    }
    return QAbstractTableModel::headerData(section, o, role);
}

bool TDataSetModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && live() && !m_ds->AllFetched() && !m_fetchFailed;
}

void TDataSetModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    if (m_notifying > 0) {
        // Asked from inside a change notification (a listener reacting to
        // new rows): inserting now would nest one change in another.
        if (!m_fetchQueued) {
            m_fetchQueued = true;
            QMetaObject::invokeMethod(this, [this] {
                m_fetchQueued = false;
                fetchMore(QModelIndex());
            }, Qt::QueuedConnection);
        }
        return;
    }
    // Views call this from their event handlers: a failure must not escape
    // into the event loop. It stops further fetching and is reported.
    try {
        m_ds->FetchMore();
    } catch (const Exception &e) {
        m_fetchFailed = true;
        Q_EMIT FetchFailed(e.message());
    }
}

void TDataSetModel::SetCurrentRow(int row)
{
    if (m_syncing || !live() || row < 0 || row >= m_rowsShown || m_ds->CurrentRow() == row)
        return;
    m_syncing = true;
    const auto done = qScopeGuard([this] { m_syncing = false; });
    m_ds->MoveTo(row);
}

} // namespace vorel
