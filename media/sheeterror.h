#pragma once
// The one failure type of the card sheet code: its text is a message for the user.

#include <QString>

#include <stdexcept>

namespace sheet {

class SheetError : public std::runtime_error {
public:
    explicit SheetError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

[[noreturn]] inline void fail(const QString& text) {
    throw SheetError(text);
}

}  // namespace sheet
