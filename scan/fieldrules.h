#pragma once
// Which editor box a recognised line of a card probably belongs to. Only suggestions: the user
// confirms or changes every choice before anything is filled in.

#include <QString>

#include <vector>

namespace scan {

// The editor boxes a line can go to. The reading is suggested only from a small kana line printed
// directly above or below the name: it cannot be told from kanji.
enum class Box { None, Name, Reading, Organisation, Department, Position, Other };

inline constexpr Box kAllBoxes[] = {Box::Name,     Box::Reading, Box::Organisation, Box::Department,
                                    Box::Position, Box::Other,   Box::None};

// The caption the editor shows for the box ("名前", ..., "なし" for none).
QString boxLabel(Box box);

struct RecognisedLine {
    QString text;
    int size = 0;  // height of the letters across the writing direction, in picture pixels
};

// The suggested box of each line, in the lines' order. A line is matched by the first rule that
// fits: a telephone number, an e-mail or a web address goes to その他; a company form
// (株式会社, Inc., Co., Ltd. ...) to 組織名; a line ending in 部, 課, 室 or グループ to 部署名
// (so 社長室 is a department); a title (部長, 代表取締役, Manager ...) to 身分. Of the lines left, the
// largest one of two to six Japanese letters (kanji, kana or both, spaces aside) is the name; on a
// card without one, the largest Latin name of two or three words ("Emily Carter"). A line of kana
// alone, smaller than the name and directly above or below it, is its reading. Everything else
// is none.
std::vector<Box> suggestBoxes(const std::vector<RecognisedLine>& lines);

// The lines as the rules want them, in order: contact lines normalised (see
// normaliseContact), a name spelt with a space between every letter joined ("佐 藤 健 一" ->
// "佐藤健一"), and a line holding a department and then a title ("総務課 室長") split in two
// lines of the same size.
std::vector<RecognisedLine> prepareLines(const std::vector<RecognisedLine>& lines);

// An e-mail, web or telephone line as it is written: full-width letters, digits and signs as
// ASCII, dashes as '-', and the spaces the recogniser puts around '.', '@' and '-' removed
// ("kenichi. sasaki@hokushin. co. jp" -> "kenichi.sasaki@hokushin.co.jp"). Any other line is
// returned unchanged.
QString normaliseContact(const QString& line);

// Removes the spaces the recogniser puts between Japanese characters ("有限 会 社" ->
// "有限会社"), trims, and folds runs of spaces; spaces between Latin words stay.
QString tidyLine(const QString& text);

// One reading of a line by the recogniser, with how sure it was (0 to 100).
struct LineReading {
    QString text;
    float confidence = 0;
};

// The text that readings of one line (at several sizes) agree on: readings of the same letters,
// spaces aside, pool their confidence, and the letters with the most win, so that one confident
// misreading does not outvote the same text read again and again. Of the winning readings, one
// with a space is taken when any has one, the recogniser putting a space only where it sees a
// gap; the surest such spelling. Empty readings count for nothing; empty when all are.
QString agreedReading(const std::vector<LineReading>& readings);

// The six boxes a scan can fill, as the editor holds them.
struct BoxTexts {
    QString name, reading, organisation, department, position, other;
    bool operator==(const BoxTexts&) const = default;
};

struct Choice {
    Box box = Box::None;
    QString text;
};

// The boxes after applying the choices to `current`: lines chosen for the same box are joined
// (with a space, or one a line for その他) in their order. A box that already holds text keeps
// it unless `overwrite` is set; a box no line was chosen for is never touched.
BoxTexts applyChoices(const BoxTexts& current, const std::vector<Choice>& choices, bool overwrite);

}  // namespace scan
