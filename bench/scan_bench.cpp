// Reading card pictures: how much of the name, organisation and position comes out exactly, and
// how long the program's reading takes against the `tesseract` command on the same pictures.
//   bench_scan [CARD_FOLDER]   cards drawn by tools/make-cards.sh; drawn afresh when not given
// Prints
//   ocr_accuracy: ratio R (goal >= 0.9)   share of the characters read exactly
//   ocr_time: ratio R (goal <= 1.5)       program's total time / the command's total time
//   ocr_fields: ratio R (goal >= 0.9)     on the held-out part of tools/make-field-cards.sh's
//                                         cards, for each box the share of cards whose suggestion
//                                         is exactly right; the lowest share is the ratio
// SCAN_FIELD_CARDS names a folder of those cards already drawn; SCAN_FIELD_PART=tune measures
// the part the reading is tried on instead; SCAN_FIELDS_ONLY=1 leaves out the first two lines.
// With SCAN_BENCH_VERBOSE=1 it prints each card's lines as well.

#include "benchcommon.h"
#include "scanreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

struct Card {
    QString file;
    QStringList fields;  // name, organisation, position
};

QString withoutSpaces(QString s) {
    s.remove(QLatin1Char(' '));
    s.remove(QChar(0x3000));
    return s;
}

// The fewest edits that turn `want` into some stretch of `line` (a line may hold more than
// the field, such as "営業部 課長").
int editsToStretch(const QList<uint>& want, const QList<uint>& line) {
    std::vector<int> prev(line.size() + 1, 0), cur(line.size() + 1);
    for (qsizetype i = 1; i <= want.size(); ++i) {
        cur[0] = int(i);
        for (qsizetype j = 1; j <= line.size(); ++j)
            cur[j] =
                std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (want[i - 1] == line[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return *std::min_element(prev.begin(), prev.end());
}

// Characters of `field` read exactly: its length less the edits to the closest line.
int charactersRead(const QString& field, const std::vector<scan::RecognisedLine>& lines) {
    const QList<uint> want = withoutSpaces(field).toUcs4();
    int best = 0;
    for (const scan::RecognisedLine& l : lines)
        best = std::max(best, int(want.size()) - editsToStretch(want, withoutSpaces(l.text).toUcs4()));
    return best;
}

std::vector<Card> readTruth(const QString& folder) {
    QFile file(folder + QStringLiteral("/truth.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no truth.tsv in %s", qPrintable(folder));
    std::vector<Card> cards;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList f = in.readLine().split(QLatin1Char('\t'));
        if (f.size() >= 5)
            cards.push_back({f[0], {f[1], f[2], f[4]}});
    }
    return cards;
}

// The command as one would run it on the card: sparse text for horizontal cards, the vertical
// model on one block for cards in columns.
double commandMs(const QString& path, bool vertical) {
    const QStringList args = vertical ? QStringList{path,
                                                    QStringLiteral("stdout"),
                                                    QStringLiteral("-l"),
                                                    QStringLiteral("jpn_vert"),
                                                    QStringLiteral("--psm"),
                                                    QStringLiteral("5")}
                                      : QStringList{path,
                                                    QStringLiteral("stdout"),
                                                    QStringLiteral("-l"),
                                                    QStringLiteral("jpn+eng"),
                                                    QStringLiteral("--psm"),
                                                    QStringLiteral("11")};
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("tesseract"), args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        qFatal("the tesseract command failed on %s", qPrintable(path));
    return t.nsecsElapsed() / 1e6;
}

// What the reading suggests for each box, as the window would fill it: lines joined by a space,
// その他 lines kept apart.
struct Suggested {
    QString name, reading, organisation, department, position;
    QStringList other;
};

Suggested suggested(const scan::ScanResult& r) {
    Suggested s;
    const auto add = [](QString& to, const QString& text) {
        to = to.isEmpty() ? text : to + QLatin1Char(' ') + text;
    };
    for (size_t i = 0; i < r.lines.size(); ++i) {
        const QString& t = r.lines[i].text;
        switch (r.boxes[i]) {
            case scan::Box::Name:
                add(s.name, t);
                break;
            case scan::Box::Reading:
                add(s.reading, t);
                break;
            case scan::Box::Organisation:
                add(s.organisation, t);
                break;
            case scan::Box::Department:
                add(s.department, t);
                break;
            case scan::Box::Position:
                add(s.position, t);
                break;
            case scan::Box::Other:
                s.other << t;
                break;
            case scan::Box::None:
                break;
        }
    }
    return s;
}

// ocr_fields over the held-out cards of `folder`; returns the lowest share.
void measureFields(const QString& folder, const QString& part, bool verbose) {
    QFile file(folder + QStringLiteral("/truth.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no truth.tsv in %s", qPrintable(folder));
    const QStringList boxes{QStringLiteral("名前"),   QStringLiteral("ふりがな"), QStringLiteral("組織名"),
                            QStringLiteral("部署名"), QStringLiteral("身分"),     QStringLiteral("電話"),
                            QStringLiteral("メール")};
    std::vector<int> right(boxes.size(), 0);
    int cards = 0;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList f = in.readLine().split(QLatin1Char('\t'));
        if (f.size() < 9 || f[1] != part)
            continue;
        scan::ScanProgress progress;
        const scan::ScanResult r = scan::readScan(folder + QLatin1Char('/') + f[0], progress);
        const Suggested s = suggested(r);
        QString position = f[6];
        if (position.startsWith(QLatin1Char('+')))
            position.remove(0, 1);
        const bool ok[] = {s.name == f[2],        s.reading == f[3],      s.organisation == f[4],
                           s.department == f[5],  s.position == position, s.other.contains(f[7]),
                           s.other.contains(f[8])};
        QString wrong;
        for (qsizetype b = 0; b < boxes.size(); ++b) {
            right[b] += ok[b] ? 1 : 0;
            if (!ok[b])
                wrong += QLatin1Char(' ') + boxes[b];
        }
        ++cards;
        std::printf("  %-24s%s\n", qPrintable(f[0]), wrong.isEmpty() ? " all right" : qPrintable(wrong));
        if (verbose) {
            for (size_t i = 0; i < r.lines.size(); ++i)
                std::printf("      %s\t%s\n", qPrintable(scan::boxLabel(r.boxes[i])),
                            qPrintable(r.lines[i].text));
        }
    }
    if (cards == 0)
        qFatal("no %s cards in %s", qPrintable(part), qPrintable(folder));
    double lowest = 1;
    std::fprintf(stderr, "%s cards, exactly right per box:\n", qPrintable(part));
    for (qsizetype b = 0; b < boxes.size(); ++b) {
        lowest = std::min(lowest, double(right[b]) / cards);
        std::fprintf(stderr, "  %s\t%d/%d\t%.3f\n", qPrintable(boxes[b]), right[b], cards,
                     double(right[b]) / cards);
    }
    std::printf("ocr_fields: ratio %.3f (goal >= 0.9) lowest share of %d %s cards\n", lowest, cards,
                qPrintable(part));
}

// ocr_accuracy and ocr_time over the cards of make-cards.sh in `folder`.
void measureAccuracyAndTime(const QString& folder, bool verbose) {
    int total = 0, read = 0;
    double ours = 0, command = 0;
    for (const Card& card : readTruth(folder)) {
        const QString path = folder + QLatin1Char('/') + card.file;
        scan::ScanProgress progress;
        QElapsedTimer t;
        t.start();
        const scan::ScanResult result = scan::readScan(path, progress);
        const double ms = t.nsecsElapsed() / 1e6;
        const double baseline = commandMs(path, card.file.contains(QLatin1String("-v-")));
        ours += ms;
        command += baseline;
        int cardTotal = 0, cardRead = 0;
        for (const QString& field : card.fields) {
            cardTotal += int(withoutSpaces(field).toUcs4().size());
            cardRead += charactersRead(field, result.lines);
        }
        total += cardTotal;
        read += cardRead;
        std::printf("  %-20s %3d/%3d characters, %6.0f ms (command %6.0f ms)%s\n", qPrintable(card.file),
                    cardRead, cardTotal, ms, baseline, result.vertical ? " columns" : "");
        if (verbose) {
            for (size_t i = 0; i < result.lines.size(); ++i)
                std::printf("      %s\t%s\t(%d px)\n", qPrintable(scan::boxLabel(result.boxes[i])),
                            qPrintable(result.lines[i].text), result.lines[i].size);
        }
    }
    std::printf(
        "ocr_accuracy: ratio %.3f (goal >= 0.9) %d of %d characters of names, organisations and "
        "positions read exactly\n",
        double(read) / total, read, total);
    bench::report("ocr_time", ours / command, 1.5,
                  QStringLiteral("program %1 ms, tesseract command %2 ms in all")
                      .arg(ours, 0, 'f', 0)
                      .arg(command, 0, 'f', 0));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool verbose = qEnvironmentVariableIntValue("SCAN_BENCH_VERBOSE") != 0;
    if (qEnvironmentVariableIntValue("SCAN_FIELDS_ONLY") == 0) {
        QTemporaryDir temp;
        QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
        if (folder.isEmpty()) {
            folder = temp.path();
            const QString script = QStringLiteral(TAVRONA_SOURCE_DIR "/tools/make-cards.sh");
            if (QProcess::execute(QStringLiteral("bash"), {script, folder}) != 0)
                qFatal("could not draw the cards");
        }
        measureAccuracyAndTime(folder, verbose);
    }
    QTemporaryDir fieldTemp;
    QString fields = qEnvironmentVariable("SCAN_FIELD_CARDS");
    if (fields.isEmpty()) {
        fields = fieldTemp.path();
        const QString script = QStringLiteral(TAVRONA_SOURCE_DIR "/tools/make-field-cards.sh");
        if (QProcess::execute(QStringLiteral("bash"), {script, fields}) != 0)
            qFatal("could not draw the field cards");
    }
    const QString part = qEnvironmentVariable("SCAN_FIELD_PART", QStringLiteral("held"));
    measureFields(fields, part, verbose);
    return 0;
}
