#include "transferwindows.h"

#include "messages.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace transferwindows {

namespace {

// The file model writes its dates in the system's locale, which is English under C.UTF-8; the
// dialog shows them as the program's (Japanese) locale writes them.
class JapaneseDates final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole && index.column() == kModifiedColumn) {
            if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel()))
                return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    static constexpr int kModifiedColumn = 3;
};

// Qt's own file dialog rather than the desktop's, whose language follows the locale: Qt's is
// Japanese through its translations whatever the locale.
QString chooseFile(QWidget* parent, const QString& caption, const QString& start, const QString& filters,
                   QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, caption, start, filters);
    dialog.setObjectName(QStringLiteral("FileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setProxyModel(new JapaneseDates(&dialog));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

class DesktopFileChooser final : public FileChooser {
public:
    QString saveFile(QWidget* parent, const QString& caption, const QString& suggested,
                     const QString& filters) override {
        return chooseFile(parent, caption, suggested, filters, QFileDialog::AcceptSave);
    }
    QString openFile(QWidget* parent, const QString& caption, const QString& filters) override {
        return chooseFile(parent, caption, QString(), filters, QFileDialog::AcceptOpen);
    }
};

FileChooser* g_chooser = nullptr;

}  // namespace

QString FileChooser::openFolder(QWidget* parent, const QString& caption) {
    QFileDialog dialog(parent, caption);
    dialog.setObjectName(QStringLiteral("FolderDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void setFileChooser(FileChooser* chooser) {
    g_chooser = chooser;
}

FileChooser& fileChooser() {
    static DesktopFileChooser desktop;
    return g_chooser ? *g_chooser : desktop;
}

ProgressWindow::ProgressWindow(QWidget* parent, const QString& title) : m_dialog(parent) {
    m_dialog.setObjectName(QStringLiteral("ProgressWindow"));
    m_dialog.setWindowTitle(title);
    m_dialog.setWindowModality(Qt::WindowModal);
    m_dialog.setCancelButton(nullptr);
    m_dialog.setMinimumDuration(0);
    m_dialog.setMinimumWidth(420);
    m_dialog.setRange(0, 100);
    m_dialog.setValue(0);
}

transfer::Progress ProgressWindow::reporter() {
    return [this](const QString& line, int percent) {
        m_dialog.setLabelText(line);
        if (percent >= 0)
            m_dialog.setValue(percent);
        // The work runs on this thread: let the window paint, but take no clicks meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
}

ImportWindow::ImportWindow(transfer::ImportPlan plan, const QString& file, Replan replan, QWidget* parent)
    : QDialog(parent), m_plan(std::move(plan)), m_file(file), m_replan(std::move(replan)) {
    setObjectName(QStringLiteral("ImportWindow"));
    setWindowTitle(QStringLiteral("読み込み"));
    auto* layout = new QVBoxLayout(this);

    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("Summary"));
    m_summaryLabel->setWordWrap(true);
    layout->addWidget(m_summaryLabel);

    m_columnTable = new QTableWidget(0, 2, this);
    m_columnTable->setObjectName(QStringLiteral("ColumnTable"));
    m_columnTable->setHorizontalHeaderLabels({QStringLiteral("ファイルの列"), QStringLiteral("入れる欄")});
    m_columnTable->horizontalHeader()->setStretchLastSection(true);
    m_columnTable->verticalHeader()->hide();
    m_columnTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_columnTable, 2);

    m_cardPreviewTable = new QTableWidget(0, 9, this);
    m_cardPreviewTable->setObjectName(QStringLiteral("CardPreview"));
    m_cardPreviewTable->setHorizontalHeaderLabels(
        {QStringLiteral("元"), QStringLiteral("名前"), QStringLiteral("ふりがな"), QStringLiteral("組織名"),
         QStringLiteral("部署"), QStringLiteral("身分"), QStringLiteral("メモ"), QStringLiteral("画像"),
         QStringLiteral("読み込まないもの")});
    m_cardPreviewTable->verticalHeader()->hide();
    m_cardPreviewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_cardPreviewTable->setWordWrap(true);
    layout->addWidget(m_cardPreviewTable, 3);

    m_duplicateList = new QListWidget(this);
    m_duplicateList->setObjectName(QStringLiteral("DuplicateList"));
    layout->addWidget(m_duplicateList, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_importButton = new QPushButton(QStringLiteral("登録"), this);
    m_importButton->setObjectName(QStringLiteral("ImportButton"));
    m_cancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    buttons->addWidget(m_importButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
    connect(m_importButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    fillColumns();
    showPlan();
    resize(900, 560);
}

void ImportWindow::fillColumns() {
    const bool csv = m_plan.format == transfer::FileFormat::Csv;
    m_columnTable->setVisible(csv);
    if (!csv)
        return;
    const QList<transfer::csv::ColumnTarget>& targets = m_plan.columns.targets;
    m_columnTable->setRowCount(int(targets.size()));
    for (int row = 0; row < targets.size(); ++row) {
        const transfer::csv::ColumnTarget& target = targets[row];
        const QString header =
            target.header.trimmed().isEmpty() ? QStringLiteral("（名前のない列）") : target.header;
        m_columnTable->setItem(row, 0, new QTableWidgetItem(header));
        auto* choice = new QComboBox(m_columnTable);
        choice->setObjectName(QStringLiteral("ColumnChoice%1").arg(row));
        int current = -1;
        for (const transfer::csv::Choice& c : transfer::csv::choices()) {
            if (c.box == target.box)
                current = choice->count();
            choice->addItem(c.box == transfer::csv::Box::MemoLine && target.box == c.box
                                ? transfer::csv::describe(target)
                                : c.caption,
                            int(c.box));
        }
        if (current < 0) {  // the key of our own export, or a label of another column
            current = choice->count();
            choice->addItem(transfer::csv::describe(target), int(target.box));
        }
        choice->setCurrentIndex(current);
        choice->setEnabled(bool(m_replan));
        connect(choice, &QComboBox::activated, this, [this, row](int index) { onColumnChosen(row, index); });
        m_columnTable->setCellWidget(row, 1, choice);
    }
    m_columnTable->resizeColumnToContents(0);
}

void ImportWindow::onColumnChosen(int column, int index) {
    auto* choice = qobject_cast<QComboBox*>(m_columnTable->cellWidget(column, 1));
    const auto box = transfer::csv::Box(choice->itemData(index).toInt());
    transfer::csv::Columns columns = m_plan.columns;
    if (columns.targets[column].box == box)
        return;
    columns.targets[column] = transfer::csv::retargeted(columns.targets[column], box);
    // A refused choice (no column left for a name, a text too long for its box) leaves the
    // columns as they were.
    messages::guarded(this, [&] { m_plan = m_replan(columns); });
    // Rebuilt after the handler returns: this combo box is one of the rows.
    QMetaObject::invokeMethod(
        this,
        [this] {
            fillColumns();
            showPlan();
        },
        Qt::QueuedConnection);
}

void ImportWindow::showPlan() {
    const transfer::ImportPlan& plan = m_plan;
    const qsizetype fresh = plan.cardCount - plan.duplicates.size();
    QString text = QStringLiteral("「%1」（%2、%3）の名刺 %4 件を新しい名刺として登録します。")
                       .arg(m_file, plan.format == transfer::FileFormat::Csv ? QStringLiteral("CSV")
                                                                             : QStringLiteral("vCard"))
                       .arg(plan.encoding)
                       .arg(plan.cardCount);
    if (plan.format == transfer::FileFormat::Csv) {
        const QStringList leftOut = plan.columns.leftOut();
        text += leftOut.isEmpty() ? QStringLiteral("\n列ごとに入れる欄を変えられます。")
                                  : QStringLiteral("\n読み込まない列: %1（入れる欄を選べば読み込みます）")
                                        .arg(leftOut.join(QStringLiteral("、")));
    }
    if (plan.cardCount > plan.preview.size())
        text += QStringLiteral("\n下の表は最初の %1 件です。").arg(plan.preview.size());
    if (!plan.duplicates.isEmpty())
        text += QStringLiteral(
                    "\nそのうち %1 件は名前と組織名が同じ名刺がすでにあります。"
                    "登録するものにだけチェックを付けてください（%2 件は必ず登録します）。")
                    .arg(plan.duplicates.size())
                    .arg(fresh);
    m_summaryLabel->setText(text);

    m_cardPreviewTable->setRowCount(int(plan.preview.size()));
    for (int row = 0; row < plan.preview.size(); ++row) {
        const transfer::Card& c = plan.preview[row];
        const QStringList cells = {
            transfer::originText(plan, c),
            c.texts.name,
            c.texts.reading,
            c.texts.organisation,
            c.texts.department,
            c.texts.position,
            c.texts.memo,  // the file's memo with the lines for what the card has no box for
            c.pictures.isEmpty() ? QString() : QStringLiteral("%1 枚").arg(c.pictures.size()),
            c.leftOut.join(QLatin1Char('\n'))};
        for (int column = 0; column < cells.size(); ++column)
            m_cardPreviewTable->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // The memo is the longest cell: wide enough to read a mail address whole.
    m_cardPreviewTable->resizeColumnsToContents();
    m_cardPreviewTable->setColumnWidth(6, qBound(100, m_cardPreviewTable->columnWidth(6), 320));
    m_cardPreviewTable->resizeRowsToContents();

    // Checks already made stay made for the cards that are still likely duplicates.
    const QSet<int> taken = takenDuplicates();
    m_duplicateList->clear();
    for (qsizetype d = 0; d < plan.duplicates.size(); ++d) {
        const int i = plan.duplicates[d];
        const transfer::Card& c = plan.duplicateCards[d];
        auto* item =
            new QListWidgetItem(QStringLiteral("%1  %2 / %3")
                                    .arg(transfer::originText(plan, c), c.texts.name, c.texts.organisation),
                                m_duplicateList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(taken.contains(i) ? Qt::Checked : Qt::Unchecked);
        item->setData(Qt::UserRole, i);
    }
    m_duplicateList->setVisible(!plan.duplicates.isEmpty());
}

QSet<int> ImportWindow::takenDuplicates() const {
    QSet<int> taken;
    for (int row = 0; row < m_duplicateList->count(); ++row) {
        const QListWidgetItem* item = m_duplicateList->item(row);
        if (item->checkState() == Qt::Checked)
            taken.insert(item->data(Qt::UserRole).toInt());
    }
    return taken;
}

}  // namespace transferwindows
