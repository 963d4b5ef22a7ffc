#include "fieldrules.h"

#include "phonedigits.h"

#include <QRegularExpression>

#include <algorithm>

namespace scan {

namespace {

bool isHan(char32_t c) {
    return QChar::script(c) == QChar::Script_Han;
}

// Letters that are written without spaces between them in Japanese text.
bool isJapanese(char32_t c) {
    const QChar::Script s = QChar::script(c);
    return s == QChar::Script_Han || s == QChar::Script_Hiragana || s == QChar::Script_Katakana ||
           (c >= 0x3000 && c <= 0x303F) || c == 0x30FC || (c >= 0xFF01 && c <= 0xFF60);
}

bool isSpace(char32_t c) {
    return c == U' ' || c == U'\t' || c == 0x3000;
}

// Full-width digits, letters and signs as their ASCII forms, for matching only.
QString folded(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC);
}

// Nine or more digits joined by the usual separators: 03-1234-5678, +81 (3) 5555 0142.
bool hasPhoneNumber(QString f) {
    // A tab between the parts reads as a space.
    for (QChar& c : f) {
        if (c.isSpace())
            c = u' ';
    }
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (!search::isPhoneDigit(f[i]))
            continue;
        if (search::phoneDigitsFrom(f, i, i).size() >= 9)
            return true;
    }
    return false;
}

bool looksLikeContact(const QString& f) {
    static const QRegularExpression mail(
        QStringLiteral(R"([A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)"));
    static const QRegularExpression web(
        QStringLiteral(
            R"(https?://|\bwww\.|^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.(com|net|org|jp|biz|info)(/\S*)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression phoneLabel(
        QStringLiteral(R"(^(tel|fax|phone|mobile|mob|電話|携帯|直通|代表電話)\b)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return mail.match(f).hasMatch() || web.match(f).hasMatch() || phoneLabel.match(f).hasMatch() ||
           hasPhoneNumber(f);
}

// An address whose last label is no top-level domain but one letter off the usual ones, as the
// recogniser misreads them ("example.co.jf", "example.corn"), with that label put right: a
// two-letter label starting with j that no country has is jp, com's usual misreadings are com.
QString withLikelyTopDomain(const QString& f) {
    static const QRegularExpression last(QStringLiteral(R"((?<=[A-Za-z0-9]\.)([A-Za-z]{2,4})$)"));
    const QRegularExpressionMatch m = last.match(f);
    if (!m.hasMatch() ||
        !(f.contains(QLatin1Char('@')) || f.contains(QLatin1String("www."), Qt::CaseInsensitive)))
        return f;
    const QString label = m.captured(1).toLower();
    static const QStringList countriesWithJ{QStringLiteral("je"), QStringLiteral("jm"), QStringLiteral("jo"),
                                            QStringLiteral("jp")};
    static const QStringList comMisread{QStringLiteral("corn"), QStringLiteral("con"), QStringLiteral("cam"),
                                        QStringLiteral("coin"), QStringLiteral("c0m")};
    QString right;
    if (label.size() == 2 && label.startsWith(QLatin1Char('j')) && !countriesWithJ.contains(label))
        right = QStringLiteral("jp");
    else if (comMisread.contains(label))
        right = QStringLiteral("com");
    if (right.isEmpty())
        return f;
    return f.left(m.capturedStart(1)) + right;
}

// The line with full-width forms folded, dashes made '-', and no spaces around '.', '@' and '-'.
QString contactForm(const QString& line) {
    QString f = folded(line);
    static const QRegularExpression dashes(QStringLiteral("[\u2010-\u2015\u2212\uFE63]"));
    f.replace(dashes, QStringLiteral("-"));
    // The long-vowel sign is often what a dash between digits is read as.
    static const QRegularExpression longVowel(QStringLiteral("(?<=\\d)\\s*[\u30FC\uFF70]\\s*(?=\\d)"));
    f.replace(longVowel, QStringLiteral("-"));
    // Commas in an e-mail address are dots read wrongly.
    if (f.contains(QLatin1Char('@')))
        f.replace(QRegularExpression(QStringLiteral("\\s*,\\s*(?=[A-Za-z])")), QStringLiteral("."));
    static const QRegularExpression spaced(QStringLiteral("\\s*([.@-])\\s*"));
    f.replace(spaced, QStringLiteral("\\1"));
    f = f.trimmed();
    // A space inside an address's word ("aoba-shoj i.example.jp") is a gap the recogniser saw
    // between two narrow letters: an address has none, so they go when what is left after a label
    // is an address without them.
    if (f.contains(QLatin1Char('@'))) {
        static const QRegularExpression labelled(
            QStringLiteral(R"(^((?:e-?mail|mail|メール)\s*:?\s*)?(.+)$)"),
            QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
        static const QRegularExpression address(
            QStringLiteral(R"(^[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+$)"));
        const QRegularExpressionMatch m = labelled.match(f);
        QString joined = m.captured(2);
        joined.remove(QLatin1Char(' '));
        if (m.captured(2).contains(QLatin1Char(' ')) && address.match(joined).hasMatch())
            f = m.captured(1) + joined;
    }
    f = withLikelyTopDomain(f);
    // Domain names know no case; a capital inside one ("exampLe.jp") is a misread letter.
    static const QRegularExpression domain(QStringLiteral(R"((?<=@)[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)"));
    const QRegularExpressionMatch d = domain.match(f);
    if (d.hasMatch())
        f.replace(d.capturedStart(), d.capturedLength(), d.captured(0).toLower());
    return f;
}

bool isContact(const QString& line) {
    return looksLikeContact(contactForm(line));
}

bool isOrganisation(const QString& line) {
    static const QStringList forms{
        QStringLiteral("株式会社"), QStringLiteral("有限会社"), QStringLiteral("合同会社"),
        QStringLiteral("合資会社"), QStringLiteral("合名会社"), QStringLiteral("(株)"),
        QStringLiteral("(有)"),     QStringLiteral("㈱"),       QStringLiteral("㈲")};
    static const QRegularExpression latin(
        QStringLiteral(R"(\b(inc\.?|co\.,?\s*ltd\.?|ltd\.?|llc|corporation|corp\.|gmbh)(?=\W|$))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString f = folded(line);
    return std::any_of(forms.begin(), forms.end(), [&](const QString& w) { return f.contains(w); }) ||
           latin.match(f).hasMatch();
}

const QStringList& titles() {
    static const QStringList list{
        QStringLiteral("代表取締役"),  QStringLiteral("取締役"),       QStringLiteral("執行役員"),
        QStringLiteral("監査役"),      QStringLiteral("社長"),         QStringLiteral("会長"),
        QStringLiteral("専務"),        QStringLiteral("常務"),         QStringLiteral("部長"),
        QStringLiteral("次長"),        QStringLiteral("課長"),         QStringLiteral("係長"),
        QStringLiteral("室長"),        QStringLiteral("所長"),         QStringLiteral("店長"),
        QStringLiteral("主任"),        QStringLiteral("主査"),         QStringLiteral("顧問"),
        QStringLiteral("理事"),        QStringLiteral("編集長"),       QStringLiteral("局長"),
        QStringLiteral("工場長"),      QStringLiteral("院長"),         QStringLiteral("主幹"),
        QStringLiteral("参事"),        QStringLiteral("参与"),         QStringLiteral("技師"),
        QStringLiteral("研究員"),      QStringLiteral("マネージャー"), QStringLiteral("リーダー"),
        QStringLiteral("ディレクター")};
    return list;
}

bool isPosition(const QString& line) {
    static const QRegularExpression latin(
        QStringLiteral(
            R"(\b(manager|director|president|chairman|ceo|cto|cfo|coo|officer|supervisor|engineer|editor|)"
            R"(researcher|scientist|designer|consultant|specialist|representative|assistant|analyst|)"
            R"(architect|accountant|secretary|coordinator|leader|head|partner)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString f = folded(line);
    return std::any_of(titles().begin(), titles().end(), [&](const QString& w) { return f.contains(w); }) ||
           latin.match(f).hasMatch();
}

// "総務課 室長", "第一営業部部長": a department, then a title. "営業部長" is a title alone.
const QRegularExpression& departmentThenTitle() {
    static const QRegularExpression pattern(
        QStringLiteral("^(.+?(?:部|課|室|グループ|センター))\\s*((?:%1).*)$")
            .arg(titles().join(QLatin1Char('|'))));
    return pattern;
}

bool isDepartment(const QString& line) {
    static const QRegularExpression ending(
        QStringLiteral(
            R"((部|課|室|グループ|department|division|section|office|dept\.?|research and development|r&d)$)"),
        QRegularExpression::CaseInsensitiveOption);
    return ending.match(folded(line).trimmed()).hasMatch();
}

bool isKana(char32_t c) {
    const QChar::Script s = QChar::script(c);
    return s == QChar::Script_Hiragana || s == QChar::Script_Katakana || c == 0x30FC || c == 0x30FB;
}

// Letters a Japanese name is written in: kanji (々 among them), kana, the long-vowel sign and the
// middle dot of foreign names.
bool isNameLetter(char32_t c) {
    return isHan(c) || isKana(c) || c == 0x3006;
}

// The number of letters when the line is a Japanese name's letters and spaces alone, else 0.
int japaneseNameLength(const QString& line) {
    int letters = 0;
    for (char32_t c : line.toUcs4()) {
        if (isSpace(c))
            continue;
        if (!isNameLetter(c))
            return 0;
        ++letters;
    }
    return letters;
}

bool looksLikeJapaneseName(const QString& line) {
    const int letters = japaneseNameLength(line);
    return letters >= 2 && letters <= 6;
}

// A line of kana (and spaces) alone, as a reading is printed.
bool isKanaLine(const QString& line) {
    int letters = 0, signs = 0;
    for (char32_t c : line.toUcs4()) {
        if (isSpace(c))
            continue;
        if (!isKana(c))
            return false;
        // The long-vowel sign and the middle dot only stand with letters: "ーー" is a misread stroke.
        ++(c == 0x30FC || c == 0x30FB ? signs : letters);
    }
    return letters >= 2 || (letters == 1 && signs > 0);
}

// Two or three capitalised words ("Emily Carter", "John F. Smith", "MARY O'NEILL").
bool looksLikeLatinName(const QString& line) {
    static const QRegularExpression name(
        QStringLiteral(R"(^[A-Z][A-Za-z'\-]+(?: (?:[A-Z]\.|[A-Z][A-Za-z'\-]+)){1,2}$)"));
    return name.match(line.trimmed()).hasMatch();
}

// Letters standing one by one between spaces ("佐 々 木 健 一"), as large print is often read.
bool isSpacedOut(const QString& line) {
    const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    return words.size() >= 3 && std::all_of(words.begin(), words.end(), [](const QString& w) {
               const QList<uint> c = w.toUcs4();
               return c.size() == 1 && isNameLetter(c[0]);
           });
}

// A Japanese organisation's line without the few Latin letters or signs the recogniser makes
// of a logo beside it ("=e 有限会社山本製作所"); Latin names are left as they are.
QString withoutStraySigns(const QString& line) {
    static const QRegularExpression stray(QStringLiteral(R"(^[^\s]{1,3}\s+(?=\S))"));
    const QRegularExpressionMatch m = stray.match(line);
    if (!m.hasMatch())
        return line;
    const QList<uint> lead = m.captured(0).trimmed().toUcs4();
    const QString rest = line.mid(m.capturedLength());
    const bool japaneseRest = !rest.isEmpty() && isJapanese(rest.toUcs4().first());
    // A sign among them or a single letter: initials ("ABC 株式会社") are the company's.
    const bool strayLead = std::none_of(lead.begin(), lead.end(), [](uint c) { return isJapanese(c); }) &&
                           (lead.size() == 1 || std::any_of(lead.begin(), lead.end(), [](uint c) {
                                return !QChar::isLetterOrNumber(c);
                            }));
    return japaneseRest && strayLead ? rest : line;
}

}  // namespace

QString boxLabel(Box box) {
    switch (box) {
        case Box::Name:
            return QStringLiteral("名前");
        case Box::Reading:
            return QStringLiteral("ふりがな");
        case Box::Organisation:
            return QStringLiteral("組織名");
        case Box::Department:
            return QStringLiteral("部署名");
        case Box::Position:
            return QStringLiteral("身分");
        case Box::Other:
            return QStringLiteral("その他");
        case Box::None:
            break;
    }
    return QStringLiteral("なし");
}

std::vector<Box> suggestBoxes(const std::vector<RecognisedLine>& lines) {
    std::vector<Box> boxes(lines.size(), Box::None);
    int japaneseName = -1, latinName = -1;
    const auto larger = [&](int candidate, int best) {
        return best < 0 || lines[candidate].size > lines[best].size;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const QString& text = lines[i].text;
        if (text.trimmed().isEmpty())
            continue;
        if (isContact(text))
            boxes[i] = Box::Other;
        else if (isOrganisation(text))
            boxes[i] = Box::Organisation;
        else if (isDepartment(text))
            boxes[i] = Box::Department;
        else if (isPosition(text))
            boxes[i] = Box::Position;
        else if (looksLikeJapaneseName(text) && larger(int(i), japaneseName))
            japaneseName = int(i);
        else if (looksLikeLatinName(text) && larger(int(i), latinName))
            latinName = int(i);
    }
    const int name = japaneseName >= 0 ? japaneseName : latinName;
    if (name < 0)
        return boxes;
    boxes[name] = Box::Name;
    if (name != japaneseName)
        return boxes;
    // Furigana is printed small, right above the name or right below it.
    for (int i : {name - 1, name + 1}) {
        if (i < 0 || i >= int(lines.size()) || boxes[i] != Box::None)
            continue;
        if (isKanaLine(lines[i].text) && lines[i].size * 4 <= lines[name].size * 3) {
            boxes[i] = Box::Reading;
            break;
        }
    }
    return boxes;
}

std::vector<RecognisedLine> prepareLines(const std::vector<RecognisedLine>& lines) {
    std::vector<RecognisedLine> out;
    out.reserve(lines.size());
    for (const RecognisedLine& line : lines) {
        if (isContact(line.text)) {
            out.push_back({normaliseContact(line.text), line.size});
            continue;
        }
        if (isSpacedOut(line.text)) {
            out.push_back({QString(line.text).remove(QRegularExpression(QStringLiteral("\\s+"))), line.size});
            continue;
        }
        if (isOrganisation(line.text)) {
            out.push_back({withoutStraySigns(line.text), line.size});
            continue;
        }
        const QRegularExpressionMatch m = departmentThenTitle().match(line.text.trimmed());
        if (m.hasMatch()) {
            out.push_back({m.captured(1).trimmed(), line.size});
            out.push_back({m.captured(2).trimmed(), line.size});
            continue;
        }
        out.push_back(line);
    }
    return out;
}

QString normaliseContact(const QString& line) {
    const QString form = contactForm(line);
    return looksLikeContact(form) ? form : line;
}

QString agreedReading(const std::vector<LineReading>& readings) {
    struct Spelling {
        QString text;
        float confidence = 0;
    };
    struct Letters {
        float confidence = 0;
        std::vector<Spelling> spellings;
    };
    std::vector<std::pair<QString, Letters>> groups;
    for (const LineReading& reading : readings) {
        const QString text = reading.text.simplified();
        if (text.isEmpty())
            continue;
        QString letters = text;
        letters.remove(QLatin1Char(' '));
        auto group =
            std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == letters; });
        if (group == groups.end())
            group = groups.insert(groups.end(), {letters, {}});
        group->second.confidence += std::max(reading.confidence, 1.0f);
        auto spelling = std::find_if(group->second.spellings.begin(), group->second.spellings.end(),
                                     [&](const Spelling& s) { return s.text == text; });
        if (spelling == group->second.spellings.end())
            spelling = group->second.spellings.insert(group->second.spellings.end(), {text, 0});
        spelling->confidence += std::max(reading.confidence, 1.0f);
    }
    if (groups.empty())
        return {};
    const auto best = std::max_element(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
        return a.second.confidence < b.second.confidence;
    });
    const std::vector<Spelling>& spellings = best->second.spellings;
    const auto surer = [](const Spelling& a, const Spelling& b) {
        const bool aSpaced = a.text.contains(QLatin1Char(' ')), bSpaced = b.text.contains(QLatin1Char(' '));
        return aSpaced != bSpaced ? bSpaced : a.confidence < b.confidence;
    };
    return std::max_element(spellings.begin(), spellings.end(), surer)->text;
}

QString tidyLine(const QString& text) {
    const QList<uint> chars = text.toUcs4();
    QString out;
    for (qsizetype i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        if (!isSpace(c)) {
            out += QChar::fromUcs4(c);
            continue;
        }
        // A run of spaces: dropped between two Japanese letters, one space elsewhere, none at
        // the ends.
        qsizetype end = i;
        while (end < chars.size() && isSpace(chars[end]))
            ++end;
        const bool atEdge = i == 0 || end == chars.size();
        if (!atEdge && !(isJapanese(chars[i - 1]) && isJapanese(chars[end])))
            out += QLatin1Char(' ');
        i = end - 1;
    }
    return out;
}

BoxTexts applyChoices(const BoxTexts& current, const std::vector<Choice>& choices, bool overwrite) {
    BoxTexts chosen;
    const auto field = [](BoxTexts& t, Box box) -> QString* {
        switch (box) {
            case Box::Name:
                return &t.name;
            case Box::Reading:
                return &t.reading;
            case Box::Organisation:
                return &t.organisation;
            case Box::Department:
                return &t.department;
            case Box::Position:
                return &t.position;
            case Box::Other:
                return &t.other;
            case Box::None:
                break;
        }
        return nullptr;
    };
    for (const Choice& c : choices) {
        QString* target = field(chosen, c.box);
        const QString text = c.text.trimmed();
        if (!target || text.isEmpty())
            continue;
        if (!target->isEmpty())
            *target += c.box == Box::Other ? QStringLiteral("\n") : QStringLiteral(" ");
        *target += text;
    }
    BoxTexts result = current;
    for (Box box : kAllBoxes) {
        QString* from = field(chosen, box);
        QString* to = field(result, box);
        if (from && !from->isEmpty() && (overwrite || to->trimmed().isEmpty()))
            *to = *from;
    }
    return result;
}

}  // namespace scan
