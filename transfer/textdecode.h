#pragma once
// Text files from other programs: UTF-8 with or without a byte-order mark, or Shift-JIS as older
// Windows programs write it, told apart by which of them reads the bytes without a fault. Files
// are read in pieces, never held whole.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QIODevice;

namespace transfer {

enum class Encoding { Utf8, ShiftJis };

// "UTF-8" or "Shift-JIS".
QString encodingName(Encoding encoding);

struct FileEncoding {
    Encoding encoding = Encoding::Utf8;
    bool byteOrderMark = false;  // three bytes to pass over at the start
    bool mixed = false;          // parts in each encoding, as a vCard may name per property
};

// Reads the whole device from its start and finds its encoding; leaves it at its start again.
// Throws TransferError when the bytes are neither (a picture, UTF-16, a broken file, NUL bytes),
// unless mixedAllowed: then a file of both is taken as mixed.
FileEncoding detectEncoding(QIODevice& device, bool mixedAllowed = false);

// Turns bytes of one encoding into text, one piece at a time; a piece must end on a character's
// end. Nothing when the bytes are not of the encoding.
class TextDecoder {
public:
    explicit TextDecoder(Encoding encoding);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;
    std::optional<QString> decode(QByteArrayView bytes);
    Encoding encoding() const { return m_encoding; }

private:
    Encoding m_encoding;
    struct Converter;
    std::unique_ptr<Converter> m_converter;
};

// The encoding a character set name (a vCard's CHARSET) stands for; nothing for one not read.
std::optional<Encoding> encodingFromCharset(QByteArrayView name);

}  // namespace transfer
