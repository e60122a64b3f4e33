#pragma once
#include "common/vorelglobal.h"

#include <QAbstractTableModel>
#include <QPointer>

namespace vorel {

class TClientDataSet;

// A grid model over a remote dataset: fetches packets lazily, shows display
// labels, hides invisible fields, right-aligns numbers, formats money and
// dates. Row r of the model is row r of the dataset's shown order; use
// SyncFromView/CurrentIndexChanged to keep the current row in step.
class VOREL_CORE_EXPORT TDataSetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TDataSetModel(QObject *parent = nullptr);
    ~TDataSetModel() override;

    void SetDataSet(TClientDataSet *ds);
    TClientDataSet *DataSet() const { return m_ds; }
    // Visible column -> field index.
    int FieldIndexOfColumn(int column) const;
    int ColumnOfField(int fieldIndex) const;
    // Re-read the field properties (labels, visibility) after they changed.
    void RefreshLayout();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

public Q_SLOTS:
    // The view moved to `row`: move the dataset there.
    void SetCurrentRow(int row);

Q_SIGNALS:
    // The dataset moved to `row`: the view should follow.
    void CurrentRowChanged(int row);
    // Fetching the next packet for the view failed; no further packets are
    // asked for until the model is reset. Carries the failure's message.
    void FetchFailed(const QString &message);

private:
    // A dataset whose open is still unanswered shows nothing yet: the view
    // must not wait for the server, nor meet its failure, while it paints.
    bool live() const;
    void reset();
    void rowsAppended(int first, int last);
    QPointer<TClientDataSet> m_ds;
    QList<int> m_columns; // visible column -> field index
    int m_rowsShown = 0;
    bool m_syncing = false;
    bool m_fetchFailed = false;
    int m_notifying = 0;        // inside begin/end of a model change
    bool m_fetchQueued = false;
};

} // namespace vorel
