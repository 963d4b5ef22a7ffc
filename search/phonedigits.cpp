#include "phonedigits.h"

namespace search {

bool isPhoneDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19);
}

bool isPhoneSeparator(QChar c) {
    switch (c.unicode()) {
        case u'-':
        case u' ':
        case u'(':
        case u')':
        case u'.':
        case 0x2010:  // hyphen
        case 0x2011:
        case 0x2012:
        case 0x2013:
        case 0x2212:  // minus sign
        case 0x30FC:  // long-vowel mark, typed for a dash
        case 0xFF0D:  // full-width hyphen-minus
        case 0xFF08:
        case 0xFF09:
        case 0x3000:  // ideographic space
            return true;
        default:
            return false;
    }
}

QString phoneDigitsFrom(const QString& text, qsizetype from, qsizetype& lastDigit) {
    QString digits;
    lastDigit = from;
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isPhoneDigit(c)) {
            digits += QChar(c.unicode() >= 0xFF10 ? u'0' + (c.unicode() - 0xFF10) : c.unicode());
            lastDigit = i;
        } else if (!isPhoneSeparator(c)) {
            break;
        }
    }
    return digits;
}

}  // namespace search
