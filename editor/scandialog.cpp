#include "scandialog.h"

#include "formlook.h"
#include "messages.h"
#include "scanreader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <optional>

namespace {

const QString kReadText = QStringLiteral("画像から読み取る…");

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new formlook::KeyButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

std::optional<scan::Box> boxCaptioned(const QString& caption) {
    for (scan::Box box : scan::kAllBoxes) {
        if (scan::boxLabel(box) == caption)
            return box;
    }
    return std::nullopt;
}

// The choice cells are changed through their combo boxes; the cell itself opens no editor of
// its own, which would take any text.
class NoEditor final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
        return nullptr;
    }
};

}  // namespace

ScanDialog::ScanDialog(const QByteArray& nativePath, const QString& name, const scan::BoxTexts& current,
                       QWidget* parent)
    : QDialog(parent), m_progress(std::make_shared<scan::ScanProgress>()), m_result(current) {
    setObjectName(QStringLiteral("ScanDialog"));
    setWindowTitle(QStringLiteral("画像から読み取る"));
    resize(560, 420);

    StatusLabel = new QLabel(QStringLiteral("「%1」を読み取っています…").arg(name), this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setWordWrap(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    StopButton = button(this, "StopButton", QStringLiteral("中止"));

    LineTable = new QTableWidget(0, 2, this);
    LineTable->setObjectName(QStringLiteral("LineTable"));
    LineTable->setHorizontalHeaderLabels({QStringLiteral("読み取った行"), QStringLiteral("入れる欄")});
    LineTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    LineTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    LineTable->verticalHeader()->hide();
    LineTable->setAccessibleName(QStringLiteral("読み取った行"));
    LineTable->setItemDelegateForColumn(1, new NoEditor(LineTable));
    // A screen reader reads and sets a line's box through the cell under its combo box: a
    // caption set there chooses that box, any other text is put back.
    connect(LineTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* cell) {
        if (cell->column() != 1)
            return;
        auto* choice = qobject_cast<QComboBox*>(LineTable->cellWidget(cell->row(), 1));
        if (!choice)
            return;
        if (const std::optional<scan::Box> box = boxCaptioned(cell->text()))
            choice->setCurrentIndex(choice->findData(int(*box)));
        const QSignalBlocker quiet(LineTable);
        cell->setText(choice->currentText());
    });

    OverwriteBox = new QCheckBox(QStringLiteral("上書き"), this);
    OverwriteBox->setObjectName(QStringLiteral("OverwriteBox"));
    OverwriteBox->setToolTip(QStringLiteral("入力済みの欄も読み取った文字で置き換えます"));
    ApplyButton = button(this, "ApplyButton", QStringLiteral("適用"));
    ApplyButton->setEnabled(false);
    CancelButton = button(this, "CancelButton", QStringLiteral("キャンセル"));

    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(ProgressBar1, 1);
    progressRow->addWidget(StopButton);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(OverwriteBox);
    buttonRow->addStretch(1);
    buttonRow->addWidget(ApplyButton);
    buttonRow->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StatusLabel);
    layout->addLayout(progressRow);
    layout->addWidget(LineTable, 1);
    layout->addLayout(buttonRow);

    connect(StopButton, &QPushButton::clicked, this, &ScanDialog::StopButtonClick);
    connect(ApplyButton, &QPushButton::clicked, this,
            [this] { messages::guarded(this, [this] { ApplyButtonClick(); }); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_watcher, &QFutureWatcher<ScanOutcome>::finished, this, &ScanDialog::showOutcome);
    connect(&m_poll, &QTimer::timeout, this, [this] { ProgressBar1->setValue(m_progress->percent); });

    // The picture is decoded here: its reader's memory limit is a process-wide setting that the
    // editor changes while it shows pictures, so it is touched on this thread only. Decoding is
    // quick (large photos are decoded scaled); recognising is the slow part.
    QImage grey;
    QString loadError;
    try {
        grey = scan::loadForRecognition(nativePath, name);
    } catch (const std::exception& e) {
        loadError = QString::fromUtf8(e.what());
    }
    // The worker owns a share of the progress, so a dialog closed early leaves it nothing dangling.
    m_watcher.setFuture(QtConcurrent::run([grey, loadError, progress = m_progress] {
        ScanOutcome outcome{nullptr, loadError};
        if (!loadError.isEmpty())
            return outcome;
        try {
            outcome.result = std::make_shared<scan::ScanResult>(scan::recognise(grey, *progress));
        } catch (const std::exception& e) {
            outcome.error = QString::fromUtf8(e.what());
        } catch (...) {
            outcome.error = QStringLiteral("文字認識中に予期しないエラーが発生しました。");
        }
        return outcome;
    }));
    m_poll.start(100);
}

ScanDialog::~ScanDialog() {
    m_progress->cancel = true;
    m_watcher.waitForFinished();
}

void ScanDialog::StopButtonClick() {
    m_progress->cancel = true;
    StopButton->setEnabled(false);
    StatusLabel->setText(QStringLiteral("読み取りを中止しています…"));
}

void ScanDialog::showOutcome() {
    m_reading = false;
    m_poll.stop();
    StopButton->setEnabled(false);
    const ScanOutcome outcome = m_watcher.result();
    if (!outcome.error.isEmpty()) {
        StatusLabel->setText(outcome.error);
        ProgressBar1->setValue(0);
    } else if (outcome.result->cancelled) {
        StatusLabel->setText(QStringLiteral("読み取りを中止しました。"));
    } else if (outcome.result->lines.empty()) {
        StatusLabel->setText(QStringLiteral("文字が見つかりませんでした。"));
        ProgressBar1->setValue(100);
    } else {
        const scan::ScanResult& r = *outcome.result;
        ProgressBar1->setValue(100);
        StatusLabel->setText(
            QStringLiteral("%1 行を読み取りました。各行を入れる欄を選んで「適用」を押してください。")
                .arg(r.lines.size()));
        LineTable->setRowCount(int(r.lines.size()));
        int choiceWidth = LineTable->horizontalHeader()->sectionSizeHint(1);
        for (int row = 0; row < int(r.lines.size()); ++row) {
            LineTable->setItem(row, 0, new QTableWidgetItem(r.lines[row].text));
            auto* choice = new QComboBox(LineTable);
            for (scan::Box box : scan::kAllBoxes)
                choice->addItem(scan::boxLabel(box), int(box));
            choice->setCurrentIndex(choice->findData(int(r.boxes[row])));
            choice->setAccessibleName(QStringLiteral("入れる欄"));
            auto* cell = new QTableWidgetItem(choice->currentText());
            LineTable->setItem(row, 1, cell);
            LineTable->setCellWidget(row, 1, choice);
            connect(choice, &QComboBox::currentIndexChanged, this, [this, choice, cell] {
                const QSignalBlocker quiet(LineTable);
                cell->setText(choice->currentText());
            });
            choiceWidth = std::max(choiceWidth, choice->sizeHint().width());
        }
        // The header does not measure cell widgets: the column is made as wide as the choices.
        LineTable->setColumnWidth(1, choiceWidth);
        ApplyButton->setEnabled(true);
    }
    emit readingFinished();
}

void ScanDialog::ApplyButtonClick() {
    std::vector<scan::Choice> choices;
    for (int row = 0; row < LineTable->rowCount(); ++row) {
        const auto* choice = static_cast<QComboBox*>(LineTable->cellWidget(row, 1));
        choices.push_back({scan::Box(choice->currentData().toInt()), LineTable->item(row, 0)->text()});
    }
    m_result = scan::applyChoices(m_result, choices, OverwriteBox->isChecked());
    accept();
}

ReadScanAction::ReadScanAction(QWidget* imageArea) : QAction(kReadText, imageArea), m_imageArea(imageArea) {
    setObjectName(QStringLiteral("ReadScanAction"));
    setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    setShortcutContext(Qt::WindowShortcut);
    imageArea->addAction(this);
    // The menu lives as long as the image area: a menu made afresh at each right click leaves
    // screen readers holding items of the menu before it, which no longer belong anywhere.
    auto* menu = new QMenu(imageArea);
    menu->setObjectName(QStringLiteral("PictureMenu"));
    menu->setAccessibleName(QStringLiteral("画像のメニュー"));
    menu->addAction(this);
    imageArea->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(imageArea, &QWidget::customContextMenuRequested, menu,
            [menu, imageArea](const QPoint& at) { menu->popup(imageArea->mapToGlobal(at)); });
    connect(this, &QAction::triggered, this, [this] { messages::guarded(m_imageArea, [this] { open(); }); });
    clearPicture();
}

void ReadScanAction::setPicture(const QByteArray& nativePath, const QString& name) {
    m_picture = nativePath;
    m_name = name;
    // Checked at each change of picture, so that data installed while the program runs is found.
    const QString missing = scan::missingPackages().join(QStringLiteral("、"));
    if (missing.isEmpty()) {
        setText(kReadText);
        setEnabled(!nativePath.isEmpty());
    } else {
        setText(QStringLiteral("画像から読み取る（%1 のインストールが必要です）").arg(missing));
        setEnabled(false);
    }
}

void ReadScanAction::open() {
    if (m_picture.isEmpty() || !isEnabled())
        return;
    auto* dialog = new ScanDialog(m_picture, m_name, currentTexts ? currentTexts() : scan::BoxTexts{},
                                  m_imageArea->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (applyTexts)
            applyTexts(dialog->result());
    });
    dialog->open();
}
