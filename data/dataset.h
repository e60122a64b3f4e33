#pragma once
#include "common/vorelglobal.h"
#include "data/connection.h"
#include "data/protocol.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <deque>
#include <memory>
#include <vector>

namespace vorel {

class TSocketConnection;
class TClientDataSet;

enum class TFieldType { Unknown, Integer, Float, String, DateTime, Blob };

// One column of a remote dataset, with the presentation properties the
// client sets on it (label, visibility, width, currency, tag).
class VOREL_CORE_EXPORT TField
{
public:
    TField(TClientDataSet *owner, int index, const proto::Column &column);

    QString FieldName() const { return m_name; }
    // The label when one is set, else the name.
    QString DisplayName() const { return m_label.isEmpty() ? m_name : m_label; }
    QString DisplayLabel() const { return DisplayName(); }
    void SetDisplayLabel(const QString &label) { m_label = label; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool v) { m_visible = v; }
    int DisplayWidth() const { return m_displayWidth; }
    void SetDisplayWidth(int chars) { m_displayWidth = chars; }
    bool Currency() const { return m_currency; }
    void SetCurrency(bool c) { m_currency = c; }
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }
    TFieldType DataType() const { return m_type; }
    bool IsDateTime() const { return m_type == TFieldType::DateTime; }
    bool IsNumeric() const { return m_type == TFieldType::Integer || m_type == TFieldType::Float; }
    int Index() const { return m_index; }      // zero-based position
    int FieldNo() const { return m_index + 1; } // one-based

    // Values of the current row. A field of a closed dataset or of an empty
    // result reads as NULL: empty text, 0.
    QVariant AsVariant() const;
    bool IsNull() const;
    QString AsString() const;   // dates in the process-wide short date format
    double AsFloat() const;     // throws vorel::Exception for non-numeric text
    qint64 AsInteger() const;   // likewise
    QByteArray AsBytes() const;
    // Writes the blob (or text) value to a file, replacing it. Written to a
    // temporary name first, so a failure never leaves a half-written file.
    void SaveToFile(const QString &path) const;

    // Text of an arbitrary value as this field would show it.
    QString TextOf(const QVariant &v) const;
    QString TextOf(const proto::Cell &c) const;
    // Number of an arbitrary value as AsFloat reads it (NULL as 0); throws
    // like AsFloat.
    double FloatOf(const QVariant &v) const;
    double FloatOf(const proto::Cell &c) const;

private:
    friend class TClientDataSet; // keeps fields across a reopen
    proto::Cell cell() const;
    TClientDataSet *m_owner;
    int m_index;
    QString m_name;
    QString m_label;
    bool m_visible = true;
    int m_displayWidth = 0;
    bool m_currency = false;
    int m_tag = 0;
    TFieldType m_type;
};

// A client-side record set bound to a connection and a provider. Rows arrive
// in packets of PacketRecords (-1: all at once); further packets are fetched
// as the client walks forward.
class VOREL_CORE_EXPORT TClientDataSet : public QObject
{
    Q_OBJECT
public:
    explicit TClientDataSet(QObject *owner = nullptr);
    ~TClientDataSet() override;

    QString ProviderName() const { return m_provider; }
    void SetProviderName(const QString &p) { m_provider = p; }
    TSocketConnection *RemoteServer() const { return m_connection; }
    void SetRemoteServer(TSocketConnection *c);
    QString CommandText() const { return m_commandText; }
    void SetCommandText(const QString &sql) { m_commandText = sql; }
    int PacketRecords() const { return m_packetRecords; }
    void SetPacketRecords(int n) { m_packetRecords = n; }

    // Runs the SELECT; the first row becomes current. Fields whose name the
    // new result still has are kept (same object, same presentation
    // properties); the others are freed.
    void Open();
    // Open, but the SELECT goes out and the answer is read where the dataset
    // is first used, so that the requests made in between need not wait for
    // it: the first use throws what Open would have thrown, and only then do
    // AfterOpen and AfterScroll come. For a dataset that the code itself
    // reads before it returns to the event loop.
    void OpenAhead();
    // The same for an open dataset whose command changed: the rows held stay
    // until the new answer is read, and stay for good when a request sent
    // before it fails, as they would if each request waited.
    void ReopenAhead();
    // Reads the answer of an OpenAhead now, throwing what Open would have.
    void Settle() { settle(); }
    void Close();  // frees the server cursor; no-op when closed
    bool Active() const;
    // Open, its answer not read yet.
    bool Opening() const { return m_opening != 0; }

    void First();
    void Next();
    bool Eof() const;
    bool IsEmpty() const;
    int RecNo() const;                 // one-based position in the shown order, 0 when empty
    void MoveTo(int row);              // zero-based, in the shown order
    int CurrentRow() const { settle(); return m_current; } // zero-based, -1 when none

    int FieldCount() const { settle(); return int(m_fields.size()); }
    TField *Fields(int index) const;              // throws when out of range
    TField *FieldByName(const QString &name) const; // case-insensitive; throws "Field 'X' not found"
    TField *FindField(const QString &name) const;   // nullptr when missing

    // Local ordering of the rows held: field names separated by ';'. Empty
    // means the order of arrival.
    QString IndexFieldNames() const { return m_indexFieldNames; }
    void SetIndexFieldNames(const QString &names);

    // Rows held so far and whether the server has more.
    int RecordCountFetched() const { settle(); return int(m_rows.size()); }
    bool AllFetched() const { settle(); return m_serverEof; }
    // Rows are left on the server in a cursor of a session that is gone
    // (the connection opened another): they can only be asked again.
    bool RowsLost() const;
    bool FetchMore();         // one more packet; false when nothing came
    void FetchAll();
    // Asks the server for the next `count` rows without waiting; the next
    // FetchMore takes the packets so asked, in order, whatever PacketRecords
    // says by then. Nothing is asked once all rows are here; packets still
    // on their way when one brings the last row are dropped.
    void PrefetchMore(int count);
    int Prefetching() const { return int(m_prefetches.size()); } // packets on their way
    // Bytes the held rows take as coded.
    qint64 BytesFetched() const { settle(); return m_bytes; }
    // Value of a held row in the shown order; used by the grid model.
    QVariant ValueAt(int row, int field) const;
    // The same value read in place: valid while the dataset keeps its rows
    // (until it is closed or reopened). NULL when out of range.
    proto::Cell CellAt(int row, int field) const;
    // The coded values of a held row in the shown order, valid as CellAt's
    // cells are, for reading them one after another (RowBlock::readCell);
    // null when out of range.
    const char *RowDataAt(int row) const;

Q_SIGNALS:
    void AfterScroll(vorel::TClientDataSet *dataSet); // the current row moved (open included)
    void AfterOpen();
    void AfterClose();
    void RowsAppended(int first, int last);  // shown-order rows first..last arrived at the end
    void RowsReordered();                   // the index changed the shown order

private:
    friend class TField;
    // Reads the answer of the Open sent, when there is one to read.
    void settle() const
    {
        if (m_opening)
            const_cast<TClientDataSet *>(this)->finishOpen();
    }
    void finishOpen();
    // An open whose pipeline failed, the failure thrown already, ends as if
    // each request had waited: skipped, the dataset is as it was before;
    // failed itself, closed. Quietly; true when it was such an open.
    bool dropAbandonedOpen();
    // What Close does to the rows and the cursor held, and its signal.
    void closeHeld();
    proto::Cell currentCell(int field) const;
    void appendRows(proto::RowBlock &&block, bool notify = true);
    void rebuildOrder();
    void checkActive(const char *op) const;
    void releaseCursor();
    void dropPrefetches();
    void dropRows();
    proto::RowBlock nextPacket(int count);

    QString m_provider;
    QPointer<TSocketConnection> m_connection;
    QString m_commandText;
    int m_packetRecords = -1;
    bool m_active = false;
    quint64 m_opening = 0;            // ticket of the Open whose answer is unread
    bool m_reopening = false;         // and the rows of the open before it are still held
    bool m_serverEof = true;
    bool m_eof = true;
    quint32 m_cursor = 0;
    int m_current = -1;
    std::vector<std::unique_ptr<TField>> m_fields;
    // The packets as they arrived, and where each row's coded values start
    // in them, in order of arrival.
    std::vector<proto::RowBlock> m_blocks;
    std::vector<const char *> m_rows;
    std::vector<int> m_order;         // shown order -> arrival index
    qint64 m_bytes = 0;
    std::deque<quint64> m_prefetches; // tickets of the packets asked ahead
    QString m_prefetchFailure;        // asking ahead failed: told at the next fetch
    QString m_indexFieldNames;
};

// Process-wide short date format (the shell sets "DD/MM/YYYY" at start-up).
VOREL_CORE_EXPORT void SetShortDateFormat(const QString &format);
VOREL_CORE_EXPORT QString ShortDateFormat();
// Text of a date-time in that format; the time is added when not midnight.
VOREL_CORE_EXPORT QString DateTimeToStr(const QDateTime &dt);
// Reads a date (and optional time) written in that format; invalid when not.
// Like the dates a dataset reads, the result is a Qt::UTC wall-clock reading.
VOREL_CORE_EXPORT QDateTime StrToDateTime(const QString &text);

} // namespace vorel
