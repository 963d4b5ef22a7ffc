// Peak memory of `tavrona-cards import` against the size of the file it reads: a CSV in UTF-8, the
// same CSV in Shift-JIS and a vCard file, each imported into an empty card file. The baseline is
// the same command importing a file of one card, in the same run; the ratio is the growth of the
// peak over the baseline's, per byte of the file.

#include "benchcommon.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

const char* const kFamily[] = {"佐藤", "鈴木", "高橋", "田中", "伊藤",
                               "渡辺", "山本", "中村", "小林", "加藤"};
const char* const kGiven[] = {"太郎", "花子", "健一", "美咲", "大輔", "由美", "翔太", "さくら", "誠", "陽子"};
const char* const kReading[] = {"さとう",   "すずき",   "たかはし", "たなか",   "いとう",
                                "わたなべ", "やまもと", "なかむら", "こばやし", "かとう"};
const char* const kOrgs[] = {"北星商事株式会社", "東和精機工業", "みなと物産", "青葉システム開発",
                             "株式会社ひかり印刷"};
const char* const kMemo = "展示会で名刺交換。来月に打ち合わせ予定、資料を送付すること。";

// Cards until the file holds about `bytes` bytes.
QByteArray csvFile(qint64 bytes) {
    QByteArray out = "\xEF\xBB\xBF名前,ふりがな,組織名,部署,身分,メモ,日付\r\n";
    for (int i = 0; i == 0 || out.size() < bytes; ++i) {
        out += QByteArray(kFamily[i % 10]) + ' ' + kGiven[(i / 10) % 10] + ',' + kReading[i % 10] + ',' +
               kOrgs[i % 5] + ",営業部,課長,\"" + kMemo + " No." + QByteArray::number(i) + "\",2026/1/" +
               QByteArray::number(i % 28 + 1) + "\r\n";
    }
    return out;
}

QByteArray vcardFile(qint64 bytes) {
    QByteArray out;
    for (int i = 0; i == 0 || out.size() < bytes; ++i) {
        out += QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:") + kFamily[i % 10] + ' ' +
               kGiven[(i / 10) % 10] + "\r\nN:" + kFamily[i % 10] + ';' + kGiven[(i / 10) % 10] +
               ";;;\r\nSORT-STRING:" + kReading[i % 10] + "\r\nORG:" + kOrgs[i % 5] +
               ";営業部\r\nTITLE:課長\r\nTEL;TYPE=CELL:090-1234-" + QByteArray::number(1000 + i % 9000) +
               "\r\nEMAIL:user" + QByteArray::number(i) + "@example.jp\r\nNOTE:" + kMemo +
               "\r\nEND:VCARD\r\n";
    }
    return out;
}

QByteArray toShiftJis(const QByteArray& utf8, const QString& dir) {
    QFile(dir + "/u.csv").remove();
    QFile in(dir + "/u.csv");
    if (!in.open(QIODevice::WriteOnly) || in.write(utf8.mid(3)) != utf8.size() - 3)
        std::abort();
    in.close();
    const QByteArray command =
        "iconv -f UTF-8 -t CP932 '" + (dir + "/u.csv").toUtf8() + "' > '" + (dir + "/s.csv").toUtf8() + "'";
    if (std::system(command.constData()) != 0)
        std::abort();
    QFile out(dir + "/s.csv");
    if (!out.open(QIODevice::ReadOnly))
        std::abort();
    return out.readAll();
}

// The peak resident memory of one import of the file into a fresh card folder, in bytes.
long peakOfImport(const QString& file, const QString& folderParent, int& exitCode) {
    static int n = 0;
    const QString folder = folderParent + "/folder" + QString::number(++n);
    bench::makeCardDatabase(folder, 0);
    const QByteArray fileArg = file.toLocal8Bit(), folderArg = folder.toLocal8Bit();
    const pid_t child = fork();
    if (child == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execl(CARDS_TOOL_PATH, CARDS_TOOL_PATH, "import", fileArg.constData(), "--card-folder",
              folderArg.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return usage.ru_maxrss * 1024L;  // kilobytes on Linux
}

void write(const QString& path, QByteArray bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        std::abort();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const qint64 size = 50ll * 1024 * 1024;
    struct Case {
        const char* name;
        std::function<QByteArray(qint64)> make;
    };
    const Case cases[] = {
        {"csv", csvFile},
        {"csv-sjis", [&](qint64 bytes) { return toShiftJis(csvFile(bytes), dir.path()); }},
        {"vcard", vcardFile},
    };
    double worst = 0;
    QString details;
    for (const Case& c : cases) {
        const QString big = dir.filePath(QString::fromLatin1(c.name) + ".big"),
                      small = dir.filePath(QString::fromLatin1(c.name) + ".small");
        write(small, c.make(1));
        write(big, c.make(size));
        const qint64 fileSize = QFile(big).size();
        // A child starts with its parent's peak as its own (fork copies the resident pages and the
        // peak survives exec): the files leave this process's memory before the imports run.
        malloc_trim(0);
        int bigExit = 0, smallExit = 0;
        const long base = peakOfImport(small, dir.path(), smallExit);
        const long peak = peakOfImport(big, dir.path(), bigExit);
        if (bigExit != 0 || smallExit != 0) {
            std::fprintf(stderr, "import of %s failed: exit %d / %d\n", c.name, bigExit, smallExit);
            return 1;
        }
        const double ratio = double(std::max(0L, peak - base)) / double(fileSize);
        worst = std::max(worst, ratio);
        details += QStringLiteral("%1=%2 (peak %3MB base %4MB file %5MB) ")
                       .arg(QLatin1String(c.name))
                       .arg(ratio, 0, 'f', 2)
                       .arg(peak / 1e6, 0, 'f', 0)
                       .arg(base / 1e6, 0, 'f', 0)
                       .arg(fileSize / 1e6, 0, 'f', 0);
        QFile::remove(big);
    }
    bench::report("import_memory", worst, 2.0, details.trimmed());
    return 0;
}
