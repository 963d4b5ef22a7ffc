#pragma once
// The windows around backup, restore, export and import: choosing files, a progress window for
// work that runs on the user-interface thread, and the import window with the likely duplicates.

#include "importer.h"

#include <QDialog>
#include <QProgressDialog>
#include <QSet>

class QLabel;
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

// What an import will register: a summary, and the cards that look stored already, each with a
// check box (unchecked: skipped).
class ImportWindow final : public QDialog {
    Q_OBJECT
public:
    ImportWindow(const transfer::ImportPlan& plan, const QString& file, QWidget* parent = nullptr);

    QLabel* Summary = nullptr;
    QListWidget* DuplicateList = nullptr;
    QPushButton* ImportButton = nullptr;  // 登録
    QPushButton* CancelButton = nullptr;  // キャンセル

    // Positions in the plan's cards of the duplicates the user checked.
    QSet<int> takenDuplicates() const;

private:
    const transfer::ImportPlan& m_plan;
};

}  // namespace transferwindows
