#include "scanreader.h"

#include "pictureloader.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRect>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <memory>

namespace scan {

namespace {

struct Model {
    const char* file;
    const char* package;
};
constexpr Model kModels[] = {{"jpn.traineddata", "tesseract-ocr-jpn"},
                             {"jpn_vert.traineddata", "tesseract-ocr-jpn-vert"},
                             {"eng.traineddata", "tesseract-ocr-eng"}};

// Called by the engine between words: passes its progress on and asks whether to stop.
struct Watch {
    ScanProgress* progress;
    tesseract::ETEXT_DESC* monitor;
    int from, span;  // the share of the whole reading this pass covers
};

bool cancelRequested(void* data, int) {
    auto* w = static_cast<Watch*>(data);
    w->progress->percent = w->from + w->span * w->monitor->progress / 100;
    return w->progress->cancel;
}

struct Pass {
    const char* languages;
    tesseract::PageSegMode layout;
    bool vertical;
};

bool mixesJapaneseAndLatin(const QString& text) {
    bool japanese = false, latin = false;
    for (char32_t c : text.toUcs4()) {
        const QChar::Script script = QChar::script(c);
        japanese |= script == QChar::Script_Han || script == QChar::Script_Hiragana ||
                    script == QChar::Script_Katakana;
        latin |= script == QChar::Script_Latin;
    }
    return japanese && latin;
}

// A short line of a few Latin letters and no digits or signs of an address, or one mixing kanji
// and Latin letters: what small kanji look like when misread.
bool looksMisread(const QString& text) {
    if (mixesJapaneseAndLatin(text))
        return !text.contains(QLatin1Char('@')) && !text.contains(QLatin1Char('.'));
    int latin = 0;
    for (char32_t c : text.toUcs4()) {
        if (c == U' ')
            continue;
        if (QChar::script(c) != QChar::Script_Latin)
            return false;
        ++latin;
    }
    return latin > 0 && latin <= 4;
}

// Most lines of the card hold Japanese letters.
bool japaneseCard(const std::vector<RecognisedLine>& lines, size_t first) {
    int japanese = 0, all = 0;
    for (size_t i = first; i < lines.size(); ++i, ++all) {
        for (char32_t c : lines[i].text.toUcs4()) {
            const QChar::Script script = QChar::script(c);
            if (script == QChar::Script_Han || script == QChar::Script_Hiragana ||
                script == QChar::Script_Katakana) {
                ++japanese;
                break;
            }
        }
    }
    return japanese * 2 >= all;
}

// Runs one pass of the engine over the picture; false when it was cancelled.
bool runPass(const QImage& grey, const Pass& pass, ScanProgress& progress, int from, int span,
             std::vector<RecognisedLine>& lines) {
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");  // keeps the engine's chatter off stderr
    const QByteArray folder = QFile::encodeName(dataFolder());
    if (api.Init(folder.constData(), pass.languages, tesseract::OEM_LSTM_ONLY) != 0)
        throw ScanError(QStringLiteral("文字認識の準備ができませんでした（%1）。%2")
                            .arg(QString::fromLatin1(pass.languages), missingDataMessage()));
    // Short lines of a few letters (課長) next to larger ones would otherwise be dropped as noise
    // on photos.
    api.SetVariable("textord_noise_rejwords", "0");
    api.SetVariable("textord_noise_rejrows", "0");
    api.SetPageSegMode(pass.layout);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));

    tesseract::ETEXT_DESC monitor;
    Watch watch{&progress, &monitor, from, span};
    monitor.cancel = &cancelRequested;
    monitor.cancel_this = &watch;
    if (progress.cancel)
        return false;
    const int status = api.Recognize(&monitor);
    if (progress.cancel)
        return false;
    if (status != 0)
        throw ScanError(QStringLiteral("文字認識に失敗しました。"));

    // The Japanese model alone, started only when a line needs it.
    std::unique_ptr<tesseract::TessBaseAPI> japanese;
    bool japaneseFailed = false;
    const auto japaneseOnly = [&] {
        if (!japanese && !japaneseFailed) {
            japanese = std::make_unique<tesseract::TessBaseAPI>();
            japanese->SetVariable("debug_file", "/dev/null");
            if (japanese->Init(folder.constData(), "jpn", tesseract::OEM_LSTM_ONLY) != 0) {
                japanese.reset();
                japaneseFailed = true;
            }
        }
        return bool(japanese);
    };

    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return true;
    const size_t first = lines.size();
    int largest = -1;
    QRect largestBox;
    float largestConfidence = 0;
    std::vector<std::pair<QRect, float>> found;  // each line's box and confidence
    do {
        const std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (!utf8)
            continue;
        QString text = QString::fromUtf8(utf8.get()).trimmed();
        // Columns come back with a space between almost every letter.
        text = pass.vertical ? tidyLine(text) : text.simplified();
        if (text.isEmpty())
            continue;
        int left = 0, top = 0, right = 0, bottom = 0;
        it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
        const int size = pass.vertical ? right - left : bottom - top;
        if (largest < 0 || size > lines[first + largest].size) {
            largest = int(lines.size() - first);
            largestBox = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
            largestConfidence = it->Confidence(tesseract::RIL_TEXTLINE);
        }
        found.emplace_back(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)),
                           it->Confidence(tesseract::RIL_TEXTLINE));
        lines.push_back({text, size});
    } while (it->Next(tesseract::RIL_TEXTLINE));
    it.reset();

    // The model reads letters of about kBestLineHeight pixels best; a name printed large comes out
    // as Latin shapes ("山口 Aa"). The largest line is read again on its own at that size and the
    // reading the model is surer of is kept.
    if (!pass.vertical && largest >= 0 && lines[first + largest].size > kBestLineHeight * 3 / 2) {
        const int margin = largestBox.height() / 4;
        const QImage line = grey.copy(largestBox.adjusted(-margin, -margin, margin, margin));
        const double scale = double(kBestLineHeight) / largestBox.height();
        const QImage scaled =
            line.scaled(std::max(1, int(line.width() * scale)), std::max(1, int(line.height() * scale)),
                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QString& text = lines[first + largest].text;
        float confidence = largestConfidence;
        const auto readAgain = [&](tesseract::TessBaseAPI& engine) {
            engine.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
            engine.SetImage(scaled.constBits(), scaled.width(), scaled.height(), 1,
                            int(scaled.bytesPerLine()));
            if (engine.Recognize(nullptr) != 0)
                return;
            const std::unique_ptr<char[]> utf8(engine.GetUTF8Text());
            const QString again = utf8 ? QString::fromUtf8(utf8.get()).simplified() : QString();
            const float againConfidence = float(engine.MeanTextConf());
            if (!again.isEmpty() && againConfidence > confidence) {
                text = again;
                confidence = againConfidence;
            }
        };
        if (progress.cancel)
            return false;
        readAgain(api);
        // Kanji drawn large and thin are taken for Latin letters beside the kanji ("林 Fe"); a line
        // mixing both is read once more by the Japanese model alone.
        if (mixesJapaneseAndLatin(text) && !progress.cancel && japaneseOnly()) {
            confidence = std::min(confidence, 0.0f);
            readAgain(*japanese);
        }
    }
    // Small kanji lines that came out as a few Latin letters ("i Rb" for 営業部) are read again by
    // the Japanese model alone, when the first reading was unsure.
    if (!pass.vertical && japaneseCard(lines, first)) {
        for (size_t i = 0; i < found.size(); ++i) {
            QString& text = lines[first + i].text;
            if (int(i) == largest || found[i].second >= 75 || !looksMisread(text))
                continue;
            if (progress.cancel)
                return false;
            if (!japaneseOnly())
                break;
            const QRect box = found[i].first;
            const int margin = box.height() / 4;
            const QImage line = grey.copy(box.adjusted(-margin, -margin, margin, margin));
            const double scale = double(kBestLineHeight) / std::max(1, box.height());
            const QImage scaled =
                line.scaled(std::max(1, int(line.width() * scale)), std::max(1, int(line.height() * scale)),
                            Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            japanese->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
            japanese->SetImage(scaled.constBits(), scaled.width(), scaled.height(), 1,
                               int(scaled.bytesPerLine()));
            if (japanese->Recognize(nullptr) != 0)
                continue;
            const std::unique_ptr<char[]> utf8(japanese->GetUTF8Text());
            const QString again = utf8 ? QString::fromUtf8(utf8.get()).simplified() : QString();
            if (!again.isEmpty() && japanese->MeanTextConf() > found[i].second)
                text = again;
        }
    }
    return true;
}

// A card written in columns comes out of the horizontal pass as a heap of single letters.
bool looksVertical(const std::vector<RecognisedLine>& lines) {
    const auto single = std::count_if(lines.begin(), lines.end(), [](const RecognisedLine& l) {
        return QString(l.text).remove(QLatin1Char(' ')).toUcs4().size() == 1;
    });
    return single >= 3 && single * 2 >= qsizetype(lines.size());
}

}  // namespace

QString dataFolder() {
    const QString fromEnvironment = qEnvironmentVariable("TESSDATA_PREFIX");
    return fromEnvironment.isEmpty() ? QStringLiteral("/usr/share/tesseract-ocr/5/tessdata")
                                     : fromEnvironment;
}

QStringList missingPackages() {
    const QDir folder(dataFolder());
    QStringList missing;
    for (const Model& m : kModels) {
        if (!QFileInfo(folder.filePath(QString::fromLatin1(m.file))).isFile())
            missing << QString::fromLatin1(m.package);
    }
    return missing;
}

QString missingDataMessage() {
    const QStringList missing = missingPackages();
    if (missing.isEmpty())
        return {};
    return QStringLiteral(
               "文字認識のデータがありません。%1 をインストールしてください（sudo apt install %2）。")
        .arg(missing.join(QStringLiteral("、")), missing.join(QLatin1Char(' ')));
}

QImage loadForRecognition(const QString& path) {
    return loadForRecognition(QFile::encodeName(path), QFileInfo(path).fileName());
}

QImage loadForRecognition(const QByteArray& nativePath, const QString& name) {
    // Only plain files are opened: a named pipe bearing a picture's name would block the reading.
    struct stat st {};
    if (::stat(nativePath.constData(), &st) != 0)
        throw ScanError(QStringLiteral("画像ファイル「%1」が見つかりません。").arg(name));
    if (!S_ISREG(st.st_mode))
        throw ScanError(QStringLiteral("「%1」は通常のファイルではないため読み取れません。").arg(name));
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw ScanError(QStringLiteral("画像ファイル「%1」を開けません。（%2）")
                            .arg(name, QString::fromLocal8Bit(std::strerror(errno))));
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);  // phone photos carry their orientation apart
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty())
        throw ScanError(
            QStringLiteral("画像「%1」を読み込めません。ファイルが壊れているか、画像ではありません。（%2）")
                .arg(name, reader.errorString()));
    if (declared.width() > kMaxSide || declared.height() > kMaxSide ||
        qint64(declared.width()) * declared.height() > kMaxPixels)
        throw ScanError(QStringLiteral("画像「%1」は大きすぎるため読み取れません（%2 × %3 ピクセル）。")
                            .arg(name)
                            .arg(declared.width())
                            .arg(declared.height()));
    // Large pictures are decoded straight to the working size (the JPEG decoder scales while
    // decoding); small ones are enlarged after, so that small print has enough pixels.
    const QSize working = declared.scaled(kWorkingSide, kWorkingSide, Qt::KeepAspectRatio).expandedTo({1, 1});
    if (working.width() < declared.width())
        reader.setScaledSize(working);
    QImage picture;
    {
        const pictureloader::ReaderAllocationLimit limit(512);
        picture = reader.read();
    }
    if (picture.isNull())
        throw ScanError(QStringLiteral("画像「%1」を読み込めません。（%2）").arg(name, reader.errorString()));
    QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    if (std::max(grey.width(), grey.height()) < kWorkingSide)
        grey = grey.scaled(grey.size().scaled(kWorkingSide, kWorkingSide, Qt::KeepAspectRatio),
                           Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return grey;
}

ScanResult recognise(const QImage& grey, ScanProgress& progress) {
    if (grey.format() != QImage::Format_Grayscale8)
        return recognise(grey.convertToFormat(QImage::Format_Grayscale8), progress);
    if (const QString missing = missingDataMessage(); !missing.isEmpty())
        throw ScanError(missing);
    ScanResult result;
    progress.percent = 0;
    // Sparse-text layout: a card is a few separate lines, which the page layout would often
    // take for a picture and drop.
    if (!runPass(grey, {"jpn+eng", tesseract::PSM_SPARSE_TEXT, false}, progress, 0, 60, result.lines)) {
        result.cancelled = true;
        return result;
    }
    if (looksVertical(result.lines)) {
        std::vector<RecognisedLine> columns;
        if (!runPass(grey, {"jpn_vert", tesseract::PSM_SINGLE_BLOCK_VERT_TEXT, true}, progress, 60, 40,
                     columns)) {
            result.lines.clear();
            result.cancelled = true;
            return result;
        }
        result.lines = std::move(columns);
        result.vertical = true;
    }
    progress.percent = 100;
    result.lines = prepareLines(result.lines);
    result.boxes = suggestBoxes(result.lines);
    return result;
}

ScanResult readScan(const QString& path, ScanProgress& progress) {
    return recognise(loadForRecognition(path), progress);
}

int readScanCommand(const QString& path, const std::function<void(const QString&)>& out,
                    const std::function<void(const QString&)>& err) {
    try {
        ScanProgress progress;
        const ScanResult r = readScan(path, progress);
        for (size_t i = 0; i < r.lines.size(); ++i)
            out(boxLabel(r.boxes[i]) + QLatin1Char('\t') + r.lines[i].text);
        return 0;
    } catch (const std::exception& e) {
        err(QString::fromUtf8(e.what()));
        return 1;
    }
}

}  // namespace scan
