#include "cardlistwindow.h"

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardmatch.h"
#include "cardsearch.h"
#include "formlook.h"
#include "messages.h"
#include "picturearea.h"
#include "stringgrid.h"

#include <QCursor>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVarLengthArray>

#include <array>
#include <utility>

namespace {

constexpr int kColumns = 9;
constexpr int kRowsAtCreation = 16;
// The first view shows the header and 19 card rows, whatever the number of cards.
constexpr int kFirstViewRows = 20;
constexpr int kFirstViewCards = kFirstViewRows - 1;
// After a search or the deleted-card view a short list is padded to this many rows.
constexpr int kShortListRows = 20;
constexpr int kShortListLimit = 18;

const std::array<QString, kColumns> kHeader = {
    QString(),
    QStringLiteral("KEY"),
    QStringLiteral("日付"),
    QStringLiteral("名前"),
    QStringLiteral("ふりがな"),
    QStringLiteral("組織名"),
    QStringLiteral("部署"),
    QStringLiteral("身分"),
    QStringLiteral("メモ"),
};
constexpr std::array<int, kColumns> kWidths = {1, 1, 100, 100, 100, 100, 100, 100, 246};

void writeHeader(StringGridModel& grid) {
    grid.setRowCells(0, kHeader);
}

// Applies the short-list rule of the search and the deleted-card view.
void padShortList(StringGrid* grid) {
    if (grid->rowCount() <= kShortListLimit)
        grid->setRowCount(kShortListRows);
}

}  // namespace

const std::array<CardListWindow::ChoiceRow, 3>& CardListWindow::choiceRows() {
    static const std::array<ChoiceRow, 3> rows{{
        {&CardListWindow::m_nameChoice, {"RadioButton1", {14, 4, 51, 17}, 0, QStringLiteral("名前")}},
        {&CardListWindow::m_organisationChoice,
         {"RadioButton3", {72, 4, 58, 17}, 0, QStringLiteral("組織名")}},
        {&CardListWindow::m_memoChoice, {"RadioButton2", {143, 4, 50, 17}, 0, QStringLiteral("メモ")}},
    }};
    return rows;
}

const std::array<CardListWindow::ButtonRow, 8>& CardListWindow::buttonRows() {
    constexpr auto blank = &CardListWindow::onDeletedViewClicked;
    static const std::array<ButtonRow, 8> rows{{
        {&CardListWindow::m_deletedViewButton,
         &CardListWindow::onDeletedViewClicked,
         {"SpeedButton3", {8, 400, 87, 46}, 0, QStringLiteral("削除分")}},
        {nullptr, blank, {"SpeedButton4", {106, 400, 87, 46}, 0, {}}},
        {nullptr, blank, {"SpeedButton5", {204, 400, 87, 46}, 0, {}}},
        {nullptr, blank, {"SpeedButton6", {302, 400, 87, 46}, 0, {}}},
        {nullptr, blank, {"SpeedButton7", {400, 400, 87, 46}, 0, {}}},
        {nullptr, blank, {"SpeedButton8", {498, 400, 87, 46}, 0, {}}},
        {&CardListWindow::m_searchButton,
         &CardListWindow::onSearchClicked,
         {"SpeedButton1", {596, 400, 91, 46}, 0, QStringLiteral("表示")}},
        {&CardListWindow::m_closeButton,
         &CardListWindow::onCloseClicked,
         {"SpeedButton2", {694, 400, 91, 46}, 0, QStringLiteral("閉じる")}},
    }};
    return rows;
}

CardListWindow::CardListWindow(CardDatabase& database, CardEditorWindow& editor,
                               const search::SearchOptions& options, QWidget* parent)
    : QDialog(parent), m_database(database), m_editor(editor), m_searchOptions(options) {
    setObjectName(QStringLiteral("kihon_ichiran"));
    setWindowTitle(QStringLiteral("名刺一覧"));
    formlook::fixClientSize(this, 804, 451);

    m_bannerPanel =
        formlook::captionPanel(this, QStringLiteral("Panel8"), QRect(8, 8, 153, 25), QStringLiteral("Label7"),
                               QPoint(8, 6), QStringLiteral("データを選択してください。"));
    m_keywordCaption =
        formlook::captionPanel(this, QStringLiteral("Panel1"), QRect(175, 8, 82, 25),
                               QStringLiteral("Label1"), QPoint(16, 6), QStringLiteral("キーワード"));

    m_keywordEdit = new QLineEdit(this);
    m_keywordEdit->setObjectName(QStringLiteral("Edit1"));
    m_keywordEdit->setGeometry(264, 10, 135, 21);
    m_keywordEdit->setAccessibleName(QStringLiteral("キーワード"));

    m_fieldPanel = formlook::captionPanel(this, QStringLiteral("Panel2"), QRect(406, 8, 379, 25), {}, {}, {},
                                          formlook::kPanelSilver);
    for (const ChoiceRow& row : choiceRows()) {
        auto* choice = new QRadioButton(row.spec.caption, m_fieldPanel);
        choice->setObjectName(row.spec.name());
        choice->setGeometry(row.spec.rect);
        this->*row.member = choice;
    }
    m_nameChoice->setChecked(true);
    // Tab stops once in the field choice, at the chosen field; the arrow keys move the choice.
    for (QRadioButton* choice : {m_nameChoice, m_organisationChoice, m_memoChoice}) {
        choice->setFocusPolicy(choice->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        connect(choice, &QRadioButton::toggled, choice,
                [choice](bool on) { choice->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); });
    }

    m_cardGrid = new StringGrid(this);
    m_cardGrid->setObjectName(QStringLiteral("SGrid1"));
    m_cardGrid->setGeometry(8, 39, 777, 355);
    m_cardGrid->setAccessibleName(QStringLiteral("名刺一覧"));

    std::size_t blanks = 0;
    for (const ButtonRow& row : buttonRows()) {
        QPushButton* button = formlook::flatButton(this, row.spec.name(), row.spec.caption, row.spec.rect);
        (row.member ? this->*row.member : m_blankButtons.at(blanks++)) = button;
        messages::connectGuarded(button, &QPushButton::clicked, this, row.handler);
    }
    // The captionless buttons do what 削除分 does: a screen reader names them so, and Tab passes
    // them over rather than stopping five times on buttons without a caption.
    for (QPushButton* blank : m_blankButtons) {
        blank->setAccessibleName(m_deletedViewButton->text());
        blank->setFocusPolicy(Qt::NoFocus);
    }

    const QList<QWidget*> order{m_cardGrid,           m_keywordEdit,       m_nameChoice,   m_memoChoice,
                                m_organisationChoice, m_deletedViewButton, m_searchButton, m_closeButton};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    messages::connectGuarded(m_cardGrid, &StringGrid::gridDoubleClicked, this,
                             &CardListWindow::onGridDoubleClicked);
    messages::connectGuarded(m_cardGrid, &StringGrid::rowEntered, this, &CardListWindow::onGridRowEntered);
    // Enter in the keyword box is a press of 表示, its messages included.
    connect(m_keywordEdit, &QLineEdit::returnPressed, m_searchButton, &QPushButton::click);

    setUpGrid();
}

void CardListWindow::setUpGrid() {
    StringGridModel& grid = m_cardGrid->grid();
    grid.setColCount(kColumns);
    grid.setGridRowCount(kRowsAtCreation);
    writeHeader(grid);
    grid.setFixedCols(2);
    grid.setFixedRows(1);
    for (int col = 0; col < kColumns; ++col)
        m_cardGrid->setColWidth(col, kWidths[std::size_t(col)]);
}

cards::SearchField CardListWindow::selectedField() const {
    if (m_nameChoice->isChecked())
        return cards::SearchField::Name;
    if (m_organisationChoice->isChecked())
        return cards::SearchField::Organisation;
    return cards::SearchField::Memo;
}

void CardListWindow::fillCardList(cards::SearchField field, const QString& keyword, cards::CardState leftOut,
                                  int maxCards) {
    m_leftOut = leftOut;
    StringGridModel& grid = m_cardGrid->grid();
    DbStatement& q = m_database.statement;

    // The views see the whole fill as one reset, also when a statement fails halfway: the grid
    // then keeps the rows written so far. The result is closed either way, since nothing reads
    // it after the fill and it holds a copy of every row.
    grid.beginBulk();
    const auto endOfFill = qScopeGuard([&] {
        q.close();
        grid.endBulk();
    });

    grid.emptyAll();
    writeHeader(grid);
    grid.setGridRowCount(2);

    // With the search that ignores kana and width, the cards are matched as they are fetched.
    search::openCardSearch(q, field, keyword, m_searchOptions.foldKanaAndWidth);
    const int expected = maxCards < 0 ? q.rowCount() : std::min(maxCards, q.rowCount());
    grid.reserveRows(expected + 2);

    // The reader finds the columns once: a lookup by name for every cell of every row would cost
    // more than the rest of the walk.
    const cards::CardReader reader(q);
    using cards::CardField;
    // Texts of one card row; the grid copies them into its own packed row.
    std::array<QString, kColumns> texts;
    std::array<QStringView, kColumns> row;
    QVarLengthArray<char16_t, 32> date;
    int written = 0;
    q.last();
    while (!q.beforeFirst() && (maxCards < 0 || written < maxCards)) {
        if (!reader.flagIsWrittenFor(leftOut)) {
            texts[0] = reader.keyText();
            texts[3] = reader.text(CardField::Name);
            texts[4] = reader.text(CardField::Reading);
            texts[5] = reader.text(CardField::Organisation);
            texts[6] = reader.text(CardField::Department);
            texts[7] = reader.text(CardField::Position);
            texts[8] = reader.text(CardField::Memo);
            date.clear();
            for (const auto& [field, unit] :
                 {std::pair{CardField::Year, u'年'}, {CardField::Month, u'月'}, {CardField::Day, u'日'}}) {
                const QString part = reader.text(field);
                date.append(reinterpret_cast<const char16_t*>(part.utf16()), part.size());
                date.append(unit);
            }
            for (std::size_t c = 0; c < texts.size(); ++c)
                row[c] = texts[c];
            row[2] = QStringView(date.constData(), date.size());
            const int last = grid.gridRowCount() - 1;
            grid.setRowCells(last, row);
            grid.setGridRowCount(last + 2);
            ++written;
        }
        q.prior();
    }
}

void CardListWindow::openCardList() {
    m_keywordEdit->clear();
    m_nameChoice->setChecked(true);
    // Rows past the 19th would be cut by the row count below, so they are not written at all.
    fillCardList(cards::SearchField::Name, QString(), cards::CardState::Deleted, kFirstViewCards);
    m_cardGrid->setRowCount(kFirstViewRows);
    // Each opening starts at the newest card and the date column, wherever the last one left off.
    m_cardGrid->scrollToTop();
    m_cardGrid->horizontalScrollBar()->setValue(m_cardGrid->horizontalScrollBar()->minimum());
    formlook::centreOnScreen(this);
    messages::showModal(this);
}

QString keywordProblem(cards::SearchField field, const QString& keyword) {
    // Lengths of the searched columns in characters, as the card table declares them.
    const auto [columnLength, caption] = [field]() -> std::pair<int, QString> {
        switch (field) {
            case cards::SearchField::Organisation:
                return {cards::ColumnLimits::organisation, QStringLiteral("組織名")};
            case cards::SearchField::Memo:
                return {cards::ColumnLimits::memo, QStringLiteral("メモ")};
            case cards::SearchField::Name:
                break;
        }
        return {cards::ColumnLimits::name, QStringLiteral("名前")};
    }();
    const int longest = columnLength - 2;
    if (keyword.toUcs4().size() <= longest)
        return {};
    return QStringLiteral("キーワードが長すぎます。%1の検索では %2 文字まで入力できます。")
        .arg(caption)
        .arg(longest);
}

bool CardListWindow::keywordUsable() {
    const QString problem = keywordProblem(selectedField(), m_keywordEdit->text());
    if (!problem.isEmpty())
        messages::show(this, problem);
    return problem.isEmpty();
}

void CardListWindow::onSearchClicked() {
    if (!keywordUsable())
        return;
    fillCardList(selectedField(), m_keywordEdit->text(), cards::CardState::Deleted);
    padShortList(m_cardGrid);
}

void CardListWindow::onDeletedViewClicked() {
    if (!keywordUsable())
        return;
    fillCardList(selectedField(), m_keywordEdit->text(), cards::CardState::Live);
    padShortList(m_cardGrid);
}

void CardListWindow::keyPressEvent(QKeyEvent* event) {
    // Esc does not close the window; 閉じる and the title bar do.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CardListWindow::onCloseClicked() {
    close();
}

void CardListWindow::onGridDoubleClicked() {
    const StringGridModel& grid = m_cardGrid->grid();
    const QPoint hit = m_cardGrid->cellAtGlobal(QCursor::pos());
    if (hit.x() < grid.fixedCols() || hit.y() < grid.fixedRows())
        return;  // a fixed column, the header row, or no cell at all
    openCardOfRow(m_cardGrid->selectedRow());
}

void CardListWindow::onGridRowEntered() {
    openCardOfRow(m_cardGrid->selectedRow());
}

void CardListWindow::openCardOfRow(int row) {
    if (row < m_cardGrid->grid().fixedRows())
        return;  // no row chosen
    const QString keyText = m_cardGrid->cell(0, row);
    if (keyText.isEmpty())
        return;  // one of the empty rows below the cards

    // A key without a row opens as an empty card under that key, as the fetch reads it. On a
    // server the card may have been deleted by someone else since the list was filled.
    const int key = cards::keyFromText(keyText);
    const std::optional<cards::Card> card = cards::fetchCard(m_database, key);
    if (m_database.teamMode() &&
        (!card || (card->state == cards::CardState::Deleted && m_leftOut == cards::CardState::Deleted))) {
        messages::show(this, QStringLiteral("このカードはほかの人が削除しました。"));
        if (!card)
            return;
    }
    m_editor.showCard(key, card.value_or(cards::Card{}));
    formlook::centreOnScreen(&m_editor);
    messages::showModal(&m_editor);
}
