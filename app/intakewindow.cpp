#include "intakewindow.h"

#include "carddatabase.h"
#include "cards.h"
#include "formlook.h"
#include "messages.h"
#include "picturearea.h"
#include "pictureloader.h"
#include "scanner.h"
#include "transferwindows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

namespace {

const QString kSuggestedStyle = QStringLiteral("background-color: #fff1b8;");
const QString kSuggestedTip = QStringLiteral("画像から読み取った候補です。確かめてください。");

QLineEdit* boxEdit(QWidget* parent, const QString& name, int limit, const QString& accessibleName) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(limit);
    edit->setAccessibleName(accessibleName);
    return edit;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption) {
    auto* b = new formlook::KeyButton(caption, parent);
    b->setObjectName(name);
    return b;
}

// Runs work on a thread of its own while a small window shows `text` (from status() while it
// runs) and the program stays responsive; with a cancel flag the window has 中止, which sets it.
// Returns when the work has ended, and throws what it threw.
void runBeside(QWidget* parent, const QString& text, const std::function<void()>& work,
               std::atomic<bool>* cancel, const std::function<QString()>& status = {}) {
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    QProgressDialog dialog(text, QString(), 0, 0, parent);
    dialog.setObjectName(QStringLiteral("WorkingWindow"));
    dialog.setWindowTitle(QStringLiteral("まとめて取り込む"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    if (cancel) {
        auto* stop = new QPushButton(QStringLiteral("中止"), &dialog);
        stop->setObjectName(QStringLiteral("StopButton"));
        dialog.setCancelButton(stop);
        QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [cancel] { *cancel = true; });
    } else {
        dialog.setCancelButton(nullptr);
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (status)
            dialog.setLabelText(status());
        if (done)
            loop.quit();
    });
    poll.start(50);
    dialog.show();
    loop.exec();
    // The program ending (a signal, a logout) leaves every event loop: the scan stops too.
    if (!done && cancel)
        *cancel = true;
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace

IntakeStartWindow::IntakeStartWindow(QString scansRoot, QWidget* parent)
    : QDialog(parent), m_scansRoot(std::move(scansRoot)) {
    setObjectName(QStringLiteral("IntakeStartWindow"));
    setWindowTitle(QStringLiteral("まとめて取り込む"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("名刺の画像を読み取り、1 枚ずつ確かめて登録します。"), this),
                      0, 0, 1, 3);
    m_folderChoice = new QRadioButton(QStringLiteral("フォルダの画像"), this);
    m_folderChoice->setObjectName(QStringLiteral("FolderChoice"));
    m_folderChoice->setChecked(true);
    m_folderEdit = new QLineEdit(this);
    m_folderEdit->setObjectName(QStringLiteral("FolderEdit"));
    m_folderEdit->setAccessibleName(QStringLiteral("画像のフォルダ"));
    m_folderEdit->setMinimumWidth(320);
    m_browseButton = button(this, QStringLiteral("BrowseButton"), QStringLiteral("参照…"));
    layout->addWidget(m_folderChoice, 1, 0);
    layout->addWidget(m_folderEdit, 1, 1);
    layout->addWidget(m_browseButton, 1, 2);
    m_scannerChoice = new QRadioButton(QStringLiteral("スキャナ"), this);
    m_scannerChoice->setObjectName(QStringLiteral("ScannerChoice"));
    m_scannerList = new QComboBox(this);
    m_scannerList->setObjectName(QStringLiteral("ScannerList"));
    m_scannerList->setAccessibleName(QStringLiteral("スキャナ"));
    m_scannerList->setPlaceholderText(QStringLiteral("「スキャナを探す」を押してください"));
    m_findButton = button(this, QStringLiteral("FindButton"), QStringLiteral("スキャナを探す"));
    layout->addWidget(m_scannerChoice, 2, 0);
    layout->addWidget(m_scannerList, 2, 1);
    layout->addWidget(m_findButton, 2, 2);
    m_feederCheck =
        new QCheckBox(QStringLiteral("シートフィーダの紙をすべて読む（外すとガラス面の 1 枚）"), this);
    m_feederCheck->setObjectName(QStringLiteral("FeederCheck"));
    m_feederCheck->setChecked(true);
    layout->addWidget(m_feederCheck, 3, 1, 1, 2);
    m_duplexCheck = new QCheckBox(QStringLiteral("両面（画像 2 枚ずつを 1 枚の名刺の表と裏とする）"), this);
    m_duplexCheck->setObjectName(QStringLiteral("DuplexCheck"));
    layout->addWidget(m_duplexCheck, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    m_startButton = button(this, QStringLiteral("StartButton"), QStringLiteral("開始"));
    m_cancelButton = button(this, QStringLiteral("CancelButton"), QStringLiteral("キャンセル"));
    buttons->addStretch();
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons, 5, 0, 1, 3);
    messages::connectGuarded(m_browseButton, &QPushButton::clicked, this,
                             &IntakeStartWindow::onBrowseClicked);
    messages::connectGuarded(m_startButton, &QPushButton::clicked, this, &IntakeStartWindow::onStartClicked);
    messages::connectGuarded(m_findButton, &QPushButton::clicked, this, &IntakeStartWindow::findScanners);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_scannerList, &QComboBox::activated, m_scannerChoice,
            [this] { m_scannerChoice->setChecked(true); });
}

void IntakeStartWindow::findScanners() {
    QList<scanner::Device> found;
    runBeside(
        this, QStringLiteral("スキャナを探しています…"), [&] { found = scanner::devices(); }, nullptr);
    m_scannerList->clear();
    for (const scanner::Device& d : found)
        m_scannerList->addItem(d.label, d.name);
    if (found.isEmpty()) {
        messages::show(
            this,
            QStringLiteral("スキャナが見つかりません。電源とケーブル（ネットワーク）を確かめてください。"));
        return;
    }
    m_scannerList->setCurrentIndex(0);
    m_scannerChoice->setChecked(true);
}

QString IntakeStartWindow::scan() {
    if (m_scannerList->currentIndex() < 0) {
        messages::show(this,
                       QStringLiteral("スキャナを選んでください（「スキャナを探す」で一覧になります）。"));
        return {};
    }
    const scanner::ScanRequest request{.device = m_scannerList->currentData().toString(),
                                       .feeder = m_feederCheck->isChecked()};
    // A folder of its own for each scan, named by the moment it began.
    QString folder =
        QDir(m_scansRoot).filePath(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = QDir(m_scansRoot)
                     .filePath(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                               QStringLiteral("-%1").arg(n));
    scanner::ScanProgress progress;
    QStringList pages;
    QString failure;
    runBeside(
        this, QStringLiteral("スキャンしています…"),
        [&] {
            try {
                pages = scanner::scanPages(request, folder, progress);
            } catch (const scanner::ScannerError& e) {
                pages = e.pages();
                failure = e.text();
            }
        },
        &progress.cancel,
        [&] { return QStringLiteral("スキャンしています（%1 枚）…").arg(progress.pages.load()); });
    if (!failure.isEmpty()) {
        if (pages.isEmpty())
            throw scanner::ScannerError(failure);
        messages::show(
            this,
            failure + QStringLiteral("\r\nここまでにスキャンした %1 枚を取り込みます。").arg(pages.size()));
    }
    if (pages.isEmpty()) {
        messages::show(this, QStringLiteral("スキャンした画像がありません。"));
        return {};
    }
    return folder;
}

bool IntakeStartWindow::duplex() const {
    return m_duplexCheck->isChecked();
}

void IntakeStartWindow::onBrowseClicked() {
    const QString folder =
        transferwindows::fileChooser().openFolder(this, QStringLiteral("名刺の画像のフォルダ"));
    if (!folder.isEmpty()) {
        m_folderEdit->setText(QDir::toNativeSeparators(folder));
        m_folderChoice->setChecked(true);
    }
}

void IntakeStartWindow::onStartClicked() {
    if (m_scannerChoice->isChecked()) {
        const QString scanned = scan();
        if (scanned.isEmpty())
            return;
        m_folderEdit->setText(QDir::toNativeSeparators(scanned));
        m_folderChoice->setChecked(true);  // what was scanned stays there, also when the window is left
    }
    const QString folder = m_folderEdit->text().trimmed();
    if (folder.isEmpty()) {
        messages::show(this, QStringLiteral("名刺の画像のフォルダを選んでください。"));
        return;
    }
    intake::listStack(folder, duplex());  // refuses a folder without pictures here, not later
    m_folder = folder;
    accept();
}

IntakeWindow::IntakeWindow(CardDatabase& database, QString folder, bool duplex, QWidget* parent, int workers)
    : QDialog(parent),
      m_database(database),
      m_folder(std::move(folder)),
      m_cards(intake::listStack(m_folder, duplex)),
      m_record(m_folder),
      m_today(QDate::currentDate()) {
    setObjectName(QStringLiteral("IntakeWindow"));
    setWindowTitle(QStringLiteral("まとめて取り込む"));
    m_record.load();
    m_stored.load(m_database);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_positionLabel = new QLabel(this);
    m_positionLabel->setObjectName(QStringLiteral("PositionLabel"));
    m_stateLabel = new QLabel(this);
    m_stateLabel->setObjectName(QStringLiteral("StateLabel"));
    top->addWidget(m_positionLabel, 1);
    top->addWidget(m_stateLabel);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    auto* pictures = new QVBoxLayout;
    m_frontPicture = new PictureArea(this);
    m_frontPicture->setObjectName(QStringLiteral("FrontPicture"));
    m_frontPicture->setMinimumSize(440, 260);
    m_frontPicture->setAccessibleName(QStringLiteral("名刺の表"));
    m_backPicture = new PictureArea(this);
    m_backPicture->setObjectName(QStringLiteral("BackPicture"));
    m_backPicture->setMinimumSize(440, 260);
    m_backPicture->setAccessibleName(QStringLiteral("名刺の裏"));
    pictures->addWidget(m_frontPicture, 1);
    pictures->addWidget(m_backPicture, 1);
    middle->addLayout(pictures, 3);

    using Limits = cards::ColumnLimits;
    auto* form = new QGridLayout;
    const auto caption = [&](int row, const QString& text, QWidget* box) {
        auto* label = new QLabel(text, this);
        label->setBuddy(box);
        form->addWidget(label, row, 0);
    };
    auto* date = new QHBoxLayout;
    m_yearEdit = boxEdit(this, QStringLiteral("YearEdit"), Limits::year, QStringLiteral("年"));
    m_monthEdit = boxEdit(this, QStringLiteral("MonthEdit"), Limits::month, QStringLiteral("月"));
    m_dayEdit = boxEdit(this, QStringLiteral("DayEdit"), Limits::day, QStringLiteral("日"));
    for (QLineEdit* e : {m_yearEdit, m_monthEdit, m_dayEdit}) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), e));
        e->setMaximumWidth(e == m_yearEdit ? 60 : 40);
    }
    date->addWidget(m_yearEdit);
    date->addWidget(new QLabel(QStringLiteral("年"), this));
    date->addWidget(m_monthEdit);
    date->addWidget(new QLabel(QStringLiteral("月"), this));
    date->addWidget(m_dayEdit);
    date->addWidget(new QLabel(QStringLiteral("日"), this));
    date->addStretch();
    caption(0, QStringLiteral("日付"), m_yearEdit);
    form->addLayout(date, 0, 1);
    m_nameEdit = boxEdit(this, QStringLiteral("NameEdit"), Limits::name, QStringLiteral("名前"));
    m_readingEdit = boxEdit(this, QStringLiteral("ReadingEdit"), Limits::reading, QStringLiteral("ふりがな"));
    m_organisationEdit =
        boxEdit(this, QStringLiteral("OrganisationEdit"), Limits::organisation, QStringLiteral("組織名"));
    m_departmentEdit =
        boxEdit(this, QStringLiteral("DepartmentEdit"), Limits::department, QStringLiteral("部署名"));
    m_positionEdit = boxEdit(this, QStringLiteral("PositionEdit"), Limits::position, QStringLiteral("身分"));
    int row = 1;
    for (QLineEdit* e : {m_nameEdit, m_readingEdit, m_organisationEdit, m_departmentEdit, m_positionEdit}) {
        caption(row, e->accessibleName(), e);
        form->addWidget(e, row++, 1);
    }
    m_memoEdit = new QPlainTextEdit(this);
    m_memoEdit->setObjectName(QStringLiteral("MemoEdit"));
    m_memoEdit->setAccessibleName(QStringLiteral("その他"));
    m_memoEdit->setTabChangesFocus(true);
    caption(row, QStringLiteral("その他"), m_memoEdit);
    form->addWidget(m_memoEdit, row++, 1);
    auto* legend = new QLabel(QStringLiteral("色の付いた欄は画像から読み取った候補です。"), this);
    legend->setStyleSheet(kSuggestedStyle);
    form->addWidget(legend, row++, 1);
    m_duplicateLabel = new QLabel(this);
    m_duplicateLabel->setObjectName(QStringLiteral("DuplicateLabel"));
    m_duplicateLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_duplicateLabel->setWordWrap(true);
    form->addWidget(m_duplicateLabel, row++, 0, 1, 2);
    form->setRowStretch(row, 1);
    middle->addLayout(form, 2);
    layout->addLayout(middle, 1);

    auto* bottom = new QHBoxLayout;
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ReadingProgress"));
    m_stopButton = button(this, QStringLiteral("StopButton"), QStringLiteral("中止"));
    m_backButton = button(this, QStringLiteral("BackButton"), QStringLiteral("戻る"));
    m_nextButton = button(this, QStringLiteral("NextButton"), QStringLiteral("次へ"));
    m_skipButton = button(this, QStringLiteral("SkipButton"), QStringLiteral("飛ばす"));
    m_registerButton = button(this, QStringLiteral("RegisterButton"), QStringLiteral("登録"));
    m_closeButton = button(this, QStringLiteral("CloseButton"), QStringLiteral("閉じる"));
    bottom->addWidget(m_progressBar, 1);
    bottom->addWidget(m_stopButton);
    bottom->addSpacing(24);
    for (QPushButton* b : {m_backButton, m_nextButton, m_skipButton, m_registerButton, m_closeButton})
        bottom->addWidget(b);
    layout->addLayout(bottom);

    for (QLineEdit* e : {m_yearEdit, m_monthEdit, m_dayEdit, m_nameEdit, m_readingEdit, m_organisationEdit,
                         m_departmentEdit, m_positionEdit})
        messages::connectGuarded(e, &QLineEdit::textEdited, this, &IntakeWindow::onBoxEdited);
    messages::connectGuarded(m_memoEdit, &QPlainTextEdit::textChanged, this, &IntakeWindow::onBoxEdited);
    messages::connectGuarded(m_stopButton, &QPushButton::clicked, this, &IntakeWindow::stopReading);
    messages::connectGuarded(m_backButton, &QPushButton::clicked, this, &IntakeWindow::goBack);
    messages::connectGuarded(m_nextButton, &QPushButton::clicked, this, &IntakeWindow::goForward);
    messages::connectGuarded(m_skipButton, &QPushButton::clicked, this, &IntakeWindow::skipCurrent);
    messages::connectGuarded(m_registerButton, &QPushButton::clicked, this, &IntakeWindow::registerCurrent);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    // Going through a stack from the keyboard: Ctrl+Enter registers, Page Up and Page Down move.
    const std::pair<QKeySequence, void (IntakeWindow::*)()> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Return), &IntakeWindow::registerCurrent},
        {QKeySequence(Qt::CTRL | Qt::Key_Enter), &IntakeWindow::registerCurrent},
        {QKeySequence(Qt::Key_PageUp), &IntakeWindow::goBack},
        {QKeySequence(Qt::Key_PageDown), &IntakeWindow::goForward},
    };
    for (const auto& [sequence, handler] : keys)
        messages::connectGuarded(new QShortcut(sequence, this), &QShortcut::activated, this, handler);
    m_registerButton->setToolTip(QStringLiteral("Ctrl+Enter"));
    m_backButton->setToolTip(QStringLiteral("Page Up"));
    m_nextButton->setToolTip(QStringLiteral("Page Down"));

    // Cards registered before are not read again; the first card not yet dealt with is shown.
    QList<bool> wanted;
    m_current = -1;
    for (int i = 0; i < m_cards.size(); ++i) {
        const intake::CardOutcome o = outcome(i);
        wanted << (o != intake::CardOutcome::Registered);
        if (m_current < 0 && o == intake::CardOutcome::Open)
            m_current = i;
    }
    m_reader = std::make_unique<intake::StackReader>(m_folder, m_cards, workers);
    connect(m_reader.get(), &intake::StackReader::cardRead, this,
            [this](int index) { messages::guarded(this, [&] { onCardRead(index); }); });
    connect(m_reader.get(), &intake::StackReader::allRead, this,
            [this] { messages::guarded(this, [&] { showState(); }); });
    m_reader->start(wanted);
    showCard(std::max(m_current, 0));
    resize(1000, 640);
}

IntakeWindow::~IntakeWindow() {
    m_reader->cancel();
    disconnect(m_reader.get(), nullptr, this, nullptr);
}

intake::CardOutcome IntakeWindow::outcome(int index) const {
    return m_record.outcome(m_cards[index]);
}

int IntakeWindow::likelyDuplicate() const {
    return m_stored.likelyDuplicate(boxTexts());
}

cards::CardTexts IntakeWindow::boxTexts() const {
    QString memo = m_memoEdit->toPlainText();
    memo.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return cards::CardTexts{.name = m_nameEdit->text().trimmed(),
                            .reading = m_readingEdit->text().trimmed(),
                            .organisation = m_organisationEdit->text().trimmed(),
                            .department = m_departmentEdit->text().trimmed(),
                            .position = m_positionEdit->text().trimmed(),
                            .memo = memo.trimmed(),
                            .year = m_yearEdit->text(),
                            .month = m_monthEdit->text(),
                            .day = m_dayEdit->text()};
}

bool IntakeWindow::isSuggested(QWidget* box) const {
    return box->property("suggested").toBool();
}

void IntakeWindow::markSuggested(QWidget* box, bool suggested) {
    box->setProperty("suggested", suggested);
    box->setStyleSheet(suggested ? kSuggestedStyle : QString());
    box->setToolTip(suggested ? kSuggestedTip : QString());
    box->setAccessibleDescription(suggested ? kSuggestedTip : QString());
}

void IntakeWindow::setBoxes(const cards::CardTexts& t) {
    m_filling = true;
    m_yearEdit->setText(t.year);
    m_monthEdit->setText(t.month);
    m_dayEdit->setText(t.day);
    m_nameEdit->setText(t.name);
    m_readingEdit->setText(t.reading);
    m_organisationEdit->setText(t.organisation);
    m_departmentEdit->setText(t.department);
    m_positionEdit->setText(t.position);
    QString memo = t.memo;
    memo.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_memoEdit->setPlainText(memo);
    m_filling = false;
}

void IntakeWindow::fillBoxes(const intake::CardReading& reading) {
    setBoxes(intake::cardTexts(reading.boxes, m_today));
    const scan::BoxTexts& b = reading.boxes;
    const std::pair<QWidget*, bool> marks[] = {
        {m_nameEdit, !b.name.isEmpty()},
        {m_readingEdit, !b.reading.isEmpty()},
        {m_organisationEdit, !b.organisation.isEmpty()},
        {m_departmentEdit, !b.department.isEmpty()},
        {m_positionEdit, !b.position.isEmpty()},
        {m_memoEdit, !b.other.isEmpty()},
    };
    for (const auto& [box, suggested] : marks)
        markSuggested(box, suggested);
}

void IntakeWindow::keepEdits() {
    if (m_edited && outcome(m_current) != intake::CardOutcome::Registered)
        m_kept.insert(m_current, boxTexts());
    m_edited = false;
}

void IntakeWindow::showCard(int index) {
    m_current = index;
    m_edited = false;
    const intake::StackCard& card = m_cards[index];
    m_positionLabel->setText(QStringLiteral("カード %1 / %2：%3")
                                 .arg(index + 1)
                                 .arg(m_cards.size())
                                 .arg(card.pictures.join(QStringLiteral("・"))));
    PictureArea* areas[] = {m_frontPicture, m_backPicture};
    for (int side = 0; side < 2; ++side) {
        areas[side]->setVisible(side == 0 || card.pictures.size() > 1);
        areas[side]->clear();
        if (side >= card.pictures.size())
            continue;
        try {
            areas[side]->setPicture(pictureloader::loadFitted(QDir(m_folder).filePath(card.pictures[side]),
                                                              areas[side]->size().expandedTo({440, 260})));
        } catch (const PictureLoadError&) {
            // The reading tells why the picture cannot be read; the area stays empty.
        }
    }
    int key = 0;
    const bool registered = m_record.outcome(card, &key) == intake::CardOutcome::Registered;
    const intake::CardReading reading = m_reader->reading(index);
    for (QWidget* box : {static_cast<QWidget*>(m_nameEdit), static_cast<QWidget*>(m_readingEdit),
                         static_cast<QWidget*>(m_organisationEdit), static_cast<QWidget*>(m_departmentEdit),
                         static_cast<QWidget*>(m_positionEdit), static_cast<QWidget*>(m_memoEdit)})
        markSuggested(box, false);
    if (registered) {
        // What was registered, as it is stored now.
        const std::optional<cards::Card> stored = key > 0 ? cards::fetchCard(m_database, key) : std::nullopt;
        setBoxes(stored ? stored->texts : cards::CardTexts{});
    } else if (m_kept.contains(index)) {
        setBoxes(m_kept.value(index));
    } else if (reading.done) {
        fillBoxes(reading);
    } else {
        setBoxes(intake::cardTexts({}, m_today));
    }
    showState();
}

void IntakeWindow::showState() {
    int key = 0;
    const intake::CardOutcome o = m_record.outcome(m_cards[m_current], &key);
    const intake::CardReading reading = m_reader->reading(m_current);
    const bool readable = reading.done || m_reader->finished();
    QString state;
    if (o == intake::CardOutcome::Registered)
        state = QStringLiteral("登録済み（番号 %1）").arg(key);
    else if (!readable)
        state = QStringLiteral("読み取り中…");
    else if (o == intake::CardOutcome::Skipped)
        state = QStringLiteral("飛ばしました");
    else
        state = QStringLiteral("未確認");
    if (!reading.error.isEmpty())
        state += QStringLiteral("（%1）").arg(reading.error);
    else if (reading.done && reading.boxes == scan::BoxTexts{} && o != intake::CardOutcome::Registered)
        state += QStringLiteral("（画像から読み取れる文字がありませんでした）");
    m_stateLabel->setText(state);
    const bool open = o != intake::CardOutcome::Registered;
    for (QWidget* box : {static_cast<QWidget*>(m_yearEdit), static_cast<QWidget*>(m_monthEdit),
                         static_cast<QWidget*>(m_dayEdit), static_cast<QWidget*>(m_nameEdit),
                         static_cast<QWidget*>(m_readingEdit), static_cast<QWidget*>(m_organisationEdit),
                         static_cast<QWidget*>(m_departmentEdit), static_cast<QWidget*>(m_positionEdit),
                         static_cast<QWidget*>(m_memoEdit)})
        box->setEnabled(open && readable);
    m_registerButton->setEnabled(open && readable);
    m_skipButton->setEnabled(open);
    m_backButton->setEnabled(m_current > 0);
    m_nextButton->setEnabled(m_current + 1 < m_cards.size());
    const int duplicate = open ? likelyDuplicate() : 0;
    m_duplicateLabel->setText(
        duplicate ? QStringLiteral("登録済みの名刺（番号 %1）と名前・組織名が同じです。").arg(duplicate)
                  : QString());
    showProgress();
}

void IntakeWindow::showProgress() {
    const int total = m_reader->total(), read = m_reader->readCount();
    m_progressBar->setRange(0, std::max(total, 1));
    m_progressBar->setValue(total ? read : 1);
    if (m_reader->cancelled())
        m_progressBar->setFormat(QStringLiteral("読み取りを中止しました（%1 / %2）").arg(read).arg(total));
    else if (m_reader->finished())
        m_progressBar->setFormat(QStringLiteral("読み取り済み（%1 件）").arg(total));
    else
        m_progressBar->setFormat(QStringLiteral("読み取り中 %1 / %2").arg(read).arg(total));
    m_stopButton->setEnabled(!m_reader->finished() && !m_reader->cancelled());
}

void IntakeWindow::onCardRead(int index) {
    if (index == m_current && !m_edited)
        showCard(index);
    else
        showProgress();
}

void IntakeWindow::onBoxEdited() {
    if (m_filling)
        return;
    m_edited = true;
    if (auto* box = qobject_cast<QWidget*>(sender()))
        markSuggested(box, false);
    showState();
}

void IntakeWindow::note(intake::CardOutcome o, int key) {
    if (m_record.note(m_cards[m_current], o, key) || m_recordFailed)
        return;
    m_recordFailed = true;
    messages::show(this,
                   QStringLiteral("「%1」に記録できません（%2）。\r\n"
                                  "次にこのフォルダを取り込むときは、最初の名刺から確かめることになります"
                                  "（登録した名刺は登録済みと知らせます）。")
                       .arg(m_record.path(), m_record.error()));
}

void IntakeWindow::moveToNextOpen() {
    m_kept.remove(m_current);
    for (int step = 1; step <= m_cards.size(); ++step) {
        const int i = (m_current + step) % int(m_cards.size());
        if (outcome(i) == intake::CardOutcome::Open) {
            showCard(i);
            return;
        }
    }
    showCard(m_current);
    int registered = 0, skipped = 0;
    for (int i = 0; i < m_cards.size(); ++i)
        (outcome(i) == intake::CardOutcome::Registered ? registered : skipped)++;
    messages::show(this,
                   QStringLiteral("このフォルダの名刺をすべて確かめました（登録 %1 件、飛ばした %2 件）。")
                       .arg(registered)
                       .arg(skipped));
}

void IntakeWindow::registerCurrent() {
    if (!m_registerButton->isEnabled())
        return;  // registered already, or still being read
    const cards::CardTexts texts = boxTexts();
    if (const int length = transfer::textLength(texts.memo); length > cards::ColumnLimits::memo) {
        messages::show(
            this, QStringLiteral(
                      "その他が長すぎます（%1 文字、改行は 2 文字と数えます）。%2 文字までにしてください。")
                      .arg(length)
                      .arg(cards::ColumnLimits::memo));
        return;
    }
    if (texts.name.isEmpty() && texts.organisation.isEmpty() &&
        !messages::ask(this, QStringLiteral("名前も組織名も空です。このまま登録しますか？")))
        return;
    if (const int other = likelyDuplicate()) {
        if (!messages::ask(this, QStringLiteral("登録済みの名刺（番号 %1）と名前・組織名が同じです。\r\n"
                                                "それでも登録しますか？")
                                     .arg(other)))
            return;
    }
    const int key = intake::registerCard(m_database, m_folder, m_cards[m_current], texts);
    m_stored.add(texts, key);
    note(intake::CardOutcome::Registered, key);
    moveToNextOpen();
}

void IntakeWindow::skipCurrent() {
    if (!m_skipButton->isEnabled())
        return;
    note(intake::CardOutcome::Skipped, 0);
    moveToNextOpen();
}

void IntakeWindow::goBack() {
    if (m_current == 0)
        return;
    keepEdits();
    showCard(m_current - 1);
}

void IntakeWindow::goForward() {
    if (m_current + 1 >= m_cards.size())
        return;
    keepEdits();
    showCard(m_current + 1);
}

void IntakeWindow::stopReading() {
    m_reader->cancel();
    showState();
}
