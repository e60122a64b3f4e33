#include "data/datasetmodel.h"
#include "data/datawalk.h"
#include "data/dataset.h"
#include "datafixture.h"

#include <QAbstractItemModelTester>
#include <QLocale>
#include <QSignalSpy>

using namespace vorel;
using namespace vorel::test;

class TstDataSetModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void modelTester();
    void lazyFetching();
    void columnsAndFormatting();
    void currentRowInStep();
    void resetsOnReorderAndClose();
    void fetchFailureReported();

private:
    DataFixture m_fixture;
    std::unique_ptr<TSocketConnection> m_conn;
    std::unique_ptr<TClientDataSet> m_ds;
    std::unique_ptr<TDataSetModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TstDataSetModel::initTestCase()
{
    QVERIFY2(QFileInfo::exists(TestServer::serverProgram()), "vorel-server is not built");
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.error()));
    m_conn = m_fixture.connect();
}

void TstDataSetModel::init()
{
    m_ds = std::make_unique<TClientDataSet>();
    m_ds->SetRemoteServer(m_conn.get());
    m_ds->SetProviderName(QStringLiteral("dspModulo"));
    m_ds->SetPacketRecords(2);
    m_ds->SetCommandText(kSelectAll);
    m_model = std::make_unique<TDataSetModel>();
    m_model->SetDataSet(m_ds.get());
}

void TstDataSetModel::cleanup()
{
    m_tester.reset();
    m_model.reset();
    m_ds.reset();
}

void TstDataSetModel::modelTester()
{
    // The tester itself asks for more rows after every change, so it walks
    // the whole dataset packet by packet while checking each step.
    m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(),
                                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_ds->Open();
    for (int i = 0; i < 7; ++i)
        m_ds->Next();
    m_model->SetCurrentRow(3);
    QCOMPARE(m_ds->CurrentRow(), 3);
    m_ds->FieldByName("FECHA")->SetVisible(false);
    m_model->RefreshLayout();
    QCOMPARE(m_model->columnCount(), 4);
    m_ds->SetIndexFieldNames(QStringLiteral("NOMBRE"));
    while (m_model->canFetchMore(QModelIndex()))
        m_model->fetchMore(QModelIndex());
    QCOMPARE(m_model->rowCount(), kRowCount);
    m_ds->SetIndexFieldNames(QString());
    m_ds->Close();
    QCOMPARE(m_model->rowCount(), 0);
    m_ds->SetCommandText(QStringLiteral("SELECT ID FROM TDATOS WHERE ID < 0"));
    m_ds->Open();
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 1);
}

void TstDataSetModel::lazyFetching()
{
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(!m_model->canFetchMore(QModelIndex()));
    m_ds->Open();
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(m_model->columnCount(), 5);
    QVERIFY(m_model->canFetchMore(QModelIndex()));
    QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
    m_model->fetchMore(QModelIndex());
    QCOMPARE(m_model->rowCount(), 4);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 2);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    // Walking the dataset past what it holds shows up as new rows too.
    for (int i = 0; i < 5; ++i)
        m_ds->Next();
    QCOMPARE(m_model->rowCount(), 6);
    QCOMPARE(m_model->data(m_model->index(5, 0)).toString(), QStringLiteral("6"));
    int guard = 0;
    while (m_model->canFetchMore(QModelIndex()) && ++guard < 100)
        m_model->fetchMore(QModelIndex());
    QCOMPARE(m_model->rowCount(), kRowCount);
    QVERIFY(!m_model->canFetchMore(QModelIndex()));
    for (int r = 0; r < kRowCount; ++r)
        QCOMPARE(m_model->data(m_model->index(r, 0)).toString(), QString::number(r + 1));
}

void TstDataSetModel::columnsAndFormatting()
{
    m_ds->Open();
    m_ds->FieldByName("DATOS")->SetVisible(false);
    m_ds->FieldByName("ID")->SetVisible(false);
    m_ds->FieldByName("PRECIO")->SetDisplayLabel(QStringLiteral("Precio unitario"));
    m_ds->FieldByName("PRECIO")->SetCurrency(true);
    m_model->RefreshLayout();
    QCOMPARE(m_model->columnCount(), 3);
    QCOMPARE(m_model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("NOMBRE"));
    QCOMPARE(m_model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Precio unitario"));
    QCOMPARE(m_model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("FECHA"));
    QCOMPARE(m_model->FieldIndexOfColumn(1), 2);
    QCOMPARE(m_model->FieldIndexOfColumn(3), -1);
    QCOMPARE(m_model->ColumnOfField(0), -1);
    QCOMPARE(m_model->ColumnOfField(3), 2);

    const auto align = [&](int col) {
        return m_model->data(m_model->index(0, col), Qt::TextAlignmentRole).value<Qt::Alignment>()
            & Qt::AlignHorizontal_Mask;
    };
    QCOMPARE(align(0), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(align(1), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(align(2), Qt::Alignment(Qt::AlignLeft));

    QCOMPARE(m_model->data(m_model->index(0, 1)).toString(), StatisticText(12.5, true));
    QCOMPARE(m_model->data(m_model->index(0, 1), Qt::EditRole).toDouble(), 12.5);
    QCOMPARE(m_model->data(m_model->index(0, 2)).toString(), QStringLiteral("02/01/2024"));
    QCOMPARE(m_model->data(m_model->index(0, 0)).toString(), nombreOf(1));

    // Without the money flag a number shows plainly.
    m_ds->FieldByName("PRECIO")->SetCurrency(false);
    m_model->fetchMore(QModelIndex());
    QCOMPARE(m_model->data(m_model->index(2, 1)).toString(), QStringLiteral("1234567.25"));
}

void TstDataSetModel::currentRowInStep()
{
    QSignalSpy changed(m_model.get(), &TDataSetModel::CurrentRowChanged);
    m_ds->Open();
    QVERIFY(!changed.isEmpty());
    QCOMPARE(changed.last().at(0).toInt(), 0);
    changed.clear();

    m_ds->Next();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.last().at(0).toInt(), 1);

    // The view moves the dataset; the model does not echo that back.
    QSignalSpy scrolled(m_ds.get(), &TClientDataSet::AfterScroll);
    m_model->SetCurrentRow(0);
    QCOMPARE(m_ds->CurrentRow(), 0);
    QCOMPARE(scrolled.count(), 1);
    QCOMPARE(changed.count(), 1);
    m_model->SetCurrentRow(50); // not shown yet: ignored
    QCOMPARE(m_ds->CurrentRow(), 0);
    m_model->SetCurrentRow(-1);
    QCOMPARE(m_ds->CurrentRow(), 0);
}

void TstDataSetModel::resetsOnReorderAndClose()
{
    m_ds->SetPacketRecords(-1);
    m_ds->Open();
    m_model->SetCurrentRow(4); // ID 5
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy changed(m_model.get(), &TDataSetModel::CurrentRowChanged);
    m_ds->SetIndexFieldNames(QStringLiteral("PRECIO"));
    QCOMPARE(resets.count(), 1);
    const int row = m_ds->CurrentRow();
    QCOMPARE(m_model->data(m_model->index(row, 0)).toString(), QStringLiteral("5"));
    QCOMPARE(changed.last().at(0).toInt(), row);
    QVERIFY(m_model->data(m_model->index(0, 2)).toString().isEmpty()); // NULL first

    m_ds->Close();
    QCOMPARE(resets.count(), 2);
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 0);
    QCOMPARE(changed.last().at(0).toInt(), -1);

    m_ds.reset(); // the model outlives its dataset
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(!m_model->DataSet());
}

void TstDataSetModel::fetchFailureReported()
{
    DataFixture own;
    QVERIFY2(own.start(), qPrintable(own.error()));
    auto conn = own.connect();
    m_ds->SetRemoteServer(conn.get());
    m_ds->Open();
    QSignalSpy failed(m_model.get(), &TDataSetModel::FetchFailed);
    own.server().kill();
    QVERIFY(m_model->canFetchMore(QModelIndex()));
    m_model->fetchMore(QModelIndex()); // must not throw into the view
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.at(0).at(0).toString().startsWith(QStringLiteral("Se perdió la conexión")));
    QVERIFY(!m_model->canFetchMore(QModelIndex()));
    QCOMPARE(m_model->rowCount(), 2);
    m_ds->Close();
}

QTEST_GUILESS_MAIN(TstDataSetModel)
#include "tst_datasetmodel.moc"
