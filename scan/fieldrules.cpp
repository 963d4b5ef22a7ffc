#include "fieldrules.h"

#include <QRegularExpression>

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

bool isContact(const QString& line) {
    static const QRegularExpression mail(
        QStringLiteral(R"([A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)"));
    static const QRegularExpression web(
        QStringLiteral(
            R"(https?://|\bwww\.|^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.(com|net|org|jp|biz|info)(/\S*)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression phoneLabel(
        QStringLiteral(R"(^(tel|fax|phone|mobile|mob|電話|携帯|直通|代表電話)\b)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // Nine or more digits joined by the usual separators: 03-1234-5678, +81 (3) 5555 0142.
    static const QRegularExpression phoneNumber(QStringLiteral(R"(\+?\(?\d[\d\-‐－ー().\s]{7,}\d)"));
    const QString f = folded(line);
    if (mail.match(f).hasMatch() || web.match(f).hasMatch() || phoneLabel.match(f).hasMatch())
        return true;
    auto numbers = phoneNumber.globalMatch(f);
    while (numbers.hasNext()) {
        const QString run = numbers.next().captured();
        if (std::count_if(run.begin(), run.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }) >= 9)
            return true;
    }
    return false;
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

bool isPosition(const QString& line) {
    static const QStringList titles{
        QStringLiteral("代表取締役"), QStringLiteral("取締役"), QStringLiteral("執行役員"),
        QStringLiteral("監査役"),     QStringLiteral("社長"),   QStringLiteral("会長"),
        QStringLiteral("専務"),       QStringLiteral("常務"),   QStringLiteral("部長"),
        QStringLiteral("次長"),       QStringLiteral("課長"),   QStringLiteral("係長"),
        QStringLiteral("室長"),       QStringLiteral("所長"),   QStringLiteral("店長"),
        QStringLiteral("主任"),       QStringLiteral("主査"),   QStringLiteral("顧問"),
        QStringLiteral("理事")};
    static const QRegularExpression latin(
        QStringLiteral(
            R"(\b(manager|director|president|chairman|ceo|cto|cfo|coo|officer|supervisor|engineer)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString f = folded(line);
    return std::any_of(titles.begin(), titles.end(), [&](const QString& w) { return f.contains(w); }) ||
           latin.match(f).hasMatch();
}

bool isDepartment(const QString& line) {
    static const QRegularExpression ending(
        QStringLiteral(R"((部|課|室|グループ|department|division|dept\.?)$)"),
        QRegularExpression::CaseInsensitiveOption);
    return ending.match(folded(line).trimmed()).hasMatch();
}

// True when the line is two to four kanji, spaces aside.
bool looksLikeKanjiName(const QString& line) {
    int kanji = 0;
    for (char32_t c : line.toUcs4()) {
        if (isSpace(c))
            continue;
        if (!isHan(c))
            return false;
        ++kanji;
    }
    return kanji >= 2 && kanji <= 4;
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
    int nameLine = -1;
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
        else if (looksLikeKanjiName(text) && (nameLine < 0 || lines[i].size > lines[nameLine].size))
            nameLine = int(i);
    }
    if (nameLine >= 0)
        boxes[nameLine] = Box::Name;
    return boxes;
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
