#pragma once
// Reading the shown picture of a card into the editor's boxes: the image area's menu item and
// Ctrl+R open a dialog that reads the picture on a worker thread, lists the lines with the box
// suggested for each, and fills the boxes the user confirms. Nothing is written to the database.

#include "fieldrules.h"

#include <QAction>
#include <QDialog>
#include <QFutureWatcher>
#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace scan {
struct ScanProgress;
struct ScanResult;
}  // namespace scan

// What the worker hands back: the lines, or the message of the failure.
struct ScanOutcome {
    std::shared_ptr<scan::ScanResult> result;
    QString error;
};

class ScanDialog final : public QDialog {
    Q_OBJECT
public:
    // Starts reading the picture at once: the file named by its bytes on disk (nativePath), shown
    // to the user as `name`.
    ScanDialog(const QByteArray& nativePath, const QString& name, const scan::BoxTexts& current,
               QWidget* parent = nullptr);
    // Stops a reading still running and waits for the worker.
    ~ScanDialog() override;
    ScanDialog(const ScanDialog&) = delete;
    ScanDialog& operator=(const ScanDialog&) = delete;
    ScanDialog(ScanDialog&&) = delete;
    ScanDialog& operator=(ScanDialog&&) = delete;

    // The editor's boxes after 適用; the boxes as given before it.
    const scan::BoxTexts& result() const { return m_result; }
    // True from the start until the outcome is shown.
    bool reading() const { return m_reading; }

    QProgressBar* m_progressBar = nullptr;  // reading progress
    QPushButton* m_stopButton = nullptr;    // 中止: stops the reading
    QLabel* m_statusLabel = nullptr;        // what the dialog is doing, or why the reading failed
    QTableWidget* m_lineTable = nullptr;    // one row per line: its text (editable) and a box choice
    QCheckBox* m_overwriteCheck = nullptr;  // 上書き: fill boxes that already hold text too
    QPushButton* m_applyButton = nullptr;   // 適用
    QPushButton* m_cancelButton = nullptr;  // キャンセル

    void StopButtonClick();
    void ApplyButtonClick();

signals:
    void readingFinished();

private:
    void showOutcome();

    std::shared_ptr<scan::ScanProgress> m_progress;
    QFutureWatcher<ScanOutcome> m_watcher;
    QTimer m_poll;
    scan::BoxTexts m_result;
    bool m_reading = true;
};

// "画像から読み取る…" on the image area's context menu and as Ctrl+R in its window. Enabled while a
// picture is shown; without the recognition data it names the packages to install instead.
class ReadScanAction final : public QAction {
    Q_OBJECT
public:
    explicit ReadScanAction(QWidget* imageArea);

    // The file of the picture shown, by its bytes on disk and by the name shown; empty when none
    // is.
    void setPicture(const QByteArray& nativePath, const QString& name);
    void clearPicture() { setPicture({}, {}); }
    const QByteArray& picture() const { return m_picture; }

    // How the action reads and fills the editor's boxes.
    std::function<scan::BoxTexts()> currentTexts;
    std::function<void(const scan::BoxTexts&)> applyTexts;

    // Opens the dialog for the shown picture (window-modal; returns at once).
    void open();

private:
    QWidget* m_imageArea;
    QByteArray m_picture;
    QString m_name;
};
