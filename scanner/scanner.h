#pragma once
// Scanning paper cards through SANE: the scanners SANE finds, and the pages of one scan written as
// PNG pictures into a folder, page after page from a sheet feeder or one page from the glass.
// No widgets here; a scan runs on any thread and is cancelled from another one.

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <stdexcept>

namespace scanner {

// A failure told to the user in Japanese, naming the scanner and SANE's status
// ("スキャナ「…」が使えません：紙がありません（SANE_STATUS_NO_DOCS）"). A scan that fails after some
// pages were written keeps them: pages() names them, in page order.
class ScannerError final : public std::runtime_error {
public:
    explicit ScannerError(const QString& text, const QStringList& pages = {})
        : std::runtime_error(text.toStdString()), m_pages(pages) {}
    QString text() const { return QString::fromUtf8(what()); }
    QStringList pages() const { return m_pages; }

private:
    QStringList m_pages;
};

struct Device {
    QString name;   // as SANE knows it ("test:0", "escl:http://...")
    QString label;  // "Vendor Model（type）", for a list the user picks from
};

// The scanners SANE finds now. Throws ScannerError when SANE cannot start or a scan is running.
QList<Device> devices();

struct ScanRequest {
    QString device;      // a Device::name
    bool feeder = true;  // the sheet feeder's pages until it is empty; else one page from the glass
    int dpi = 300;       // the nearest resolution the scanner offers is used
    bool colour = true;  // colour, else grey
};

// Shared between the scanning thread and whoever watches it.
struct ScanProgress {
    std::atomic<bool> cancel{false};  // set to stop after the pages already whole
    std::atomic<int> pages{0};        // pages written so far
};

// Scans from request.device into outFolder (created when missing): each page becomes
// outFolder/scan-NNNN.png, numbered on after the scan-*.png pictures already there, written under
// a hidden temporary name and renamed once whole, so that a picture name never holds half a page
// and no existing picture is replaced. With the feeder, pages follow until the feeder is empty;
// without one, or when the scanner has no feeder, one page is scanned. Returns the new pictures in
// page order; a cancelled scan returns those written before the cancel. Throws ScannerError (with
// the pages written before the failure) when the scanner or the folder fails. One scan at a time
// per process: a second one meanwhile is refused.
QStringList scanPages(const ScanRequest& request, const QString& outFolder, ScanProgress& progress);

}  // namespace scanner
