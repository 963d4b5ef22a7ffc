#include "cardeditorwindow.h"

#include "carddatabase.h"
#include "desktop.h"
#include "formlook.h"
#include "limitedlineedit.h"
#include "memobox.h"
#include "messages.h"
#include "picturearea.h"
#include "picturefolder.h"
#include "pictureloader.h"
#include "scandialog.h"
#include "sheetexport.h"

#include <QGuiApplication>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyledItemDelegate>
#include <QTextDocument>

namespace {

const QString kNoKey = QStringLiteral("---");
// Where the picture list keeps each entry's name as the file system holds it, and where the
// file-name label keeps the name of the entry it shows.
constexpr int kRawNameRole = Qt::UserRole + 1;
constexpr const char* kRawNameProperty = "rawName";

class FixedRowHeight final : public QStyledItemDelegate {
public:
    FixedRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), m_height(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), m_height};
    }

private:
    int m_height;
};

bool isDigitOrBackspace(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('\b');
}

bool movesOnOrTypesNothing(int key) {
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return true;
        default:
            return false;
    }
}

QString digitsOnly(const QString& text) {
    QString out;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            out += c;
    }
    return out;
}

QLineEdit* editBox(QWidget* parent, const formlook::ControlSpec& spec) {
    auto* box = new LimitedLineEdit(spec.limit, parent);
    formlook::place(box, spec);
    return box;
}

// The memo is stored with CR LF between lines; the memo box wants plain line breaks.
QString memoForEditor(const QString& stored) {
    QString text = stored;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

void widenToPanel(QLabel* label) {
    const QWidget* panel = label->parentWidget();
    label->resize(panel->width() - label->x() - 4, label->height());
}

}  // namespace

QString newCardDateText(const QDate& today) {
    return today.toString(QStringLiteral("yyyy/MM/dd"));
}

NewCardDate cutDateText(const QString& text) {
    return {text.mid(0, 4), text.mid(5, 2), text.mid(8, 2)};
}

QString CardEditorWindow::savedMessage() {
    const QString gap(6, QChar(0x3000));
    return QStringLiteral("\r\n") + gap + QStringLiteral("登録しました。") + gap + QStringLiteral("\r\n");
}

CardEditorWindow::CardEditorWindow(CardFolder folder, CardDatabase& database, QWidget* parent)
    : QDialog(parent), m_folder(std::move(folder)), m_database(database) {
    setObjectName(QStringLiteral("mst_car"));
    setWindowTitle(QStringLiteral("名刺登録"));
    formlook::fixClientSize(this, 724, 561);
    buildControls();
    connectHandlers();
    // The first showing starts in the name box; later showings keep the last focus.
    m_nameEdit->setFocus();
}

// The window's controls, one row each: the member that keeps it, its design name, where it sits,
// its typing limit and its caption (an edit box's accessible name).
struct CardEditorWindow::Layout {
    template <class T>
    struct Row {
        T* CardEditorWindow::*member;
        formlook::ControlSpec spec;
    };
    // A blue caption panel with its label; the members keep the labels that change.
    struct Caption {
        QLabel* CardEditorWindow::*member;
        formlook::ControlSpec panel;
        const char* label;
        QPoint labelPos;
    };
    using Limits = cards::ColumnLimits;

    static const auto& editBoxes() {
        static const Row<QLineEdit> rows[] = {
            {&CardEditorWindow::m_yearEdit, {"Edit1", {71, 10, 34, 21}, Limits::year, QStringLiteral("年")}},
            {&CardEditorWindow::m_monthEdit,
             {"Edit2", {143, 10, 26, 21}, Limits::month, QStringLiteral("月")}},
            {&CardEditorWindow::m_dayEdit, {"Edit3", {204, 10, 26, 21}, Limits::day, QStringLiteral("日")}},
            {&CardEditorWindow::m_nameEdit,
             {"Edit4", {71, 38, 188, 21}, Limits::name, QStringLiteral("名　前")}},
            {&CardEditorWindow::m_organisationEdit,
             {"Edit5", {335, 38, 188, 21}, Limits::organisation, QStringLiteral("組織名")}},
            {&CardEditorWindow::m_departmentEdit,
             {"Edit6", {71, 96, 188, 21}, Limits::department, QStringLiteral("部署名")}},
            {&CardEditorWindow::m_positionEdit,
             {"Edit7", {335, 68, 188, 21}, Limits::position, QStringLiteral("身　分")}},
            {&CardEditorWindow::m_readingEdit,
             {"Edit8", {71, 68, 188, 21}, Limits::reading, QStringLiteral("ふりがな")}},
        };
        return rows;
    }
    static const auto& captions() {
        static const Caption rows[] = {
            {nullptr, {"Panel8", {8, 8, 57, 25}, 0, QStringLiteral("日　付")}, "Label7", {8, 6}},
            {nullptr, {"Panel9", {111, 8, 26, 25}, 0, QStringLiteral("年")}, "Label8", {7, 6}},
            {nullptr, {"Panel10", {172, 8, 26, 25}, 0, QStringLiteral("月")}, "Label9", {7, 6}},
            {nullptr, {"Panel11", {233, 8, 26, 25}, 0, QStringLiteral("日")}, "Label10", {8, 6}},
            {nullptr, {"Panel13", {274, 8, 249, 24}, 0, QStringLiteral("base-ID")}, "Label12", {5, 5}},
            {&CardEditorWindow::m_spareLabel, {"Panel1", {529, 8, 187, 24}, 0, kNoKey}, "Label1", {5, 5}},
            {nullptr, {"Panel3", {8, 38, 57, 24}, 0, QStringLiteral("名　前")}, "Label2", {8, 5}},
            {nullptr, {"Panel4", {272, 38, 57, 24}, 0, QStringLiteral("組織名")}, "Label3", {8, 5}},
            {&CardEditorWindow::m_fileNameLabel,
             {"Panel14", {529, 38, 187, 24}, 0, kNoKey},
             "Label14",
             {5, 5}},
            {nullptr, {"Panel12", {8, 68, 57, 24}, 0, QStringLiteral("ふりがな")}, "Label11", {8, 5}},
            {nullptr, {"Panel6", {272, 68, 57, 24}, 0, QStringLiteral("身　分")}, "Label5", {8, 5}},
            {nullptr, {"Panel5", {8, 96, 57, 24}, 0, QStringLiteral("部署名")}, "Label4", {8, 5}},
            {nullptr, {"Panel7", {8, 126, 57, 24}, 0, QStringLiteral("その他")}, "Label6", {10, 6}},
        };
        return rows;
    }
    // The base-ID itself, a second label on the base-ID panel.
    static const formlook::ControlSpec& keyLabel() {
        static const formlook::ControlSpec spec{"Label13", {69, 5, 0, 0}, 0, kNoKey};
        return spec;
    }
    static const formlook::ControlSpec& pictureList() {
        static const formlook::ControlSpec spec{
            "ListBox1", {529, 68, 187, 175}, 0, QStringLiteral("画像一覧")};
        return spec;
    }
    static const formlook::ControlSpec& memo() {
        static const formlook::ControlSpec spec{
            "Memo1", {71, 126, 452, 117}, Limits::memo, QStringLiteral("その他")};
        return spec;
    }
    static const formlook::ControlSpec& picturePanel() {
        static const formlook::ControlSpec spec{"Panel2", {71, 247, 452, 261}, 0, {}};
        return spec;
    }
    static const formlook::ControlSpec& pictureArea() {
        static const formlook::ControlSpec spec{"Image1", {9, 8, 432, 241}, 0, {}};
        return spec;
    }
    // Flat buttons, then the one ordinary button, which a click also gives the focus.
    static const auto& flatButtons() {
        static const Row<QPushButton> rows[] = {
            {&CardEditorWindow::m_saveButton, {"SpeedButton3", {6, 514, 87, 46}, 0, QStringLiteral("登録")}},
            {&CardEditorWindow::m_refreshButton,
             {"SpeedButton4", {109, 514, 87, 46}, 0, QStringLiteral("更新")}},
            {&CardEditorWindow::m_openFolderButton,
             {"SpeedButton1", {213, 514, 87, 46}, 0, QStringLiteral("フォルダを開く")}},
            {&CardEditorWindow::m_deleteButton,
             {"SpeedButton5", {421, 514, 87, 46}, 0, QStringLiteral("データ削除")}},
            {&CardEditorWindow::m_restoreButton,
             {"SpeedButton6", {525, 514, 87, 46}, 0, QStringLiteral("データ復元")}},
            {&CardEditorWindow::m_closeButton,
             {"SpeedButton2", {629, 514, 87, 46}, 0, QStringLiteral("閉じる")}},
        };
        return rows;
    }
    static const formlook::ControlSpec& sheetButton() {
        static const formlook::ControlSpec spec{
            "Button1", {317, 514, 87, 46}, 0, QStringLiteral("エクセル表示")};
        return spec;
    }
};

QList<formlook::ControlSpec> CardEditorWindow::layout() {
    QList<formlook::ControlSpec> specs;
    for (const auto& row : Layout::editBoxes())
        specs << row.spec;
    for (const auto& caption : Layout::captions())
        specs << caption.panel;
    specs << Layout::pictureList() << Layout::memo() << Layout::picturePanel() << Layout::pictureArea();
    for (const auto& row : Layout::flatButtons())
        specs << row.spec;
    specs << Layout::sheetButton();
    return specs;
}

void CardEditorWindow::buildControls() {
    for (const Layout::Caption& c : Layout::captions()) {
        QFrame* panel = formlook::captionPanel(this, c.panel.name(), c.panel.rect, QLatin1String(c.label),
                                               c.labelPos, c.panel.caption);
        if (c.member)
            this->*c.member = panel->findChild<QLabel*>(QLatin1String(c.label));
    }
    auto* keyPanel = findChild<QFrame*>(QStringLiteral("Panel13"));
    m_keyLabel = formlook::panelLabel(keyPanel, Layout::keyLabel().name(), Layout::keyLabel().rect.topLeft(),
                                      Layout::keyLabel().caption);
    // Labels that name changing text fill the rest of their panel, so that longer texts show.
    for (QLabel* label : {m_keyLabel, m_fileNameLabel})
        widenToPanel(label);

    for (const auto& row : Layout::editBoxes())
        this->*row.member = editBox(this, row.spec);

    m_pictureList = new QListWidget(this);
    formlook::place(m_pictureList, Layout::pictureList());
    m_pictureList->setUniformItemSizes(true);
    m_pictureList->setItemDelegate(new FixedRowHeight(13, m_pictureList));

    auto* memo = new MemoBox(this);
    formlook::place(memo, Layout::memo());
    memo->setTabChangesFocus(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memoEdit = memo;

    QFrame* picturePanel = formlook::captionPanel(
        this, Layout::picturePanel().name(), Layout::picturePanel().rect, {}, {}, {}, formlook::kPanelSilver);
    m_pictureArea = new PictureArea(picturePanel);
    formlook::place(m_pictureArea, Layout::pictureArea());
    readScan = new ReadScanAction(m_pictureArea);
    readScan->currentTexts = [this] {
        return scan::BoxTexts{m_nameEdit->text(),       m_readingEdit->text(),  m_organisationEdit->text(),
                              m_departmentEdit->text(), m_positionEdit->text(), m_memoEdit->toPlainText()};
    };
    readScan->applyTexts = [this](const scan::BoxTexts& t) {
        m_nameEdit->setText(t.name);
        m_readingEdit->setText(t.reading);
        m_organisationEdit->setText(t.organisation);
        m_departmentEdit->setText(t.department);
        m_positionEdit->setText(t.position);
        m_memoEdit->setPlainText(MemoBox::fitted(t.other, cards::ColumnLimits::memo));
    };

    for (const auto& row : Layout::flatButtons())
        this->*row.member = formlook::flatButton(this, row.spec.name(), row.spec.caption, row.spec.rect);
    // The one ordinary button: a click gives it the focus, as the flat buttons' clicks do not.
    m_sheetButton = new formlook::KeyButton(Layout::sheetButton().caption, this);
    m_sheetButton->setObjectName(Layout::sheetButton().name());
    m_sheetButton->setGeometry(Layout::sheetButton().rect);
    m_sheetButton->setFocusPolicy(Qt::StrongFocus);

    // Keyboard order: the boxes down each column as they are laid out (date, name, reading,
    // department, organisation, position, memo), then the picture list and the buttons from left
    // to right, and round to the year. Buttons switched off for the card are passed over.
    const QList<QWidget*> order{
        m_yearEdit,         m_monthEdit,    m_dayEdit,      m_nameEdit,      m_readingEdit, m_departmentEdit,
        m_organisationEdit, m_positionEdit, m_memoEdit,     m_pictureList,   m_saveButton,  m_refreshButton,
        m_openFolderButton, m_sheetButton,  m_deleteButton, m_restoreButton, m_closeButton};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(order.last(), order.first());

    for (QLineEdit* box : {m_yearEdit, m_monthEdit, m_dayEdit, m_nameEdit, m_readingEdit})
        box->installEventFilter(this);
    // The date boxes take digits only; an input method that honours it types plain digits.
    for (QLineEdit* box : {m_yearEdit, m_monthEdit, m_dayEdit})
        platform::inputMethod().setDigitsOnly(box);
}

void CardEditorWindow::connectHandlers() {
    const auto onClick = [this](QPushButton* button, void (CardEditorWindow::*handler)()) {
        messages::connectGuarded(button, &QPushButton::clicked, this, handler);
    };
    onClick(m_openFolderButton, &CardEditorWindow::onOpenFolderClicked);
    onClick(m_closeButton, &CardEditorWindow::onCloseClicked);
    onClick(m_saveButton, &CardEditorWindow::onSaveClicked);
    onClick(m_refreshButton, &CardEditorWindow::onRefreshClicked);
    onClick(m_deleteButton, &CardEditorWindow::onDeleteClicked);
    onClick(m_restoreButton, &CardEditorWindow::onRestoreClicked);
    onClick(m_sheetButton, &CardEditorWindow::onSheetClicked);
    // Every change of the chosen entry shows it: a click, the keyboard, dragging the mouse over
    // the list. Emptying the list chooses nothing and shows nothing.
    connect(m_pictureList, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_pictureList->selectedItems().isEmpty())
            messages::guarded(this, [this] { onPictureChosen(); });
    });
}

bool CardEditorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_yearEdit || watched == m_monthEdit || watched == m_dayEdit) {
        if (event->type() == QEvent::KeyPress) {
            // Keys that move the focus or produce no character (Tab and Shift+Tab, which arrive
            // with the text "\t", Enter, Delete, arrows) pass; any other text but digits and
            // backspace is dropped, the clipboard shortcuts' control characters included.
            auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            if (text.isEmpty() || movesOnOrTypesNothing(key->key()))
                return false;
            if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
                return true;
            return !std::all_of(text.begin(), text.end(), isDigitOrBackspace);
        }
        if (event->type() == QEvent::InputMethod) {
            // Text committed by an input method arrives here, not as key presses.
            auto* im = static_cast<QInputMethodEvent*>(event);
            const QString kept = digitsOnly(im->commitString());
            if (kept == im->commitString())
                return false;
            QInputMethodEvent filtered(im->preeditString(), im->attributes());
            filtered.setCommitString(kept, im->replacementStart(), im->replacementLength());
            static_cast<QLineEdit*>(watched)->event(&filtered);
            return true;
        }
        return false;
    }
    if (watched == m_readingEdit) {
        if (event->type() == QEvent::FocusIn)
            platform::inputMethod().setModes(m_readingEdit, 11, 0);  // full-width katakana
        else if (event->type() == QEvent::FocusOut)
            platform::inputMethod().setModes(m_readingEdit, 1, 8);  // kana input, phrase prediction
    } else if (watched == m_nameEdit && event->type() == QEvent::FocusIn) {
        platform::inputMethod().setHiraganaMode(m_nameEdit);
    }
    return false;
}

void CardEditorWindow::keyPressEvent(QKeyEvent* event) {
    // Esc does not close the window: it would drop what was typed without a word. The window
    // closes with 閉じる or its title bar.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CardEditorWindow::resetFields(const QDate& today) {
    const NewCardDate date = cutDateText(newCardDateText(today));
    m_yearEdit->setText(date.year);
    m_monthEdit->setText(date.month);
    m_dayEdit->setText(date.day);
    for (QLineEdit* box : {m_nameEdit, m_organisationEdit, m_departmentEdit, m_positionEdit, m_readingEdit})
        box->clear();
    m_memoEdit->clear();
    setCardKey(std::nullopt);
    m_loaded.reset();
    m_pictureArea->clear();
    readScan->clearPicture();
    m_pictureList->clear();
    m_openFolderButton->setEnabled(false);
    m_deleteButton->setEnabled(false);
    m_restoreButton->setEnabled(false);
}

void CardEditorWindow::resetToNewCard() {
    resetFields(QDate::currentDate());
    formlook::centreOnScreen(this);
    messages::showModal(this);
}

cards::CardTexts CardEditorWindow::cardTexts() const {
    // The raw text keeps no-break spaces, which toPlainText turns into plain ones; paragraphs
    // are the memo's lines.
    QString memo = m_memoEdit->document()->toRawText();
    memo.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    return {.name = m_nameEdit->text(),
            .reading = m_readingEdit->text(),
            .organisation = m_organisationEdit->text(),
            .department = m_departmentEdit->text(),
            .position = m_positionEdit->text(),
            .memo = memo,
            .year = m_yearEdit->text(),
            .month = m_monthEdit->text(),
            .day = m_dayEdit->text()};
}

void CardEditorWindow::setCardKey(std::optional<int> key) {
    m_key = key;
    m_keyLabel->setText(baseId());
}

QString CardEditorWindow::baseId() const {
    return m_key ? QString::number(*m_key) : kNoKey;
}

void CardEditorWindow::showCard(int key, const cards::Card& card) {
    const cards::CardTexts& t = card.texts;
    setCardKey(key);
    m_loaded = card;
    m_yearEdit->setText(t.year);
    m_monthEdit->setText(t.month);
    m_dayEdit->setText(t.day);
    m_nameEdit->setText(t.name);
    m_organisationEdit->setText(t.organisation);
    m_readingEdit->setText(t.reading);
    m_departmentEdit->setText(t.department);
    m_positionEdit->setText(t.position);
    m_memoEdit->setPlainText(memoForEditor(t.memo));
    const bool deleted = card.state == cards::CardState::Deleted;
    m_deleteButton->setEnabled(!deleted);
    m_restoreButton->setEnabled(deleted);
    m_openFolderButton->setEnabled(true);
    showFirstPicture();
}

void CardEditorWindow::showFirstPicture() {
    const bool listed = refreshPictureList();
    m_fileNameLabel->setText(kNoKey);
    m_pictureArea->clear();
    if (m_pictureList->count() > 0) {
        // Selecting here must not run the list's own selection action; the picture is shown below.
        const QSignalBlocker blockList(m_pictureList);
        m_pictureList->setCurrentRow(0);
    }
    if (!listed)
        return;
    // A first picture that cannot be loaded must not keep the card from opening: its entry is
    // named, the image area stays empty, and the loader's message comes before the editor.
    try {
        onPictureChosen();
    } catch (const std::exception& e) {
        if (const QListWidgetItem* first = m_pictureList->currentItem())
            m_fileNameLabel->setText(first->text());
        m_pictureArea->clear();
        messages::error(this, QString::fromUtf8(e.what()));
    }
}

void CardEditorWindow::onOpenFolderClicked() {
    if (!m_key)
        return;
    // Pictures kept below the card folder are the user's own; a pictures root set apart is
    // shared with the others working on the card file.
    const QString folder = picturefolder::prepare(m_folder.picturesRoot, *m_key,
                                                  QDir(m_folder.picturesRoot) == QDir(m_folder.folder)
                                                      ? picturefolder::Access::OwnerOnly
                                                      : picturefolder::Access::Shared);
    platform::shell().openFolder(folder, this);
}

void CardEditorWindow::onCloseClicked() {
    close();
}

void CardEditorWindow::onSaveClicked() {
    if (m_yearEdit->text().isEmpty()) {
        messages::show(this, QStringLiteral("年が入力されていません。"));
    } else if (m_monthEdit->text().isEmpty()) {
        messages::show(this, QStringLiteral("月が入力されていません。"));
    } else if (m_dayEdit->text().isEmpty()) {
        messages::show(this, QStringLiteral("日にちが入力されていません。"));
    } else if (m_nameEdit->text().isEmpty() && m_readingEdit->text().isEmpty()) {
        messages::show(this, QStringLiteral("名前かふりがなが入力されていません。"));
    } else if (messages::ask(this, QStringLiteral("登録しますか？"))) {
        if (!m_key) {
            const cards::CardTexts texts = cardTexts();
            const std::optional<int> inserted = cards::newCardInsert(m_database, texts);
            m_loaded = cards::Card{texts, cards::CardState::Live};
            messages::show(this, savedMessage());
            // The key is read only after the message, so a failing read leaves "---" and the
            // next save inserts again rather than rewriting a wrong card.
            setCardKey(cards::newCardKey(m_database, inserted));
            m_openFolderButton->setEnabled(true);
        } else {
            if (!writeBack(cards::CardState::Live))
                return;
            messages::show(this, savedMessage());
        }
    }
    refreshPictureList();
}

void CardEditorWindow::onRefreshClicked() {
    refreshPictureList();
}

void CardEditorWindow::rewriteWithFlag(const QString& question, cards::CardState state, const QString& done) {
    if (!m_key || !messages::ask(this, question)) {
        close();
        return;
    }
    if (!writeBack(state))
        return;
    for (QLineEdit* box : {m_nameEdit, m_organisationEdit, m_departmentEdit, m_positionEdit, m_readingEdit})
        box->clear();
    m_memoEdit->clear();
    messages::show(this, done);
    close();
}

bool CardEditorWindow::writeBack(cards::CardState state) {
    const cards::CardTexts texts = cardTexts();
    try {
        cards::cardRewrite(m_database, baseId(), texts, state, m_loaded ? &*m_loaded : nullptr);
    } catch (const cards::CardChanged& changed) {
        // A save would bring back a card someone else deleted meanwhile: that is asked as such,
        // and "いいえ" shows the card as they left it, deleted.
        const bool deletedMeanwhile = state == cards::CardState::Live && m_loaded &&
                                      m_loaded->state == cards::CardState::Live &&
                                      changed.current.state == cards::CardState::Deleted;
        const QString question = deletedMeanwhile
                                     ? QStringLiteral(
                                           "このカードはほかの人が削除しました。\r\n"
                                           "この内容でカードを復元しますか？\r\n"
                                           "「いいえ」を選ぶと、カードは削除されたままになります。")
                                     : QStringLiteral(
                                           "ほかの人がこのカードを変更しました。\r\n"
                                           "この内容で上書きしますか？\r\n"
                                           "「いいえ」を選ぶと、ほかの人の変更を読み込みます。");
        if (!messages::ask(this, question)) {
            showCard(*m_key, changed.current);
            return false;
        }
        cards::cardRewrite(m_database, baseId(), texts, state);
    }
    m_loaded = cards::Card{texts, state};
    return true;
}

void CardEditorWindow::onDeleteClicked() {
    rewriteWithFlag(QStringLiteral("削除しますか？"), cards::CardState::Deleted,
                    QStringLiteral("削除しました。"));
}

void CardEditorWindow::onRestoreClicked() {
    rewriteWithFlag(QStringLiteral("復活しますか？"), cards::CardState::Live,
                    QStringLiteral("復活しました。"));
}

bool CardEditorWindow::refreshPictureList() {
    QList<picturefolder::Entry> entries;
    const bool listed =
        picturefolder::listEntries(picturefolder::baseFolder(m_folder.picturesRoot, baseId()), entries);
    m_pictureList->clear();
    for (const picturefolder::Entry& entry : std::as_const(entries)) {
        auto* item = new QListWidgetItem(entry.name, m_pictureList);
        item->setData(kRawNameRole, entry.raw);
    }
    m_pictureList->setCurrentRow(-1);
    return listed;
}

void CardEditorWindow::onPictureChosen() {
    // The chosen entry is the selected one: while the mouse drags over the list the selection
    // moves before the current entry does.
    const QList<QListWidgetItem*> selected = m_pictureList->selectedItems();
    if (const QListWidgetItem* item = selected.isEmpty() ? nullptr : selected.first()) {
        m_fileNameLabel->setText(item->text());
        m_fileNameLabel->setProperty(kRawNameProperty, item->data(kRawNameRole));
    }
    // The file is opened by the bytes of its name, which a name shown decoded from Shift-JIS
    // does not give back; a label set otherwise names the file by its text.
    QByteArray raw = m_fileNameLabel->property(kRawNameProperty).toByteArray();
    if (picturefolder::displayName(raw) != m_fileNameLabel->text())
        raw = QFile::encodeName(m_fileNameLabel->text());
    // Entries without a displayable ending (Thumbs.db, subfolders) load nothing and keep the
    // picture shown before.
    if (!picturefolder::hasDisplayableEnding(m_fileNameLabel->text()))
        return;
    const QString folder = picturefolder::baseFolder(m_folder.picturesRoot, baseId());
    const QByteArray path = picturefolder::nativePath(folder, raw);
    m_pictureArea->setPicture(
        pictureloader::loadFitted(path, m_fileNameLabel->text(), m_pictureArea->size()));
    readScan->setPicture(path, m_fileNameLabel->text());
}

void CardEditorWindow::onSheetClicked() {
    sheet::ExportedSheet sheet;
    bool opened = false;
    {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);  // phone photos take a moment
        const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        sheet = sheet::exportCard(m_folder, baseId(), cardTexts(), QDateTime::currentDateTime());
        opened = platform::shell().openDocument(sheet.path, this);
    }
    if (!opened)
        messages::show(this, QStringLiteral("シートを開くプログラムが見つかりませんでした。\r\n"
                                            "シートは次の場所に保存してあります。\r\n%1")
                                 .arg(QDir::toNativeSeparators(sheet.path)));
    if (!sheet.written.refused.isEmpty())
        messages::show(this, QStringLiteral("次の画像はシートに載せられませんでした。\r\n%1")
                                 .arg(sheet.written.refusedReasons.join(QStringLiteral("\r\n"))));
}
