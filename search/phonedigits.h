#pragma once
// Telephone numbers as people write them: digits of either width with hyphens, spaces, brackets
// or dots between their parts. Read alike by the duplicate finder and the rules that read a
// card's picture.

#include <QString>

namespace search {

// A digit of either width.
bool isPhoneDigit(QChar c);

// What people put between the parts of a telephone number, in either width.
bool isPhoneSeparator(QChar c);

// The run of a telephone number that starts with the digit at from: its digits as plain ASCII
// digits, the separators between them left out. lastDigit is set to the position of the run's
// last digit.
QString phoneDigitsFrom(const QString& text, qsizetype from, qsizetype& lastDigit);

}  // namespace search
