// Encode and decode time of one large row block, as a dataset opened with
// every row at once receives it. Prints the median of several runs.
#include "data/protocol.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vorel::proto;

namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 15;

Message makeBlock()
{
    Message m;
    m.type = MsgType::OpenResult;
    m.requestId = 1;
    m.cursor = 1;
    m.columns = {Column{QStringLiteral("ID"), ValueType::Integer, 8},
                 Column{QStringLiteral("NOMBRE"), ValueType::Text, 40},
                 Column{QStringLiteral("PRECIO"), ValueType::Float, 12},
                 Column{QStringLiteral("FECHA"), ValueType::DateTime, 0},
                 Column{QStringLiteral("NOTA"), ValueType::Text, 80}};
    const QDateTime base(QDate(2024, 1, 1), QTime(0, 0));
    for (int i = 0; i < kRows; ++i) {
        m.rows.appendRow(QVariantList{qlonglong(i), QStringLiteral("Cliente número %1").arg(i), i * 1.25,
                                        base.addSecs(qint64(i) * 3600),
                                        i % 3 == 0 ? QVariant() : QVariant(QStringLiteral("Pedido pendiente de envío"))});
    }
    m.rows.eof = true;
    return m;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    const Message block = makeBlock();
    std::vector<double> enc, dec;
    QByteArray frame;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        frame = encode(block);
        enc.push_back(double(t.nsecsElapsed()) / 1e6);

        t.restart();
        FrameReader reader;
        reader.feed(frame);
        const Message back = decodePayload(*reader.next());
        dec.push_back(double(t.nsecsElapsed()) / 1e6);
        if (back.rows.size() != kRows) {
            std::fprintf(stderr, "decoded %lld rows instead of %d\n", qlonglong(back.rows.size()), kRows);
            return 1;
        }
    }
    std::printf("block of %d rows x %lld columns, %lld bytes\n", kRows, qlonglong(block.columns.size()),
                qlonglong(frame.size()));
    std::printf("encode: median %.2f ms over %d runs\n", median(enc), kRuns);
    std::printf("decode: median %.2f ms over %d runs\n", median(dec), kRuns);
    return 0;
}
