#include "textfold.h"

#include <utility>

namespace search {

namespace {

// Hiragana that have a katakana twin 0x60 above them: ぁ..ゖ and the iteration marks ゝ ゞ.
constexpr bool isFoldedHiragana(char16_t c) {
    return (c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E;
}
constexpr char16_t kKanaDistance = 0x60;

// Characters that NFKC leaves alone whatever surrounds them and that case folding does not
// touch or touches only as ASCII does. Text made of these alone (most names, readings and
// memos) is folded in one pass without the normaliser.
constexpr bool isPlainForFold(char16_t c) {
    return c < 0x80                          // ASCII; letters are lowered below
           || (c >= 0x3001 && c <= 0x3002)   // 、。
           || (c >= 0x3005 && c <= 0x3007)   // 々〆〇
           || (c >= 0x300C && c <= 0x3011)   // brackets
           || (c >= 0x3041 && c <= 0x3096)   // hiragana (not the spacing voiced marks)
           || (c >= 0x309D && c <= 0x309E)   // ゝゞ
           || (c >= 0x30A1 && c <= 0x30FE)   // katakana, ・ and ー (not ヿ)
           || (c >= 0x4E00 && c <= 0x9FFF);  // ideographs
}

void foldKanaAndAscii(QString& text) {
    for (QChar& qc : text) {
        const char16_t c = qc.unicode();
        if (isFoldedHiragana(c))
            qc = QChar(char16_t(c + kKanaDistance));
        else if (c >= u'A' && c <= u'Z')
            qc = QChar(char16_t(c + (u'a' - u'A')));
    }
}

void foldDashes(QString& text) {
    for (QChar& qc : text) {
        if (const char16_t dash = foldedDash(qc.unicode()))
            qc = QChar(dash);
    }
}

}  // namespace

char16_t foldedDash(char32_t c) {
    switch (c) {
        case 0x2010:  // hyphen (the non-breaking hyphen becomes it in the normaliser)
        case 0x2012:  // figure dash, the hyphen of telephone numbers
        case 0x2212:  // minus sign (superscript and subscript minus become it)
            return u'-';
        case 0x301C:  // wave dash; the full-width tilde its Windows twin becomes "~" in the normaliser
            return u'~';
        default:
            return 0;
    }
}

QString foldForSearch(QString text) {
    bool plain = true;
    for (const QChar c : text) {
        if (!isPlainForFold(c.unicode())) {
            plain = false;
            break;
        }
    }
    if (plain) {
        foldKanaAndAscii(text);
        return text;
    }
    // Kana are folded after the normaliser, which first turns half-width katakana and separate
    // voiced marks into the composed full-width kana; case folding comes last since NFKC makes
    // full-width letters ASCII.
    QString folded = std::move(text).normalized(QString::NormalizationForm_KC);
    foldKanaAndAscii(folded);
    foldDashes(folded);
    return folded.toCaseFolded();
}

}  // namespace search
