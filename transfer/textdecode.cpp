#include "textdecode.h"

#include "transfercard.h"

#include <QStringDecoder>

#include <unicode/ucnv.h>

#include <memory>
#include <optional>

namespace transfer {

namespace {

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Windows' Japanese code page, the Shift-JIS that Windows programs actually write (with NEC and
// IBM extensions such as circled digits). A byte sequence it does not map stops the conversion.
std::optional<QString> strictShiftJis(QByteArrayView bytes) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> conv(ucnv_open("windows-31j", &status), ucnv_close);
    if (U_FAILURE(status))
        return std::nullopt;
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    // Every byte becomes at most one UTF-16 unit.
    QString text(bytes.size() + 1, Qt::Uninitialized);
    const int32_t length = ucnv_toUChars(conv.get(), reinterpret_cast<UChar*>(text.data()),
                                         int32_t(text.size()), bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    text.truncate(length);
    return text;
}

}  // namespace

DecodedText decodeText(const QByteArray& bytes) {
    QByteArrayView view(bytes);
    const bool bom = view.startsWith("\xEF\xBB\xBF");
    if (bom)
        view = view.sliced(3);
    DecodedText result;
    if (auto text = strictUtf8(view)) {
        result = {*text, QStringLiteral("UTF-8")};
    } else if (bom) {
        throw TransferError(
            QStringLiteral("ファイルは UTF-8 と書かれていますが、UTF-8 として読めない部分があります。"));
    } else if (auto sjis = strictShiftJis(view)) {
        result = {*sjis, QStringLiteral("Shift-JIS")};
    } else {
        throw TransferError(QStringLiteral(
            "ファイルの文字コードがわかりません。UTF-8 か Shift-JIS のテキストファイルを選んでください。"));
    }
    if (result.text.contains(QChar(0)))
        throw TransferError(QStringLiteral("テキストファイルではありません（NUL 文字があります）。"));
    return result;
}

}  // namespace transfer
