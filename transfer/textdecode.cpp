#include "textdecode.h"

#include "transfercard.h"

#include <QIODevice>
#include <QStringDecoder>

#include <unicode/ucnv.h>

namespace transfer {

struct TextDecoder::Converter {
    UConverter* icu = nullptr;
    Converter() = default;
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (icu)
            ucnv_close(icu);
    }
};

namespace {

constexpr qint64 kPiece = 1 << 20;

// Windows' Japanese code page, the Shift-JIS that Windows programs actually write (with NEC and
// IBM extensions such as circled digits). A byte sequence it does not map stops the conversion.
UConverter* openShiftJis() {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-31j", &status);
    if (U_FAILURE(status))
        return nullptr;
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        ucnv_close(conv);
        return nullptr;
    }
    return conv;
}

// Whether the whole device, from where it stands, reads in the encoding without a fault. Pieces
// end at a line break, which ends a character in both encodings.
bool readsAs(QIODevice& device, Encoding encoding, bool& nul) {
    TextDecoder decoder(encoding);
    while (!device.atEnd()) {
        QByteArray piece = device.read(kPiece);
        if (!piece.endsWith('\n') && !device.atEnd())
            piece += device.readLine();
        if (piece.contains('\0'))
            nul = true;
        if (!decoder.decode(piece))
            return false;
    }
    return true;
}

}  // namespace

QString encodingName(Encoding encoding) {
    return encoding == Encoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("Shift-JIS");
}

FileEncoding detectEncoding(QIODevice& device, bool mixedAllowed) {
    FileEncoding result;
    device.seek(0);
    result.byteOrderMark = device.peek(3) == "\xEF\xBB\xBF";
    const qint64 start = result.byteOrderMark ? 3 : 0;
    bool nul = false;
    device.seek(start);
    if (readsAs(device, Encoding::Utf8, nul)) {
        result.encoding = Encoding::Utf8;
    } else if (result.byteOrderMark) {
        throw TransferError(
            QStringLiteral("ファイルは UTF-8 と書かれていますが、UTF-8 として読めない部分があります。"));
    } else {
        device.seek(start);
        result.encoding = Encoding::ShiftJis;
        if (!readsAs(device, Encoding::ShiftJis, nul)) {
            if (!mixedAllowed)
                throw TransferError(
                    QStringLiteral("ファイルの文字コードがわかりません。UTF-8 か Shift-JIS "
                                   "のテキストファイルを選んでください。"));
            result.mixed = true;
        }
    }
    if (nul)
        throw TransferError(QStringLiteral("テキストファイルではありません（NUL 文字があります）。"));
    device.seek(0);
    return result;
}

TextDecoder::TextDecoder(Encoding encoding)
    : m_encoding(encoding), m_converter(std::make_unique<Converter>()) {
    if (encoding == Encoding::ShiftJis)
        m_converter->icu = openShiftJis();
}

TextDecoder::~TextDecoder() = default;

std::optional<QString> TextDecoder::decode(QByteArrayView bytes) {
    if (m_encoding == Encoding::Utf8) {
        // A U+FEFF at the start of a field is text, not a byte-order mark.
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString text = decoder(bytes);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }
    if (!m_converter->icu)
        return std::nullopt;
    ucnv_reset(m_converter->icu);
    UErrorCode status = U_ZERO_ERROR;
    QString text(bytes.size() + 1, Qt::Uninitialized);
    const int32_t length = ucnv_toUChars(m_converter->icu, reinterpret_cast<UChar*>(text.data()),
                                         int32_t(text.size()), bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    text.truncate(length);
    return text;
}

std::optional<Encoding> encodingFromCharset(QByteArrayView name) {
    const QByteArray n = name.toByteArray().trimmed().toUpper().replace('-', "").replace('_', "");
    if (n == "UTF8" || n == "USASCII" || n == "ASCII")
        return Encoding::Utf8;
    if (n == "SHIFTJIS" || n == "SJIS" || n == "CP932" || n == "WINDOWS31J" || n == "MSKANJI" || n == "XSJIS")
        return Encoding::ShiftJis;
    return std::nullopt;
}

}  // namespace transfer
