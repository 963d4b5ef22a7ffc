#pragma once
// Reading the text of a card's picture: the picture is turned upright, scaled and made grey,
// then read by the recognition engine, horizontal Japanese and Latin first and, when the card
// turns out to be written in columns, again with the vertical model. The recognition runs on any
// thread and can be cancelled from another thread through its ScanProgress.

#include "fieldrules.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <vector>

namespace scan {

// A reading that could not be done; what() is a message for the user, in UTF-8.
class ScanError final : public std::runtime_error {
public:
    explicit ScanError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// Shared between the reading thread and whoever watches it.
struct ScanProgress {
    std::atomic<bool> cancel{false};  // set to stop the reading early
    std::atomic<int> percent{0};      // 0-100, rises while words are recognised
};

struct ScanResult {
    std::vector<RecognisedLine> lines;  // in reading order
    std::vector<Box> boxes;             // the suggested box of each line
    bool vertical = false;              // read as columns
    bool cancelled = false;             // stopped through ScanProgress::cancel; lines are empty
};

// Pictures declaring more than this are refused before decoding.
inline constexpr qint64 kMaxPixels = 100'000'000;
inline constexpr int kMaxSide = 30000;
// The longer side of the picture handed to the engine: card text stays well above the size the
// engine reads best at, and a 4000 x 3000 scan is read in a few seconds.
inline constexpr int kWorkingSide = 2000;
// The height in pixels of a line of letters that the recognition model reads best.
inline constexpr int kBestLineHeight = 40;

// The folder the recognition models are read from: $TESSDATA_PREFIX when set, else the
// engine's Debian location.
QString dataFolder();
// The Debian packages whose models are missing from dataFolder(); empty when all are there.
QStringList missingPackages();
// "Install ..." in one sentence for the user, or empty when nothing is missing.
QString missingDataMessage();

// The picture at path upright (its EXIF orientation applied), scaled so that its longer side
// is kWorkingSide, in 8-bit grey. Throws ScanError naming the file when it cannot be read.
// Raises the image reader's process-wide memory limit while it decodes, shared with readers on
// other threads (pictureloader::ReaderAllocationLimit), so it may run on any thread.
QImage loadForRecognition(const QString& path);
// The same for a file named by its bytes as the file system holds them (names that are no valid
// UTF-8); `name` is how messages name it.
QImage loadForRecognition(const QByteArray& nativePath, const QString& name);

// Reads the lines of a grey picture; any thread. Throws ScanError when the engine cannot start.
ScanResult recognise(const QImage& grey, ScanProgress& progress);

// loadForRecognition, then recognise.
ScanResult readScan(const QString& path, ScanProgress& progress);

// The read-scan command: reads the picture and hands `out` one line per recognised line, the
// suggested box's caption (なし for none), a tab, and the text. A picture that cannot be read or
// missing recognition data is told to `err`. Returns the exit status: 0 done, 1 failed or
// cancelled through `progress` (nothing handed to `out` then).
int readScanCommand(const QString& path, const std::function<void(const QString&)>& out,
                    const std::function<void(const QString&)>& err, ScanProgress* progress = nullptr);

}  // namespace scan
