#include "sheetexport.h"

#include "picturefolder.h"
#include "privatefile.h"
#include "sheeterror.h"
#include "sheetpackage.h"
#include "sheetpictures.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace sheet {

namespace {

constexpr double kFontSize = 8;
constexpr double kMemoRowHeight = 100;
constexpr double kPixelsPerPoint = 96.0 / 72.0;
constexpr qint64 kEmuPerPoint = 12700;
// The workbook's standard font, in force while the columns are fitted: Calibri 11 points,
// whose digits are 7 pixels wide; a column of w characters is w * 7 + 5 pixels wide.
constexpr double kStandardFontPixels = 11 * kPixelsPerPoint;
constexpr double kDigitPixels = 7;
constexpr double kCellPaddingPixels = 7;

void check(lxw_error rc) {
    if (rc != LXW_NO_ERROR)
        fail(QStringLiteral("シートを作成できませんでした。\r\n%1").arg(QString::fromUtf8(lxw_strerror(rc))));
}

struct WorkbookFree {
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

struct Cell {
    int row, col;
    QString text;
};

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

QString cellText(const QString& text) {
    // Spreadsheet programs read _xHHHH_ in a cell text as the character HHHH: text that looks
    // like it keeps its underscore by escaping it, and characters XML cannot carry are written
    // in that form.
    static const QRegularExpression lookalike(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
    QString escaped = text;
    escaped.replace(lookalike, QStringLiteral("_x005F_"));
    QString out;
    out.reserve(escaped.size());
    for (const char32_t c : escaped.toUcs4()) {
        if (allowedInXml(c))
            out += QChar::fromUcs4(c);
        else
            out +=
                QStringLiteral("_x%1_").arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
    }
    return out;
}

QString attributeText(const QString& text) {
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (allowedInXml(c))
            out += QChar::fromUcs4(c);
        else
            out += QChar::ReplacementCharacter;
    }
    return out;
}

QString reserveSheetFile(const QString& folder, const QString& baseId, const QDateTime& now) {
    static const QRegularExpression unsafe(QStringLiteral("[^0-9A-Za-z]"));
    QString key = baseId;
    key.remove(unsafe);
    if (key.isEmpty())
        key = QStringLiteral("new");
    const QString stem =
        QStringLiteral("card-%1-%2").arg(key, now.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int n = 1; n < 10000; ++n) {
        const QString name = n == 1 ? stem : QStringLiteral("%1-%2").arg(stem).arg(n);
        // Made private here; the workbook is written into this very file and keeps its mode.
        QString path = QDir(folder).filePath(name + QStringLiteral(".xlsx"));
        const int fd = privatefile::create(path);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            fail(QStringLiteral("シートのファイルを作成できませんでした。\r\n%1\r\n%2")
                     .arg(QDir::toNativeSeparators(path), privatefile::systemReason(errno)));
    }
    fail(QStringLiteral("シートのファイル名を決められませんでした。\r\n%1")
             .arg(QDir::toNativeSeparators(folder)));
}

double fittedColumnWidth(const QStringList& texts) {
    // Measured large and scaled down, so that no rounding of a small pixel size creeps in.
    constexpr int kMeasurePixels = 110;
    QFont font;
    font.setFamilies({QStringLiteral("Calibri"), QStringLiteral("Carlito"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(kMeasurePixels);
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const QString& text : texts)
        for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r"))))
            widest = std::max(widest, metrics.horizontalAdvance(line));
    if (widest <= 0)
        return LXW_DEF_COL_WIDTH;
    const double pixels = std::ceil(widest * kStandardFontPixels / kMeasurePixels) + kCellPaddingPixels;
    // Whole 1/256 of a character, as column widths are kept.
    return std::ceil((pixels - 5) / kDigitPixels * 256) / 256;
}

namespace {

// The card's texts in the framed cells B2:G5 under the title in A1, the memo merged across its
// row, columns fitted to their texts, 8-point type everywhere, printed one page wide.
void layOutCells(lxw_workbook* wb, lxw_worksheet* ws, const cards::CardTexts& texts) {
    lxw_format* plain = workbook_add_format(wb);
    format_set_font_size(plain, kFontSize);
    lxw_format* grid = workbook_add_format(wb);
    format_set_font_size(grid, kFontSize);
    format_set_border(grid, LXW_BORDER_THIN);
    lxw_format* memo = workbook_add_format(wb);
    format_set_font_size(memo, kFontSize);
    format_set_border(memo, LXW_BORDER_THIN);
    format_set_text_wrap(memo);

    // Rows and columns as in the card sheet's design: A1 the title, B2:G5 the framed card.
    const QList<Cell> cells = {
        {0, 0, QStringLiteral("名刺情報")},
        {1, 1, QStringLiteral("名前")},
        {1, 2, texts.name},
        {2, 1, QStringLiteral("ふりがな")},
        {2, 2, texts.reading},
        {1, 4, QStringLiteral("組織名")},
        {1, 5, texts.organisation},
        {3, 1, QStringLiteral("部署名")},
        {3, 2, texts.department},
        {2, 4, QStringLiteral("身分")},
        {2, 5, texts.position},
        {4, 1, QStringLiteral("メモ")},
    };
    constexpr int kGridTop = 1, kGridBottom = 4, kGridLeft = 1, kGridRight = 6, kMemoRow = 4, kMemoCol = 2;
    bool written[kGridBottom + 1][kGridRight + 1] = {};
    QStringList columnTexts[kGridRight + 1];
    for (const Cell& cell : cells) {
        const QByteArray utf8 = cellText(cell.text).toUtf8();
        const bool inGrid = cell.row >= kGridTop;
        check(worksheet_write_string(ws, lxw_row_t(cell.row), lxw_col_t(cell.col), utf8.constData(),
                                     inGrid ? grid : plain));
        written[cell.row][cell.col] = true;
        columnTexts[cell.col] << cell.text;
    }
    // Every cell of the frame carries the lines, the empty ones too.
    for (int row = kGridTop; row < kMemoRow; ++row)
        for (int col = kGridLeft; col <= kGridRight; ++col)
            if (!written[row][col])
                check(worksheet_write_blank(ws, lxw_row_t(row), lxw_col_t(col), grid));
    // The merged memo cell is left out of the column fit, as spreadsheets do with merged cells.
    const QByteArray memoText = cellText(texts.memo).toUtf8();
    check(worksheet_merge_range(ws, kMemoRow, kMemoCol, kMemoRow, kGridRight, memoText.constData(), memo));

    // The column fit first, at the standard font; then 8 points everywhere, the empty cells
    // included through the row and column formats.
    for (int col = 0; col <= kGridRight; ++col)
        check(worksheet_set_column(ws, lxw_col_t(col), lxw_col_t(col), fittedColumnWidth(columnTexts[col]),
                                   plain));
    check(worksheet_set_column(ws, kGridRight + 1, LXW_COL_MAX - 1, LXW_DEF_COL_WIDTH, plain));
    for (int row = 0; row <= kMemoRow; ++row)
        check(worksheet_set_row(ws, lxw_row_t(row), row == kMemoRow ? kMemoRowHeight : LXW_DEF_ROW_HEIGHT,
                                plain));

    // Printed one page wide, however wide the fitted columns came out.
    worksheet_fit_to_pages(ws, 1, 0);
}

// Each picture placed by absolute position, three to a row, 70 points high with its proportions
// kept; the drawing turns phone photos upright. Returns the entries placed, in their order.
QStringList placePictures(lxw_worksheet* ws, const QList<SheetPicture>& pictures, QList<AnchorBox>& boxes,
                          QList<MediaSource>& media, QList<QByteArray>& descriptions) {
    QStringList placed;
    for (const SheetPicture& picture : pictures) {
        const int k = int(boxes.size());
        const QPointF at = picturePosition(k);
        const QSizeF size = pictureSize(picture.uprightPixels());
        const PictureTurn turn = pictureTurn(picture.transformation);
        MediaSource source;
        source.placeholder = placeholderPicture(picture.format, k);
        if (picture.pngData.isEmpty())
            source.file = picture.path;
        else
            source.data = picture.pngData;
        media << source;
        descriptions << attributeText(picture.entry).toUtf8();

        lxw_image_options image{};
        image.x_offset = int32_t(std::lround(at.x() * kPixelsPerPoint));
        image.y_offset = int32_t(std::lround(at.y() * kPixelsPerPoint));
        image.x_scale = size.width() * kPixelsPerPoint;
        image.y_scale = size.height() * kPixelsPerPoint;
        image.object_position = LXW_OBJECT_DONT_MOVE_DONT_SIZE;
        image.description = descriptions.last().data();
        check(worksheet_insert_image_buffer_opt(
            ws, 0, 0, reinterpret_cast<const unsigned char*>(media.last().placeholder.constData()),
            size_t(media.last().placeholder.size()), &image));
        boxes << AnchorBox{qint64(std::llround(at.x() * kEmuPerPoint)),
                           qint64(std::llround(at.y() * kEmuPerPoint)),
                           qint64(std::llround(size.width() * kEmuPerPoint)),
                           qint64(std::llround(size.height() * kEmuPerPoint)),
                           turn.degrees,
                           turn.flipH,
                           turn.flipV};
        placed << picture.entry;
    }

    return placed;
}

}  // namespace

WrittenSheet writeCardSheet(const cards::CardTexts& texts, const QString& folder, const QString& outputPath) {
    WrittenSheet result;
    QList<RefusedPicture> refused;
    const QList<SheetPicture> pictures = collectPictures(folder, &result.skipped, &refused);
    for (const RefusedPicture& r : std::as_const(refused)) {
        result.refused << r.entry;
        result.refusedReasons << r.reason;
    }

    QTemporaryDir work;
    if (!work.isValid())
        fail(QStringLiteral("作業用の一時フォルダを作成できませんでした。\r\n%1").arg(work.errorString()));
    const QByteArray draft = QFile::encodeName(work.filePath(QStringLiteral("draft.xlsx")));
    QByteArray tmpdir = QFile::encodeName(work.path());
    lxw_workbook_options options{};
    options.tmpdir = tmpdir.data();
    std::unique_ptr<lxw_workbook, WorkbookFree> workbook(workbook_new_opt(draft.constData(), &options));
    if (!workbook)
        fail(QStringLiteral("シートを作成できませんでした。"));
    lxw_worksheet* ws = workbook_add_worksheet(workbook.get(), nullptr);
    if (!ws)
        fail(QStringLiteral("シートを作成できませんでした。"));

    layOutCells(workbook.get(), ws, texts);
    // The writer keeps pointers to the descriptions until the workbook is closed.
    QList<AnchorBox> boxes;
    QList<MediaSource> media;
    QList<QByteArray> descriptions;
    result.placed = placePictures(ws, pictures, boxes, media, descriptions);

    const lxw_error closed = workbook_close(workbook.release());
    check(closed);
    finishPackage(QFile::decodeName(draft), outputPath, boxes, media);
    return result;
}

ExportedSheet exportCard(const CardFolder& cardFolder, const QString& baseId, const cards::CardTexts& texts,
                         const QDateTime& now) {
    const QString folder = cardFolder.sheetsFolder();
    if (!privatefile::makeFolders(folder))
        fail(QStringLiteral("シートを保存するフォルダを作成できませんでした。\r\n%1")
                 .arg(QDir::toNativeSeparators(folder)));
    ExportedSheet sheet;
    sheet.path = reserveSheetFile(folder, baseId, now);
    try {
        sheet.written =
            writeCardSheet(texts, picturefolder::baseFolder(cardFolder.picturesRoot, baseId), sheet.path);
    } catch (...) {
        QFile::remove(sheet.path);  // no half-written workbook is left behind
        throw;
    }
    return sheet;
}

}  // namespace sheet
