#include "benchcommon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <firebird/Interface.h>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

using namespace Firebird;

namespace bench {

namespace {

IMaster* master() {
    return fb_get_master_interface();
}

const char* const kFamily[] = {"佐藤", "鈴木", "高橋", "田中", "伊藤",
                               "渡辺", "山本", "中村", "小林", "加藤"};
const char* const kGiven[] = {"太郎", "花子", "健一", "美咲", "大輔", "由美", "翔太", "さくら", "誠", "陽子"};
const char* const kOrgs[] = {"北星商事株式会社", "東和精機工業", "みなと物産", "青葉システム開発",
                             "株式会社ひかり印刷"};
const char* const kDepts[] = {"営業部", "技術開発部", "総務課", "第二営業課", "購買部"};
const char* const kTitles[] = {"課長", "部長", "主任", "代表取締役", "係長"};

IAttachment* attach(ThrowStatusWrapper* st, const QString& path) {
    IXpbBuilder* dpb = master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(st, isc_dpb_lc_ctype, "UTF8");
    const QByteArray p = path.toUtf8();
    IAttachment* att = master()->getDispatcher()->attachDatabase(st, p.constData(), dpb->getBufferLength(st),
                                                                 dpb->getBuffer(st));
    dpb->dispose();
    return att;
}

[[noreturn]] void throwClientError(const FbException& e) {
    char text[1024];
    master()->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
    throw std::runtime_error(text);
}

}  // namespace

QString makeCardDatabase(const QString& dir, int count) {
    const QString path = dir + "/data/DATA.FDB";
    QProcess tool;
    tool.start(QStringLiteral(MKCARDDB_PATH), {path});
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        throw std::runtime_error("mkcarddb failed");

    ThrowStatusWrapper st(master()->getStatus());
    try {
        IAttachment* att = attach(&st, path);
        ITransaction* tra = att->startTransaction(&st, 0, nullptr);
        IStatement* stmt =
            att->prepare(&st, tra, 0,
                         "INSERT INTO MST_CAR (KEY1, SYASYU, HURIGANA, KATABAN, KYORI, KINGAKU, MEMO, "
                         "LYEAR, LMONTH, LDAY, DEL_FLG1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         3, IStatement::PREPARE_PREFETCH_METADATA);
        IMetadataBuilder* b = master()->getMetadataBuilder(&st, 11);
        b->setType(&st, 0, SQL_LONG);
        b->setLength(&st, 0, 4);
        for (unsigned i = 1; i < 11; ++i) {
            b->setType(&st, i, SQL_VARYING);
            b->setCharSet(&st, i, 4);
            b->setLength(&st, i, 400);
        }
        IMessageMetadata* meta = b->getMetadata(&st);
        b->release();
        std::vector<unsigned char> buf(meta->getMessageLength(&st));
        for (int k = 1; k <= count; ++k) {
            const QString name =
                QString::fromUtf8(kFamily[k % 10]) + " " + QString::fromUtf8(kGiven[(k / 10) % 10]);
            const QString memo =
                QStringLiteral("%1年に展示会で名刺交換。次回は新製品の件で連絡予定。担当者番号 %2")
                    .arg(2000 + k % 25)
                    .arg(k);
            const QByteArray values[10] = {name.toUtf8(),
                                           QStringLiteral("やまだ たろう").toUtf8(),
                                           QByteArray(kOrgs[k % 5]),
                                           QByteArray(kDepts[(k / 5) % 5]),
                                           QByteArray(kTitles[(k / 25) % 5]),
                                           memo.toUtf8(),
                                           QByteArray::number(2000 + k % 25),
                                           QByteArray::number(1 + k % 12),
                                           QByteArray::number(1 + k % 28),
                                           QByteArray("1")};
            std::memcpy(buf.data() + meta->getOffset(&st, 0), &k, 4);
            for (unsigned i = 1; i < 11; ++i) {
                const QByteArray& v = values[i - 1];
                const std::uint16_t len = std::uint16_t(v.size());
                std::memcpy(buf.data() + meta->getOffset(&st, i), &len, 2);
                std::memcpy(buf.data() + meta->getOffset(&st, i) + 2, v.constData(), len);
            }
            stmt->execute(&st, tra, meta, buf.data(), nullptr, nullptr);
        }
        meta->release();
        stmt->free(&st);
        tra->commit(&st);
        att->detach(&st);
    } catch (const FbException& e) {
        st.dispose();
        throwClientError(e);
    }
    st.dispose();
    return path;
}

void bareAttach(const QString& databasePath) {
    ThrowStatusWrapper st(master()->getStatus());
    try {
        IAttachment* att = attach(&st, databasePath);
        att->detach(&st);
    } catch (const FbException& e) {
        throwClientError(e);
    }
    st.dispose();
}

namespace {

const char* const kNameSearchSql =
    "SELECT\n  KEY1,\n  SYASYU,\n  KATABAN,\n  KINGAKU,\n  KYORI,\n  MEMO,\n  LYEAR,\n  LMONTH,\n  "
    "LDAY,\n"
    "  HURIGANA,\n  DEL_FLG1\nFROM\n  MST_CAR\nWHERE\n   SYASYU   Like ?      \nORDER BY\nKEY1 ASC;";

// Runs the name search with the empty keyword ("%%") through the bare client, every column read
// as UTF-8 text, and calls onRow(row, out, columns) for each row fetched.
template <class OnRow>
void runNameSearch(const QString& databasePath, OnRow&& onRow) {
    ThrowStatusWrapper st(master()->getStatus());
    try {
        IAttachment* att = attach(&st, databasePath);
        ITransaction* tra = att->startTransaction(&st, 0, nullptr);
        IStatement* stmt =
            att->prepare(&st, tra, 0, kNameSearchSql, 3, IStatement::PREPARE_PREFETCH_METADATA);
        IMetadataBuilder* ib = master()->getMetadataBuilder(&st, 1);
        ib->setType(&st, 0, SQL_VARYING);
        ib->setCharSet(&st, 0, 4);
        ib->setLength(&st, 0, 2);
        IMessageMetadata* in = ib->getMetadata(&st);
        ib->release();
        std::vector<unsigned char> inBuf(in->getMessageLength(&st));
        const std::uint16_t two = 2;
        std::memcpy(inBuf.data() + in->getOffset(&st, 0), &two, 2);
        std::memcpy(inBuf.data() + in->getOffset(&st, 0) + 2, "%%", 2);

        IMessageMetadata* orig = stmt->getOutputMetadata(&st);
        const unsigned n = orig->getCount(&st);
        IMetadataBuilder* ob = orig->getBuilder(&st);
        for (unsigned i = 0; i < n; ++i) {
            const unsigned len = (orig->getType(&st, i) & ~1u) == SQL_VARYING ? orig->getLength(&st, i) : 64;
            ob->setType(&st, i, SQL_VARYING + 1);
            ob->setCharSet(&st, i, 4);
            ob->setLength(&st, i, len);
        }
        IMessageMetadata* out = ob->getMetadata(&st);
        ob->release();
        orig->release();
        std::vector<unsigned char> row(out->getMessageLength(&st));
        IResultSet* rs = stmt->openCursor(&st, tra, in, inBuf.data(), out, 0);
        while (rs->fetchNext(&st, row.data()) == IStatus::RESULT_OK)
            onRow(row.data(), out, n, &st);
        rs->close(&st);
        out->release();
        in->release();
        stmt->free(&st);
        tra->commit(&st);
        att->detach(&st);
    } catch (const FbException& e) {
        st.dispose();
        throwClientError(e);
    }
    st.dispose();
}

}  // namespace

std::size_t bareNameSearch(const QString& databasePath, std::vector<std::string>& cells) {
    std::size_t textBytes = 0;
    runNameSearch(databasePath,
                  [&](const unsigned char* row, IMessageMetadata* out, unsigned n, ThrowStatusWrapper* st) {
                      for (unsigned i = 0; i < n; ++i) {
                          const unsigned char* p = row + out->getOffset(st, i);
                          std::uint16_t len;
                          std::memcpy(&len, p, 2);
                          if (*reinterpret_cast<const short*>(row + out->getNullOffset(st, i)))
                              len = 0;
                          cells.emplace_back(reinterpret_cast<const char*>(p + 2), len);
                          textBytes += len;
                      }
                  });
    return textBytes;
}

std::size_t bareTouchFetch(const QString& databasePath) {
    std::size_t textBytes = 0;
    std::vector<unsigned> offsets, nullOffsets;
    runNameSearch(databasePath,
                  [&](const unsigned char* row, IMessageMetadata* out, unsigned n, ThrowStatusWrapper* st) {
                      if (offsets.empty()) {
                          for (unsigned i = 0; i < n; ++i) {
                              offsets.push_back(out->getOffset(st, i));
                              nullOffsets.push_back(out->getNullOffset(st, i));
                          }
                      }
                      for (unsigned i = 0; i < n; ++i) {
                          std::uint16_t len;
                          std::memcpy(&len, row + offsets[i], 2);
                          short null;
                          std::memcpy(&null, row + nullOffsets[i], 2);
                          if (!null)
                              textBytes += len;
                      }
                  });
    return textBytes;
}

double powerFitExponent(const std::vector<double>& sizes, const std::vector<double>& times) {
    // Least squares of log(time) against log(size).
    const double n = double(sizes.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const double x = std::log(sizes[i]), y = std::log(times[i]);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(std::move(times));
}

std::vector<double> interleavedMediansMs(int rounds, const std::vector<std::function<void()>>& works) {
    std::vector<std::vector<double>> times(works.size());
    for (int i = 0; i < rounds; ++i) {
        for (std::size_t w = 0; w < works.size(); ++w)
            times[w].push_back(medianMs(1, works[w]));
    }
    std::vector<double> medians;
    for (std::vector<double>& t : times)
        medians.push_back(median(std::move(t)));
    return medians;
}

std::size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void report(const char* name, double ratio, double goal, const QString& details) {
    std::printf("%s: ratio %.2f (goal <= %.2f) %s\n", name, ratio, goal, qPrintable(details));
    std::fflush(stdout);
}

}  // namespace bench
