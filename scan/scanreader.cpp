#include "scanreader.h"

#include "cardgeometry.h"
#include "layout.h"
#include "pictureloader.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRect>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <memory>
#include <mutex>
#include <optional>

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

// A kanji, hiragana or katakana letter.
bool isJapaneseLetter(char32_t c) {
    const QChar::Script script = QChar::script(c);
    return script == QChar::Script_Han || script == QChar::Script_Hiragana ||
           script == QChar::Script_Katakana;
}

// Japanese letters and Latin letters (or any ASCII digit or sign, when `ascii`) on one line.
bool mixesJapaneseAndLatin(const QString& text, bool ascii = false) {
    bool japanese = false, latin = false;
    for (char32_t c : text.toUcs4()) {
        japanese |= isJapaneseLetter(c);
        latin |= QChar::script(c) == QChar::Script_Latin || (ascii && c > U' ' && c < 0x7F);
    }
    return japanese && latin;
}

// A short line of a few Latin letters (six at most) and no digits or signs of an address, or one mixing kanji
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
    return latin > 0 && latin <= 6;
}

bool isContactLine(const QString& text);

// The card's letters are mostly Japanese. Telephone numbers and addresses are written in Latin
// letters on Japanese cards too, so they are not counted; letters are counted rather than lines,
// as a misread line breaks into many short pieces of a few Latin shapes each.
bool japaneseCard(const std::vector<RecognisedLine>& lines, size_t first) {
    int japanese = 0, latin = 0;
    for (size_t i = first; i < lines.size(); ++i) {
        if (isContactLine(lines[i].text))
            continue;
        for (char32_t c : lines[i].text.toUcs4()) {
            if (isJapaneseLetter(c))
                ++japanese;
            else if (QChar::script(c) == QChar::Script_Latin)
                ++latin;
        }
    }
    return japanese > 0 && japanese >= latin;
}

// Starts an engine with `languages`; false when it cannot. Engines start one at a time: several
// threads read pictures at once (a stack of cards), and the settings made here and by the
// engine's start are partly the library's globals, which two starts at once would write together.
bool tryInitEngine(tesseract::TessBaseAPI& api, const QByteArray& folder, const char* languages) {
    static std::mutex starting;
    static bool quiet = false;
    const std::lock_guard lock(starting);
    // Keeps the engine's chatter off stderr; a global of the library, which engines already
    // reading on other threads look at whenever they report, so it is set once.
    if (!quiet)
        quiet = api.SetVariable("debug_file", "/dev/null");
    if (api.Init(folder.constData(), languages, tesseract::OEM_LSTM_ONLY) != 0)
        return false;
    // Short lines of a few letters (課長) next to larger ones, and a line or column of three
    // letters read on its own, would otherwise be dropped as noise.
    api.SetVariable("textord_noise_rejwords", "0");
    api.SetVariable("textord_noise_rejrows", "0");
    return true;
}

// The same; throws when it cannot.
void initEngine(tesseract::TessBaseAPI& api, const QByteArray& folder, const char* languages) {
    if (!tryInitEngine(api, folder, languages))
        throw ScanError(QStringLiteral("文字認識の準備ができませんでした（%1）。%2")
                            .arg(QString::fromLatin1(languages), missingDataMessage()));
}

// Starts the engine with the pass's languages and layout, over the picture.
void startEngine(tesseract::TessBaseAPI& api, const QByteArray& folder, const Pass& pass,
                 const QImage& grey) {
    initEngine(api, folder, pass.languages);
    api.SetPageSegMode(pass.layout);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
}

// A model started only when a line needs it.
class LazyModel final {
public:
    LazyModel(const QByteArray& folder, const char* languages) : m_folder(folder), m_languages(languages) {}

    // The engine, or null when the model cannot be started.
    tesseract::TessBaseAPI* engine() {
        if (!m_engine && !m_failed) {
            m_engine = std::make_unique<tesseract::TessBaseAPI>();
            if (!tryInitEngine(*m_engine, m_folder, m_languages)) {
                m_engine.reset();
                m_failed = true;
            }
        }
        return m_engine.get();
    }

private:
    const QByteArray& m_folder;
    const char* m_languages;
    std::unique_ptr<tesseract::TessBaseAPI> m_engine;
    bool m_failed = false;
};

// The lines one pass found, as found: where they start in the list, each line's box and
// confidence, and which one is the largest (once the pieces of lines are joined).
struct PassLines {
    size_t first = 0;
    int largest = -1;
    std::vector<std::pair<QRect, float>> found;
};

// Adds a line to what a pass found.
void addLine(PassLines& result, std::vector<RecognisedLine>& lines, const QString& text, const QRect& box,
             int size, float confidence) {
    if (text.isEmpty())
        return;
    result.found.emplace_back(box, confidence);
    lines.push_back({text, size});
}

// Short Japanese pieces of one line that the engine took apart: a name printed large with a wide
// space ("森　愛") comes out as two lines of one letter each. Lines standing level, of about one
// height, at most one and a half heights apart and of three letters at most each, are joined
// left to right with a space.
void joinLevelNeighbours(PassLines& pass, std::vector<RecognisedLine>& lines) {
    const auto shortJapanese = [](const QString& text) {
        const QList<uint> letters = QString(text).remove(QLatin1Char(' ')).toUcs4();
        return !letters.isEmpty() && letters.size() <= 3 &&
               std::all_of(letters.begin(), letters.end(), isJapaneseLetter);
    };
    bool joined = true;
    while (joined) {
        joined = false;
        for (size_t i = 0; i < pass.found.size() && !joined; ++i) {
            for (size_t j = i + 1; j < pass.found.size() && !joined; ++j) {
                const QRect a = pass.found[i].first, b = pass.found[j].first;
                const int level = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
                const int higher = std::max(a.height(), b.height()), lower = std::min(a.height(), b.height());
                const int apart = std::max(a.left(), b.left()) - std::min(a.right(), b.right());
                RecognisedLine& first = lines[pass.first + i];
                RecognisedLine& second = lines[pass.first + j];
                if (level * 10 < lower * 7 || lower * 7 < higher * 5 || apart > higher * 3 / 2 || apart < 0 ||
                    !shortJapanese(first.text) || !shortJapanese(second.text))
                    continue;
                const bool inOrder = a.left() <= b.left();
                first.text = inOrder ? first.text + QLatin1Char(' ') + second.text
                                     : second.text + QLatin1Char(' ') + first.text;
                first.size = std::max(first.size, second.size);
                pass.found[i] = {a.united(b), std::min(pass.found[i].second, pass.found[j].second)};
                lines.erase(lines.begin() + qsizetype(pass.first + j));
                pass.found.erase(pass.found.begin() + qsizetype(j));
                joined = true;
            }
        }
    }
}

// A large letter the engine cut across into lines of their own ("愛" read as "me" over "Ae"):
// short lines it was unsure of whose boxes overlap, one mostly above the other, are one line.
// Their box, as tall as the letter, lets the largest line be found and read again whole.
void joinStackedPieces(PassLines& pass, std::vector<RecognisedLine>& lines) {
    const auto unsurePiece = [&](size_t k) {
        return pass.found[k].second < 60 &&
               QString(lines[pass.first + k].text).remove(QLatin1Char(' ')).toUcs4().size() <= 3;
    };
    for (size_t i = 0; i < pass.found.size(); ++i) {
        for (size_t j = i + 1; j < pass.found.size(); ++j) {
            const QRect a = pass.found[i].first, b = pass.found[j].first;
            if (!cutAcross(a, b) || !unsurePiece(i) || !unsurePiece(j))
                continue;
            RecognisedLine& upper = lines[pass.first + i];
            const RecognisedLine& lower = lines[pass.first + j];
            upper.text = a.top() <= b.top() ? upper.text + QLatin1Char(' ') + lower.text
                                            : lower.text + QLatin1Char(' ') + upper.text;
            const QRect both = a.united(b);
            upper.size = both.height();
            pass.found[i] = {both, std::min(pass.found[i].second, pass.found[j].second)};
            lines.erase(lines.begin() + qsizetype(pass.first + j));
            pass.found.erase(pass.found.begin() + qsizetype(j));
            j = i;  // the grown box may now meet lines already passed over
        }
    }
}

// One line of the engine as read, word by word, split where its words stand far apart.
struct EngineLine {
    struct Piece {
        QStringList words;
        QRect box;
        float confidence = 0;
    };
    QString text;
    QRect box;
    float confidence = 0;
    std::vector<Piece> pieces;

    void addWord(const QString& word, const QRect& wordBox, float wordConfidence, bool splitFarWords) {
        const bool apart =
            !pieces.empty() && splitFarWords && wordBox.left() - pieces.back().box.right() > 2 * box.height();
        if (pieces.empty() || apart)
            pieces.push_back({});
        Piece& piece = pieces.back();
        piece.words << word;
        piece.box = piece.box.isNull() ? wordBox : piece.box.united(wordBox);
        piece.confidence += wordConfidence;
    }

    // Adds the line, or its pieces, to what the pass found.
    void addTo(PassLines& result, std::vector<RecognisedLine>& lines, bool vertical) const {
        if (pieces.size() <= 1) {
            // Columns come back with a space between almost every letter.
            addLine(result, lines, vertical ? tidyLine(text) : text.simplified(), box,
                    vertical ? box.width() : box.height(), confidence);
            return;
        }
        for (const Piece& p : pieces) {
            addLine(result, lines, p.words.join(QLatin1Char(' ')).simplified(), p.box, p.box.height(),
                    p.confidence / float(p.words.size()));
        }
    }
};

QRect boxAt(const tesseract::ResultIterator& it, tesseract::PageIteratorLevel level) {
    int left = 0, top = 0, right = 0, bottom = 0;
    it.BoundingBox(level, &left, &top, &right, &bottom);
    return {QPoint(left, top), QPoint(right - 1, bottom - 1)};
}

// Adds the lines the engine recognised to lines. A line across with a gap of more than two
// letters' height between its words is two lines side by side (two columns read across) and
// is split there.
PassLines collectLines(tesseract::ResultIterator& it, const Pass& pass, std::vector<RecognisedLine>& lines) {
    PassLines result;
    result.first = lines.size();
    std::optional<EngineLine> line;
    do {
        if (it.IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
            if (line)
                line->addTo(result, lines, pass.vertical);
            const std::unique_ptr<char[]> utf8(it.GetUTF8Text(tesseract::RIL_TEXTLINE));
            line = EngineLine{utf8 ? QString::fromUtf8(utf8.get()).trimmed() : QString(),
                              boxAt(it, tesseract::RIL_TEXTLINE),
                              it.Confidence(tesseract::RIL_TEXTLINE),
                              {}};
        }
        const std::unique_ptr<char[]> word(it.GetUTF8Text(tesseract::RIL_WORD));
        if (word && line) {
            line->addWord(QString::fromUtf8(word.get()).trimmed(), boxAt(it, tesseract::RIL_WORD),
                          it.Confidence(tesseract::RIL_WORD), !pass.vertical);
        }
    } while (it.Next(tesseract::RIL_WORD));
    if (line)
        line->addTo(result, lines, pass.vertical);
    if (!pass.vertical) {
        joinStackedPieces(result, lines);
        joinLevelNeighbours(result, lines);
        for (size_t i = 0; i < result.found.size(); ++i) {
            if (result.largest < 0 ||
                lines[result.first + i].size > lines[result.first + size_t(result.largest)].size)
                result.largest = int(i);
        }
    }
    return result;
}

// One line of the picture with a margin, scaled so that its letters are of the height the model
// reads best.
QImage lineAtBestHeight(const QImage& grey, const QRect& box, int height = kBestLineHeight) {
    const int margin = box.height() / 4;
    const QImage line = grey.copy(box.adjusted(-margin, -margin, margin, margin));
    const double scale = double(height) / std::max(1, box.height());
    return line.scaled(std::max(1, int(line.width() * scale)), std::max(1, int(line.height() * scale)),
                       Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// One line read on its own; an empty text when the engine fails or reads nothing.
LineReading readSingleLine(tesseract::TessBaseAPI& engine, const QImage& line,
                           tesseract::PageSegMode layout = tesseract::PSM_SINGLE_LINE) {
    engine.SetPageSegMode(layout);
    engine.SetImage(line.constBits(), line.width(), line.height(), 1, int(line.bytesPerLine()));
    if (engine.Recognize(nullptr) != 0)
        return {};
    const std::unique_ptr<char[]> utf8(engine.GetUTF8Text());
    return {utf8 ? QString::fromUtf8(utf8.get()).simplified() : QString(), float(engine.MeanTextConf())};
}

bool isContactLine(const QString& text) {
    return suggestBoxes({{text, 0}}).front() == Box::Other;
}

// A name printed with a gap between family and given name may come out without the space
// ("森愛"), its reading too ("もりあい"): the gap in the ink of its box puts it back. Only for two
// to `most` Japanese letters.
QString withSpaceFromInk(const QImage& grey, const QRect& box, const QString& text, int most) {
    const QList<uint> letters = text.toUcs4();
    if (!std::all_of(letters.begin(), letters.end(), isJapaneseLetter) || letters.size() < 2 ||
        letters.size() > most)
        return text;
    const int before = spaceAfterLetters(grey, box, int(letters.size()));
    if (before <= 0)
        return text;
    const auto* begin = reinterpret_cast<const char32_t*>(letters.constData());
    return QString::fromUcs4(begin, before) + QLatin1Char(' ') +
           QString::fromUcs4(begin + before, letters.size() - before);
}

// The model reads letters of about kBestLineHeight pixels best; a name printed large comes out as
// Latin shapes ("山口 Aa"), and one size may misread a letter that others read right. A large
// line (the largest, and the name) is read again on its own at five sizes around that height, and
// the text the readings agree on is kept (agreedReading). A large letter the engine cut into
// pieces of lines of their own ("森　愛" read as "ZN" and "愛") is read with it: pieces standing
// level with the line and next to it are read again in one box, and left out (their text emptied)
// when a new reading is kept. False when cancelled.
bool rereadLargeLine(tesseract::TessBaseAPI& api, LazyModel& japanese, const QImage& grey,
                     const PassLines& pass, size_t line, bool onJapaneseCard,
                     std::vector<RecognisedLine>& lines, const ScanProgress& progress) {
    QRect box = pass.found[line].first;
    std::vector<size_t> pieces;
    for (size_t k = 0; k < pass.found.size(); ++k) {
        const QRect other = pass.found[k].first;
        const int level = std::min(other.bottom(), box.bottom()) - std::max(other.top(), box.top());
        const int apart = std::max(other.left(), box.left()) - std::min(other.right(), box.right());
        if (k == line || level * 2 < other.height() || apart > box.height() * 3 / 2 ||
            other.height() * 5 < box.height() * 2 || isContactLine(lines[pass.first + k].text))
            continue;
        box = box.united(other);
        pieces.push_back(k);
    }
    box = withLevelInk(grey, box);
    QString& text = lines[pass.first + line].text;
    std::vector<LineReading> readings{{text, pass.found[line].second}};
    const auto readAgain = [&](tesseract::TessBaseAPI& engine) {
        for (const int height : {28, 34, 40, 48, 60}) {
            if (progress.cancel)
                return;
            readings.push_back(readSingleLine(engine, lineAtBestHeight(grey, box, height)));
        }
    };
    const QString first = text;
    const auto dropPieces = qScopeGuard([&] {
        if (text != first) {
            for (size_t k : pieces)
                lines[pass.first + k].text.clear();
        }
    });
    readAgain(api);
    text = agreedReading(readings);
    // Kanji drawn large and thin are taken for Latin letters, digits or signs beside the kanji
    // ("林 Fe", "林 3", "渡辺 #"), or for a few Latin letters alone on a Japanese card ("Ae"); such a line is
    // read again by the Japanese model alone, whose readings then decide.
    if ((mixesJapaneseAndLatin(text, true) || (onJapaneseCard && looksMisread(text))) && !progress.cancel) {
        if (tesseract::TessBaseAPI* engine = japanese.engine()) {
            readings.clear();
            readAgain(*engine);
            if (const QString agreed = agreedReading(readings); !agreed.isEmpty())
                text = agreed;
        }
    }
    text = withSpaceFromInk(grey, box, text, 6);
    return !progress.cancel;
}

// The reading printed small right above or below the name: a line of kana, smaller than the
// name's line and within its height of it, overlapping it across. Read at the pass's size it
// loses letters or the space between family and given name; it is read again at three sizes
// around the model's best and the readings agree (agreedReading). False when cancelled.
bool rereadKanaNeighbours(tesseract::TessBaseAPI& api, const QImage& grey, const PassLines& pass,
                          size_t nameLine, std::vector<RecognisedLine>& lines, const ScanProgress& progress) {
    const QRect name = pass.found[nameLine].first;
    for (size_t k = 0; k < pass.found.size(); ++k) {
        const QRect box = pass.found[k].first;
        QString& text = lines[pass.first + k].text;
        const bool near = box.bottom() < name.top() ? name.top() - box.bottom() < name.height()
                                                    : box.top() - name.bottom() < name.height();
        const bool across = std::min(box.right(), name.right()) > std::max(box.left(), name.left());
        const QList<uint> letters = text.toUcs4();
        const bool kana = std::any_of(letters.begin(), letters.end(), [](uint c) {
            return QChar::script(c) == QChar::Script_Hiragana || QChar::script(c) == QChar::Script_Katakana;
        });
        if (k == nameLine || !near || !across || !kana || box.height() * 4 > name.height() * 3 ||
            box.intersects(name))
            continue;
        const QRect wide = withLevelInk(grey, box);
        std::vector<LineReading> readings{{text, pass.found[k].second}};
        for (const int height : {34, 40, 48}) {
            if (progress.cancel)
                return false;
            readings.push_back(readSingleLine(api, lineAtBestHeight(grey, wide, height)));
        }
        text = withSpaceFromInk(grey, wide, agreedReading(readings), 12);
    }
    return !progress.cancel;
}

// Small kanji lines that came out as a few Latin letters ("i Rb" for 営業部) are read again by the
// Japanese model alone, when the first reading was unsure; a line broken into pieces is read
// again whole, and the pieces give way to that reading when the model is surer of it than of
// them on average. False when cancelled.
bool rereadMisreadLines(LazyModel& japanese, const QImage& grey, PassLines& pass,
                        std::vector<RecognisedLine>& lines, const ScanProgress& progress) {
    for (size_t i = 0; i < pass.found.size(); ++i) {
        QString& text = lines[pass.first + i].text;
        const float firstConfidence = pass.found[i].second;
        // Also any line the engine was quite unsure of, that is no contact line.
        const bool unsure = firstConfidence < 50 && !isContactLine(text);
        if (int(i) == pass.largest || text.isEmpty() || firstConfidence >= 75 ||
            !(looksMisread(text) || unsure))
            continue;
        if (progress.cancel)
            return false;
        tesseract::TessBaseAPI* engine = japanese.engine();
        if (!engine)
            break;
        // The largest line and contact lines are never part of a row.
        std::vector<QRect> boxes;
        std::vector<bool> leftOut;
        for (size_t k = 0; k < pass.found.size(); ++k) {
            const QString& other = lines[pass.first + k].text;
            boxes.push_back(pass.found[k].first);
            leftOut.push_back(int(k) == pass.largest || other.isEmpty() || isContactLine(other));
        }
        const std::vector<size_t> row = rowOfPieces(boxes, i, leftOut);
        QRect box;
        float confidence = 0;
        for (size_t k : row) {
            box = box.united(pass.found[k].first);
            confidence += pass.found[k].second / float(row.size());
        }
        const LineReading again = readSingleLine(*engine, lineAtBestHeight(grey, box));
        if (again.text.isEmpty() || again.confidence <= confidence)
            continue;
        // The row is kept in its leftmost piece, where it begins.
        const size_t first = *std::min_element(row.begin(), row.end(), [&](size_t a, size_t b) {
            return pass.found[a].first.left() < pass.found[b].first.left();
        });
        for (size_t k : row)
            lines[pass.first + k].text.clear();
        lines[pass.first + first].text = again.text;
        lines[pass.first + first].size = std::max(lines[pass.first + first].size, box.height());
        pass.found[first] = {box, again.confidence};
    }
    return true;
}

// Addresses and numbers are Latin letters, digits and signs: a contact line, or a line with an
// '@' that is not yet recognised as an address, is read again by the English model alone at the
// size it reads best, and that reading is kept when the model is surer of it and it is a contact
// line. False when cancelled.
bool rereadContactLines(LazyModel& english, const QImage& grey, const PassLines& pass,
                        std::vector<RecognisedLine>& lines, const ScanProgress& progress) {
    for (size_t i = 0; i < pass.found.size(); ++i) {
        QString& text = lines[pass.first + i].text;
        const auto& [box, firstConfidence] = pass.found[i];
        const bool contact = isContactLine(text);
        if (int(i) == pass.largest || firstConfidence >= 90 || (!contact && !text.contains(QLatin1Char('@'))))
            continue;
        if (progress.cancel)
            return false;
        tesseract::TessBaseAPI* engine = english.engine();
        if (!engine)
            break;
        const LineReading again = readSingleLine(*engine, lineAtBestHeight(grey, box));
        if (!again.text.isEmpty() && (again.confidence > firstConfidence || !contact) &&
            isContactLine(again.text))
            text = again.text;
    }
    return true;
}

// Puts the lines a pass found (from `first` on, with their boxes) in reading order by blocks.
void orderByBlocks(const PassLines& pass, std::vector<RecognisedLine>& lines) {
    std::vector<QRect> boxes;
    boxes.reserve(pass.found.size());
    for (const auto& found : pass.found)
        boxes.push_back(found.first);
    const std::vector<size_t> order = readingOrder(boxes);
    std::vector<RecognisedLine> ordered;
    ordered.reserve(order.size());
    for (size_t i : order)
        ordered.push_back(std::move(lines[pass.first + i]));
    std::move(ordered.begin(), ordered.end(), lines.begin() + qsizetype(pass.first));
}

// A region of the picture with a margin, scaled so that its letters (across the writing
// direction) are of the size the model reads best.
QImage regionAtBestSize(const QImage& grey, const TextRegion& region, int size) {
    const int thickness = std::max(1, region.vertical ? region.box.width() : region.box.height());
    const int margin = thickness / 4 + 2;
    const QImage part = grey.copy(region.box.adjusted(-margin, -margin, margin, margin));
    const double scale = double(size) / thickness;
    return part.scaled(std::max(1, int(part.width() * scale)), std::max(1, int(part.height() * scale)),
                       Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The letters of a column laid side by side as a line across, for the horizontal model: the
// column is cut at blank rows into pieces, pieces joined while they stay within a letter's
// height (the column's width and a sixth), and each letter set beside the last, centred.
QImage restackedColumn(const QImage& grey, const QRect& column) {
    const QRect box = column.intersected(grey.rect());
    if (box.width() < 4 || box.height() < 4)
        return {};
    const QImage part = grey.copy(box);
    const int threshold = otsuThreshold(part);
    std::vector<std::pair<int, int>> letters;  // first and last row of each letter
    int start = -1;
    for (int y = 0; y <= part.height(); ++y) {
        bool ink = false;
        if (y < part.height()) {
            const uchar* row = part.constScanLine(y);
            ink = std::any_of(row, row + part.width(), [&](uchar v) { return v <= threshold; });
        }
        if (ink && start < 0)
            start = y;
        if (!ink && start >= 0) {
            const int em = part.width() * 7 / 6;
            if (!letters.empty() && y - 1 - letters.back().first <= em)
                letters.back().second = y - 1;
            else
                letters.emplace_back(start, y - 1);
            start = -1;
        }
    }
    if (letters.size() < 2)
        return {};
    const int w = part.width(), gap = std::max(2, w / 6), height = w * 11 / 10;
    QImage line(int(letters.size()) * (w + gap) + gap, height, QImage::Format_Grayscale8);
    line.fill(255);
    int x = gap;
    for (const auto& [top, bottom] : letters) {
        const int h = bottom - top + 1;
        const int y = std::max(0, (height - h) / 2);
        for (int r = 0; r < std::min(h, height); ++r)
            std::memcpy(line.scanLine(y + r) + x, part.constScanLine(top + r), size_t(w));
        x += w + gap;
    }
    return line;
}

// One region of a card in columns read: a column at two sizes by the vertical model, the reading
// it is surer of kept; a line across by the horizontal models and, when it is a contact line,
// by the English model alone, as on a card written across.
LineReading readRegion(tesseract::TessBaseAPI& engine, LazyModel& english, LazyModel& japanese,
                       const QImage& grey, const TextRegion& region) {
    if (region.vertical) {
        LineReading read;
        const auto keep = [&](const LineReading& again) {
            if (!again.text.isEmpty() && (read.text.isEmpty() || again.confidence > read.confidence))
                read = again;
        };
        for (const int size : {kBestLineHeight, kBestLineHeight * 3 / 2}) {
            keep(readSingleLine(engine, regionAtBestSize(grey, region, size),
                                tesseract::PSM_SINGLE_BLOCK_VERT_TEXT));
        }
        // The same letters laid across, read by the horizontal Japanese model.
        const QImage across = restackedColumn(grey, region.box);
        tesseract::TessBaseAPI* horizontal = across.isNull() ? nullptr : japanese.engine();
        if (horizontal) {
            const double scale = double(kBestLineHeight) / across.height();
            keep(readSingleLine(*horizontal,
                                across.scaled(std::max(1, int(across.width() * scale)), kBestLineHeight,
                                              Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        }
        read.text = tidyLine(read.text);
        return read;
    }
    LineReading read = readSingleLine(engine, regionAtBestSize(grey, region, kBestLineHeight));
    const bool contact = isContactLine(read.text);
    if ((contact || read.text.contains(QLatin1Char('@'))) && read.confidence < 90) {
        if (tesseract::TessBaseAPI* latin = english.engine()) {
            const LineReading again = readSingleLine(*latin, regionAtBestSize(grey, region, kBestLineHeight));
            if (isContactLine(again.text) && (again.confidence > read.confidence || !contact))
                read = again;
        }
    }
    return read;
}

// A card written in columns, read region by region: each column with the vertical model, each
// line across (the address and contact lines at its foot) with the horizontal ones, so that
// neither is read in the other's direction. False when cancelled; no lines when no regions
// were found.
bool readRegions(const QImage& grey, const std::vector<TextRegion>& regions, ScanProgress& progress, int from,
                 int span, std::vector<RecognisedLine>& lines) {
    const QByteArray folder = QFile::encodeName(dataFolder());
    std::unique_ptr<tesseract::TessBaseAPI> vertical, across;
    LazyModel english(folder, "eng"), japanese(folder, "jpn");
    for (size_t i = 0; i < regions.size(); ++i) {
        if (progress.cancel)
            return false;
        progress.percent = from + span * int(i) / int(regions.size());
        const TextRegion& region = regions[i];
        std::unique_ptr<tesseract::TessBaseAPI>& engine = region.vertical ? vertical : across;
        if (!engine) {
            engine = std::make_unique<tesseract::TessBaseAPI>();
            initEngine(*engine, folder, region.vertical ? "jpn_vert" : "jpn+eng");
        }
        const LineReading read = readRegion(*engine, english, japanese, grey, region);
        if (!read.text.isEmpty())
            lines.push_back({read.text, region.vertical ? region.box.width() : region.box.height()});
    }
    return !progress.cancel;
}

// The name's line, if it is large enough to be read again: the largest line of more than
// kBestLineHeight and a half that goes to no box by the rules for contact lines, organisations,
// departments and titles; -1 when there is none.
int largeNameLine(const PassLines& pass, const std::vector<RecognisedLine>& lines) {
    int best = -1;
    for (size_t k = 0; k < pass.found.size(); ++k) {
        const RecognisedLine& line = lines[pass.first + k];
        const Box box = line.size > kBestLineHeight * 3 / 2 ? suggestBoxes({line}).front() : Box::Other;
        if ((box == Box::None || box == Box::Name) && (best < 0 || line.size > lines[pass.first + best].size))
            best = int(k);
    }
    return best;
}

// Runs one pass of the engine over the picture; false when it was cancelled.
bool runPass(const QImage& grey, const Pass& pass, ScanProgress& progress, int from, int span,
             std::vector<RecognisedLine>& lines) {
    tesseract::TessBaseAPI api;
    const QByteArray folder = QFile::encodeName(dataFolder());
    startEngine(api, folder, pass, grey);

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

    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return true;
    PassLines found = collectLines(*it, pass, lines);
    it.reset();

    LazyModel japanese(folder, "jpn"), english(folder, "eng");
    const bool onJapaneseCard = japaneseCard(lines, found.first);
    if (!pass.vertical && found.largest >= 0) {
        const auto largest = size_t(found.largest);
        if (lines[found.first + largest].size > kBestLineHeight * 3 / 2 &&
            !rereadLargeLine(api, japanese, grey, found, largest, onJapaneseCard, lines, progress))
            return false;
        // The largest line may be the organisation (beside its logo, or printed large); the name
        // is then read again the same way. Its furigana is read again beside it.
        if (const int name = largeNameLine(found, lines);
            name >= 0 &&
            ((size_t(name) != largest &&
              !rereadLargeLine(api, japanese, grey, found, size_t(name), onJapaneseCard, lines, progress)) ||
             !rereadKanaNeighbours(api, grey, found, size_t(name), lines, progress)))
            return false;
    }
    // The largest line read again may have shown the card to be Japanese after all.
    if (!pass.vertical && (onJapaneseCard || japaneseCard(lines, found.first)) &&
        !rereadMisreadLines(japanese, grey, found, lines, progress))
        return false;
    if (!pass.vertical && !rereadContactLines(english, grey, found, lines, progress))
        return false;
    if (!pass.vertical) {
        // Pieces read again with the largest line or with their row are gone.
        for (size_t k = found.found.size(); k-- > 0;) {
            if (!lines[found.first + k].text.isEmpty())
                continue;
            lines.erase(lines.begin() + qsizetype(found.first + k));
            found.found.erase(found.found.begin() + qsizetype(k));
        }
        orderByBlocks(found, lines);
    }
    return true;
}

// Columns hold more of the card's ink than lines across do.
bool mostlyColumns(const std::vector<TextRegion>& regions) {
    qint64 columns = 0, across = 0;
    int columnCount = 0;
    for (const TextRegion& r : regions) {
        (r.vertical ? columns : across) += qint64(r.box.width()) * r.box.height();
        columnCount += r.vertical ? 1 : 0;
    }
    return columnCount >= 2 && columns > across;
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

ScanResult recognise(const QImage& picture, ScanProgress& progress) {
    if (picture.format() != QImage::Format_Grayscale8)
        return recognise(picture.convertToFormat(QImage::Format_Grayscale8), progress);
    if (const QString missing = missingDataMessage(); !missing.isEmpty())
        throw ScanError(missing);
    ScanResult result;
    progress.percent = 0;
    // A photo taken at an angle or a scan turned a little is straightened first: the engine's
    // lines are boxes across the picture, and a turned line spills into its neighbours.
    const QImage grey = straighten(picture);
    // Sparse-text layout: a card is a few separate lines, which the page layout would often
    // take for a picture and drop.
    if (!runPass(grey, {"jpn+eng", tesseract::PSM_SPARSE_TEXT, false}, progress, 0, 60, result.lines)) {
        result.cancelled = true;
        return result;
    }
    const std::vector<TextRegion> regions = findTextRegions(grey);
    if (looksVertical(result.lines) || mostlyColumns(regions)) {
        std::vector<RecognisedLine> columns;
        const bool done =
            readRegions(grey, regions, progress, 60, 40, columns) &&
            (!columns.empty() || runPass(grey, {"jpn_vert", tesseract::PSM_SINGLE_BLOCK_VERT_TEXT, true},
                                         progress, 60, 40, columns));
        if (!done) {
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
                    const std::function<void(const QString&)>& err, ScanProgress* progress) {
    try {
        ScanProgress own;
        const ScanResult r = readScan(path, progress ? *progress : own);
        if (r.cancelled)
            return 1;
        for (size_t i = 0; i < r.lines.size(); ++i)
            out(boxLabel(r.boxes[i]) + QLatin1Char('\t') + r.lines[i].text);
        return 0;
    } catch (const std::exception& e) {
        err(QString::fromUtf8(e.what()));
        return 1;
    }
}

}  // namespace scan
