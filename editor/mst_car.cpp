#include "mst_car.h"

#include "desktop.h"
#include "dm1.h"
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

Tmst_car* mst_car = nullptr;

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

QLineEdit* editBox(QWidget* parent, const char* name, const QRect& geometry, int limit,
                   const QString& accessibleName) {
    auto* box = new LimitedLineEdit(limit, parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    box->setAccessibleName(accessibleName);
    return box;
}

// The memo is stored with CR LF between lines; the memo box wants plain line breaks.
QString memoForEditor(const QString& stored) {
    QString text = stored;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

// A label that names changing text fills the rest of its panel, so that longer texts show.
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

QString Tmst_car::savedMessage() {
    const QString gap(6, QChar(0x3000));
    return QStringLiteral("\r\n") + gap + QStringLiteral("登録しました。") + gap + QStringLiteral("\r\n");
}

Tmst_car::Tmst_car(CardFolder folder, QWidget* parent) : QDialog(parent), m_folder(std::move(folder)) {
    setObjectName(QStringLiteral("mst_car"));
    setWindowTitle(QStringLiteral("名刺登録"));
    formlook::fixClientSize(this, 724, 561);
    buildControls();
    connectHandlers();
    // The first showing starts in the name box; later showings keep the last focus.
    Edit4->setFocus();
}

void Tmst_car::buildControls() {
    using formlook::captionPanel;
    captionPanel(this, "Panel8", {8, 8, 57, 25}, "Label7", {8, 6}, QStringLiteral("日　付"));
    Edit1 = editBox(this, "Edit1", {71, 10, 34, 21}, 4, QStringLiteral("年"));
    captionPanel(this, "Panel9", {111, 8, 26, 25}, "Label8", {7, 6}, QStringLiteral("年"));
    Edit2 = editBox(this, "Edit2", {143, 10, 26, 21}, 2, QStringLiteral("月"));
    captionPanel(this, "Panel10", {172, 8, 26, 25}, "Label9", {7, 6}, QStringLiteral("月"));
    Edit3 = editBox(this, "Edit3", {204, 10, 26, 21}, 2, QStringLiteral("日"));
    captionPanel(this, "Panel11", {233, 8, 26, 25}, "Label10", {8, 6}, QStringLiteral("日"));

    QFrame* panel13 =
        captionPanel(this, "Panel13", {274, 8, 249, 24}, "Label12", {5, 5}, QStringLiteral("base-ID"));
    Label13 = formlook::panelLabel(panel13, "Label13", {69, 5}, kNoKey);
    widenToPanel(Label13);
    QFrame* panel1 = captionPanel(this, "Panel1", {529, 8, 187, 24}, "Label1", {5, 5}, kNoKey);
    Label1 = panel1->findChild<QLabel*>(QStringLiteral("Label1"));

    captionPanel(this, "Panel3", {8, 38, 57, 24}, "Label2", {8, 5}, QStringLiteral("名　前"));
    Edit4 = editBox(this, "Edit4", {71, 38, 188, 21}, 150, QStringLiteral("名　前"));
    captionPanel(this, "Panel4", {272, 38, 57, 24}, "Label3", {8, 5}, QStringLiteral("組織名"));
    Edit5 = editBox(this, "Edit5", {335, 38, 188, 21}, 150, QStringLiteral("組織名"));
    QFrame* panel14 = captionPanel(this, "Panel14", {529, 38, 187, 24}, "Label14", {5, 5}, kNoKey);
    Label14 = panel14->findChild<QLabel*>(QStringLiteral("Label14"));
    widenToPanel(Label14);

    captionPanel(this, "Panel12", {8, 68, 57, 24}, "Label11", {8, 5}, QStringLiteral("ふりがな"));
    Edit8 = editBox(this, "Edit8", {71, 68, 188, 21}, 150, QStringLiteral("ふりがな"));
    captionPanel(this, "Panel6", {272, 68, 57, 24}, "Label5", {8, 5}, QStringLiteral("身　分"));
    Edit7 = editBox(this, "Edit7", {335, 68, 188, 21}, 100, QStringLiteral("身　分"));

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(529, 68, 187, 175);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new FixedRowHeight(13, ListBox1));
    ListBox1->setAccessibleName(QStringLiteral("画像一覧"));

    captionPanel(this, "Panel5", {8, 96, 57, 24}, "Label4", {8, 5}, QStringLiteral("部署名"));
    Edit6 = editBox(this, "Edit6", {71, 96, 188, 21}, 150, QStringLiteral("部署名"));

    captionPanel(this, "Panel7", {8, 126, 57, 24}, "Label6", {10, 6}, QStringLiteral("その他"));
    auto* memo = new MemoBox(this);
    memo->setObjectName(QStringLiteral("Memo1"));
    memo->setGeometry(71, 126, 452, 117);
    memo->setTabChangesFocus(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setAccessibleName(QStringLiteral("その他"));
    Memo1 = memo;

    QFrame* panel2 = captionPanel(this, "Panel2", {71, 247, 452, 261}, {}, {}, {}, formlook::kPanelSilver);
    Image1 = new PictureArea(panel2);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(9, 8, 432, 241);
    ReadScan = new ReadScanAction(Image1);
    ReadScan->currentTexts = [this] {
        return scan::BoxTexts{Edit4->text(), Edit8->text(), Edit5->text(),
                              Edit6->text(), Edit7->text(), Memo1->toPlainText()};
    };
    ReadScan->applyTexts = [this](const scan::BoxTexts& t) {
        Edit4->setText(t.name);
        Edit8->setText(t.reading);
        Edit5->setText(t.organisation);
        Edit6->setText(t.department);
        Edit7->setText(t.position);
        Memo1->setPlainText(MemoBox::fitted(t.other, MemoBox::kLimit));
    };

    SpeedButton3 = formlook::flatButton(this, "SpeedButton3", QStringLiteral("登録"), {6, 514, 87, 46});
    SpeedButton4 = formlook::flatButton(this, "SpeedButton4", QStringLiteral("更新"), {109, 514, 87, 46});
    SpeedButton1 =
        formlook::flatButton(this, "SpeedButton1", QStringLiteral("フォルダを開く"), {213, 514, 87, 46});
    Button1 = new QPushButton(QStringLiteral("エクセル表示"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(317, 514, 87, 46);
    Button1->setFocusPolicy(Qt::StrongFocus);
    Button1->setAutoDefault(false);  // Enter in a box must not start the export
    SpeedButton5 =
        formlook::flatButton(this, "SpeedButton5", QStringLiteral("データ削除"), {421, 514, 87, 46});
    SpeedButton6 =
        formlook::flatButton(this, "SpeedButton6", QStringLiteral("データ復元"), {525, 514, 87, 46});
    SpeedButton2 = formlook::flatButton(this, "SpeedButton2", QStringLiteral("閉じる"), {629, 514, 87, 46});
    for (QPushButton* b :
         {SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4, SpeedButton5, SpeedButton6})
        b->setAutoDefault(false);

    // Keyboard order: name, reading, department, organisation, position, memo, year, month,
    // day, picture list, export, and round to the name box.
    const QList<QWidget*> order{Edit4, Edit8, Edit6, Edit5,    Edit7,  Memo1,
                                Edit1, Edit2, Edit3, ListBox1, Button1};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(Button1, Edit4);

    for (QLineEdit* box : {Edit1, Edit2, Edit3, Edit4, Edit8})
        box->installEventFilter(this);
    // The date boxes take digits only; an input method that honours it types plain digits.
    for (QLineEdit* box : {Edit1, Edit2, Edit3})
        platform::inputMethod().setDigitsOnly(box);
}

void Tmst_car::connectHandlers() {
    const auto onClick = [this](QPushButton* button, void (Tmst_car::*handler)()) {
        messages::connectGuarded(button, &QPushButton::clicked, this, handler);
    };
    onClick(SpeedButton1, &Tmst_car::SpeedButton1Click);
    onClick(SpeedButton2, &Tmst_car::SpeedButton2Click);
    onClick(SpeedButton3, &Tmst_car::SpeedButton3Click);
    onClick(SpeedButton4, &Tmst_car::SpeedButton4Click);
    onClick(SpeedButton5, &Tmst_car::SpeedButton5Click);
    onClick(SpeedButton6, &Tmst_car::SpeedButton6Click);
    onClick(Button1, &Tmst_car::Button1Click);
    // Every change of the chosen entry shows it: a click, the keyboard, dragging the mouse over
    // the list. Emptying the list chooses nothing and shows nothing.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!ListBox1->selectedItems().isEmpty())
            messages::guarded(this, [this] { ListBox1Click(); });
    });
}

bool Tmst_car::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 || watched == Edit2 || watched == Edit3) {
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
    if (watched == Edit8) {
        if (event->type() == QEvent::FocusIn)
            platform::inputMethod().setModes(Edit8, 11, 0);  // full-width katakana
        else if (event->type() == QEvent::FocusOut)
            platform::inputMethod().setModes(Edit8, 1, 8);  // kana input, phrase prediction
    } else if (watched == Edit4 && event->type() == QEvent::FocusIn) {
        platform::inputMethod().setHiraganaMode(Edit4);
    }
    return false;
}

void Tmst_car::keyPressEvent(QKeyEvent* event) {
    // Esc does not close the window: it would drop what was typed without a word. The window
    // closes with 閉じる or its title bar.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tmst_car::resetFields(const QDate& today) {
    const NewCardDate date = cutDateText(newCardDateText(today));
    Edit1->setText(date.year);
    Edit2->setText(date.month);
    Edit3->setText(date.day);
    for (QLineEdit* box : {Edit4, Edit5, Edit6, Edit7, Edit8})
        box->clear();
    Memo1->clear();
    setCardKey(std::nullopt);
    m_loaded.reset();
    Image1->clear();
    ReadScan->clearPicture();
    ListBox1->clear();
    SpeedButton1->setEnabled(false);
    SpeedButton5->setEnabled(false);
    SpeedButton6->setEnabled(false);
}

void Tmst_car::resetToNewCard() {
    resetFields(QDate::currentDate());
    formlook::centreOnScreen(this);
    messages::showModal(this);
}

cards::CardTexts Tmst_car::cardTexts() const {
    // The raw text keeps no-break spaces, which toPlainText turns into plain ones; paragraphs
    // are the memo's lines.
    QString memo = Memo1->document()->toRawText();
    memo.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    return {.name = Edit4->text(),
            .reading = Edit8->text(),
            .organisation = Edit5->text(),
            .department = Edit6->text(),
            .position = Edit7->text(),
            .memo = memo,
            .year = Edit1->text(),
            .month = Edit2->text(),
            .day = Edit3->text()};
}

void Tmst_car::setCardKey(std::optional<int> key) {
    m_key = key;
    Label13->setText(baseId());
}

QString Tmst_car::baseId() const {
    return m_key ? QString::number(*m_key) : kNoKey;
}

void Tmst_car::showCard(int key, const cards::Card& card) {
    const cards::CardTexts& t = card.texts;
    setCardKey(key);
    m_loaded = card;
    Edit1->setText(t.year);
    Edit2->setText(t.month);
    Edit3->setText(t.day);
    Edit4->setText(t.name);
    Edit5->setText(t.organisation);
    Edit8->setText(t.reading);
    Edit6->setText(t.department);
    Edit7->setText(t.position);
    Memo1->setPlainText(memoForEditor(t.memo));
    const bool deleted = card.state == cards::CardState::Deleted;
    SpeedButton5->setEnabled(!deleted);
    SpeedButton6->setEnabled(deleted);
    SpeedButton1->setEnabled(true);
    showFirstPicture();
}

void Tmst_car::showFirstPicture() {
    const bool listed = refreshPictureList();
    Label14->setText(kNoKey);
    Image1->clear();
    if (ListBox1->count() > 0) {
        // Selecting here must not run the list's own selection action; the picture is shown below.
        const QSignalBlocker blockList(ListBox1);
        ListBox1->setCurrentRow(0);
    }
    if (!listed)
        return;
    // A first picture that cannot be loaded must not keep the card from opening: its entry is
    // named, the image area stays empty, and the loader's message comes before the editor.
    try {
        ListBox1Click();
    } catch (const std::exception& e) {
        if (const QListWidgetItem* first = ListBox1->currentItem())
            Label14->setText(first->text());
        Image1->clear();
        messages::error(this, QString::fromUtf8(e.what()));
    }
}

void Tmst_car::SpeedButton1Click() {
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

void Tmst_car::SpeedButton2Click() {
    close();
}

void Tmst_car::SpeedButton3Click() {
    if (Edit1->text().isEmpty()) {
        messages::show(this, QStringLiteral("年が入力されていません。"));
    } else if (Edit2->text().isEmpty()) {
        messages::show(this, QStringLiteral("月が入力されていません。"));
    } else if (Edit3->text().isEmpty()) {
        messages::show(this, QStringLiteral("日にちが入力されていません。"));
    } else if (Edit4->text().isEmpty() && Edit8->text().isEmpty()) {
        messages::show(this, QStringLiteral("名前かふりがなが入力されていません。"));
    } else if (messages::ask(this, QStringLiteral("登録しますか？"))) {
        if (!m_key) {
            const cards::CardTexts texts = cardTexts();
            const std::optional<int> inserted = cards::newCardInsert(*DM1, texts);
            m_loaded = cards::Card{texts, cards::CardState::Live};
            messages::show(this, savedMessage());
            // The key is read only after the message, so a failing read leaves "---" and the
            // next save inserts again rather than rewriting a wrong card.
            setCardKey(cards::newCardKey(*DM1, inserted));
            SpeedButton1->setEnabled(true);
        } else {
            if (!writeBack(cards::CardState::Live))
                return;
            messages::show(this, savedMessage());
        }
    }
    refreshPictureList();
}

void Tmst_car::SpeedButton4Click() {
    refreshPictureList();
}

void Tmst_car::rewriteWithFlag(const QString& question, cards::CardState state, const QString& done) {
    if (!m_key || !messages::ask(this, question)) {
        close();
        return;
    }
    if (!writeBack(state))
        return;
    for (QLineEdit* box : {Edit4, Edit5, Edit6, Edit7, Edit8})
        box->clear();
    Memo1->clear();
    messages::show(this, done);
    close();
}

bool Tmst_car::writeBack(cards::CardState state) {
    const cards::CardTexts texts = cardTexts();
    try {
        cards::cardRewrite(*DM1, baseId(), texts, state, m_loaded ? &*m_loaded : nullptr);
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
        cards::cardRewrite(*DM1, baseId(), texts, state);
    }
    m_loaded = cards::Card{texts, state};
    return true;
}

void Tmst_car::SpeedButton5Click() {
    rewriteWithFlag(QStringLiteral("削除しますか？"), cards::CardState::Deleted,
                    QStringLiteral("削除しました。"));
}

void Tmst_car::SpeedButton6Click() {
    rewriteWithFlag(QStringLiteral("復活しますか？"), cards::CardState::Live,
                    QStringLiteral("復活しました。"));
}

bool Tmst_car::refreshPictureList() {
    QList<picturefolder::Entry> entries;
    const bool listed =
        picturefolder::listEntries(picturefolder::baseFolder(m_folder.picturesRoot, baseId()), entries);
    ListBox1->clear();
    for (const picturefolder::Entry& entry : std::as_const(entries)) {
        auto* item = new QListWidgetItem(entry.name, ListBox1);
        item->setData(kRawNameRole, entry.raw);
    }
    ListBox1->setCurrentRow(-1);
    return listed;
}

void Tmst_car::ListBox1Click() {
    // The chosen entry is the selected one: while the mouse drags over the list the selection
    // moves before the current entry does.
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (const QListWidgetItem* item = selected.isEmpty() ? nullptr : selected.first()) {
        Label14->setText(item->text());
        Label14->setProperty(kRawNameProperty, item->data(kRawNameRole));
    }
    // The file is opened by the bytes of its name, which a name shown decoded from Shift-JIS
    // does not give back; a label set otherwise names the file by its text.
    QByteArray raw = Label14->property(kRawNameProperty).toByteArray();
    if (picturefolder::displayName(raw) != Label14->text())
        raw = QFile::encodeName(Label14->text());
    // Entries without a displayable ending (Thumbs.db, subfolders) load nothing and keep the
    // picture shown before.
    if (!picturefolder::hasDisplayableEnding(Label14->text()))
        return;
    const QString folder = picturefolder::baseFolder(m_folder.picturesRoot, baseId());
    const QByteArray path = picturefolder::nativePath(folder, raw);
    Image1->setPicture(pictureloader::loadFitted(path, Label14->text(), Image1->size()));
    ReadScan->setPicture(path, Label14->text());
}

void Tmst_car::Button1Click() {
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
