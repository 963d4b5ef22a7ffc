#pragma once
// The windows around backup, restore, export and import: choosing files, a progress window for
// work that runs on the user-interface thread, and the import window with the likely duplicates.

#include "importer.h"

#include <QDialog>
#include <QProgressDialog>
#include <QSet>

#include <functional>

class QLabel;
class QTableWidget;
class QListWidget;
class QPushButton;

namespace transferwindows {

// Chooses files through the desktop's file dialogs; tests put their own answers in place.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual QString saveFile(QWidget* parent, const QString& caption, const QString& suggested,
                             const QString& filters) = 0;
    virtual QString openFile(QWidget* parent, const QString& caption, const QString& filters) = 0;
    // An existing folder; empty when the user cancels.
    virtual QString openFolder(QWidget* parent, const QString& caption);
};
// Null restores the desktop's dialogs. The caller keeps ownership.
void setFileChooser(FileChooser* chooser);
FileChooser& fileChooser();

// A progress bar and the current step while the work runs; the window repaints between steps.
// There is nothing to cancel: the engine's services run to their end.
class ProgressWindow final {
public:
    ProgressWindow(QWidget* parent, const QString& title);
    transfer::Progress reporter();

private:
    QProgressDialog m_dialog;
};

// What an import will register, before anything is written: a summary; for a CSV, where each
// column goes, which the user may change; what goes where for the first cards (boxes, memo lines,
// pictures, what is left out); and the cards that look stored already, each with a check box
// (unchecked: skipped).
class ImportWindow final : public QDialog {
    Q_OBJECT
public:
    // Reads the file again with the columns the user chose; throws TransferError.
    using Replan = std::function<transfer::ImportPlan(const transfer::csv::Columns&)>;
    ImportWindow(transfer::ImportPlan plan, const QString& file, Replan replan = {},
                 QWidget* parent = nullptr);

    QLabel* m_summaryLabel = nullptr;
    QTableWidget* m_columnTable = nullptr;       // a CSV's columns: header, where it goes
    QTableWidget* m_cardPreviewTable = nullptr;  // the first cards as they will be written
    QListWidget* m_duplicateList = nullptr;
    QPushButton* m_importButton = nullptr;  // 登録
    QPushButton* m_cancelButton = nullptr;  // キャンセル

    // The plan as last read, with the user's columns.
    const transfer::ImportPlan& plan() const { return m_plan; }
    // Positions in the file of the duplicates the user checked.
    QSet<int> takenDuplicates() const;

private:
    void showPlan();
    void fillColumns();
    void onColumnChosen(int column, int choice);

    transfer::ImportPlan m_plan;
    QString m_file;
    Replan m_replan;
};

}  // namespace transferwindows
