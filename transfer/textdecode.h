#pragma once
// Text files from other programs: UTF-8 with or without a byte-order mark, or Shift-JIS as older
// Windows programs write it, told apart by which of them reads the bytes without a fault.

#include <QByteArray>
#include <QString>

namespace transfer {

struct DecodedText {
    QString text;
    QString encoding;  // "UTF-8" or "Shift-JIS"
};

// Throws TransferError when the bytes are neither (a picture, UTF-16, a broken file).
DecodedText decodeText(const QByteArray& bytes);

}  // namespace transfer
