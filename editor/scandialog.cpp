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

    m_statusLabel = new QLabel(QStringLiteral("「%1」を読み取っています…").arg(name), this);
    m_statusLabel->setObjectName(QStringLiteral("StatusLabel"));
    m_statusLabel->setWordWrap(true);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setRange(0, 100);
    m_stopButton = button(this, "StopButton", QStringLiteral("中止"));

    m_lineTable = new QTableWidget(0, 2, this);
    m_lineTable->setObjectName(QStringLiteral("LineTable"));
    m_lineTable->setHorizontalHeaderLabels({QStringLiteral("読み取った行"), QStringLiteral("入れる欄")});
    m_lineTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_lineTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_lineTable->verticalHeader()->hide();
    m_lineTable->setAccessibleName(QStringLiteral("読み取った行"));
    m_lineTable->setItemDelegateForColumn(1, new NoEditor(m_lineTable));
    // A screen reader reads and sets a line's box through the cell under its combo box: a
    // caption set there chooses that box, any other text is put back.
    connect(m_lineTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* cell) {
        if (cell->column() != 1)
            return;
        auto* choice = qobject_cast<QComboBox*>(m_lineTable->cellWidget(cell->row(), 1));
        if (!choice)
            return;
        if (const std::optional<scan::Box> box = boxCaptioned(cell->text()))
            choice->setCurrentIndex(choice->findData(int(*box)));
        const QSignalBlocker quiet(m_lineTable);
        cell->setText(choice->currentText());
    });

    m_overwriteCheck = new QCheckBox(QStringLiteral("上書き"), this);
    m_overwriteCheck->setObjectName(QStringLiteral("OverwriteBox"));
    m_overwriteCheck->setToolTip(QStringLiteral("入力済みの欄も読み取った文字で置き換えます"));
    m_applyButton = button(this, "ApplyButton", QStringLiteral("適用"));
    m_applyButton->setEnabled(false);
    m_cancelButton = button(this, "CancelButton", QStringLiteral("キャンセル"));

    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progressBar, 1);
    progressRow->addWidget(m_stopButton);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_overwriteCheck);
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_applyButton);
    buttonRow->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statusLabel);
    layout->addLayout(progressRow);
    layout->addWidget(m_lineTable, 1);
    layout->addLayout(buttonRow);

    connect(m_stopButton, &QPushButton::clicked, this, &ScanDialog::StopButtonClick);
    connect(m_applyButton, &QPushButton::clicked, this,
            [this] { messages::guarded(this, [this] { ApplyButtonClick(); }); });
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_watcher, &QFutureWatcher<ScanOutcome>::finished, this, &ScanDialog::showOutcome);
    connect(&m_poll, &QTimer::timeout, this, [this] { m_progressBar->setValue(m_progress->percent); });

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
    m_stopButton->setEnabled(false);
    m_statusLabel->setText(QStringLiteral("読み取りを中止しています…"));
}

void ScanDialog::showOutcome() {
    m_reading = false;
    m_poll.stop();
    m_stopButton->setEnabled(false);
    const ScanOutcome outcome = m_watcher.result();
    if (!outcome.error.isEmpty()) {
        m_statusLabel->setText(outcome.error);
        m_progressBar->setValue(0);
    } else if (outcome.result->cancelled) {
        m_statusLabel->setText(QStringLiteral("読み取りを中止しました。"));
    } else if (outcome.result->lines.empty()) {
        m_statusLabel->setText(QStringLiteral("文字が見つかりませんでした。"));
        m_progressBar->setValue(100);
    } else {
        const scan::ScanResult& r = *outcome.result;
        m_progressBar->setValue(100);
        m_statusLabel->setText(
            QStringLiteral("%1 行を読み取りました。各行を入れる欄を選んで「適用」を押してください。")
                .arg(r.lines.size()));
        m_lineTable->setRowCount(int(r.lines.size()));
        int choiceWidth = m_lineTable->horizontalHeader()->sectionSizeHint(1);
        for (int row = 0; row < int(r.lines.size()); ++row) {
            m_lineTable->setItem(row, 0, new QTableWidgetItem(r.lines[row].text));
            auto* choice = new QComboBox(m_lineTable);
            for (scan::Box box : scan::kAllBoxes)
                choice->addItem(scan::boxLabel(box), int(box));
            choice->setCurrentIndex(choice->findData(int(r.boxes[row])));
            choice->setAccessibleName(QStringLiteral("入れる欄"));
            auto* cell = new QTableWidgetItem(choice->currentText());
            m_lineTable->setItem(row, 1, cell);
            m_lineTable->setCellWidget(row, 1, choice);
            connect(choice, &QComboBox::currentIndexChanged, this, [this, choice, cell] {
                const QSignalBlocker quiet(m_lineTable);
                cell->setText(choice->currentText());
            });
            choiceWidth = std::max(choiceWidth, choice->sizeHint().width());
        }
        // The header does not measure cell widgets: the column is made as wide as the choices.
        m_lineTable->setColumnWidth(1, choiceWidth);
        m_applyButton->setEnabled(true);
    }
    emit readingFinished();
}

void ScanDialog::ApplyButtonClick() {
    std::vector<scan::Choice> choices;
    for (int row = 0; row < m_lineTable->rowCount(); ++row) {
        const auto* choice = static_cast<QComboBox*>(m_lineTable->cellWidget(row, 1));
        choices.push_back({scan::Box(choice->currentData().toInt()), m_lineTable->item(row, 0)->text()});
    }
    m_result = scan::applyChoices(m_result, choices, m_overwriteCheck->isChecked());
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
