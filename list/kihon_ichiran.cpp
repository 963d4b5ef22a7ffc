#include "kihon_ichiran.h"

#include "dm1.h"
#include "formlook.h"
#include "messages.h"
#include "mst_car.h"
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
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVarLengthArray>

#include <array>
#include <utility>

Tkihon_ichiran* kihon_ichiran = nullptr;

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

Tkihon_ichiran::Tkihon_ichiran(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("kihon_ichiran"));
    setWindowTitle(QStringLiteral("名刺一覧"));
    formlook::fixClientSize(this, 804, 451);

    Panel8 =
        formlook::captionPanel(this, QStringLiteral("Panel8"), QRect(8, 8, 153, 25), QStringLiteral("Label7"),
                               QPoint(8, 6), QStringLiteral("データを選択してください。"));
    Panel1 = formlook::captionPanel(this, QStringLiteral("Panel1"), QRect(175, 8, 82, 25),
                                    QStringLiteral("Label1"), QPoint(16, 6), QStringLiteral("キーワード"));

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(264, 10, 135, 21);
    Edit1->setAccessibleName(QStringLiteral("キーワード"));

    Panel2 = formlook::captionPanel(this, QStringLiteral("Panel2"), QRect(406, 8, 379, 25), {}, {}, {},
                                    formlook::kPanelSilver);
    const auto radio = [this](const QString& name, const QString& caption, const QRect& geometry) {
        auto* button = new QRadioButton(caption, Panel2);
        button->setObjectName(name);
        button->setGeometry(geometry);
        return button;
    };
    RadioButton1 = radio(QStringLiteral("RadioButton1"), QStringLiteral("名前"), QRect(14, 4, 51, 17));
    RadioButton3 = radio(QStringLiteral("RadioButton3"), QStringLiteral("組織名"), QRect(72, 4, 58, 17));
    RadioButton2 = radio(QStringLiteral("RadioButton2"), QStringLiteral("メモ"), QRect(143, 4, 50, 17));
    RadioButton1->setChecked(true);

    SGrid1 = new StringGrid(this);
    SGrid1->setObjectName(QStringLiteral("SGrid1"));
    SGrid1->setGeometry(8, 39, 777, 355);
    SGrid1->setAccessibleName(QStringLiteral("名刺一覧"));

    const auto button = [this](const QString& name, const QString& caption, int left, int width) {
        return formlook::flatButton(this, name, caption, QRect(left, 400, width, 46));
    };
    SpeedButton3 = button(QStringLiteral("SpeedButton3"), QStringLiteral("削除分"), 8, 87);
    SpeedButton4 = button(QStringLiteral("SpeedButton4"), {}, 106, 87);
    SpeedButton5 = button(QStringLiteral("SpeedButton5"), {}, 204, 87);
    SpeedButton6 = button(QStringLiteral("SpeedButton6"), {}, 302, 87);
    SpeedButton7 = button(QStringLiteral("SpeedButton7"), {}, 400, 87);
    SpeedButton8 = button(QStringLiteral("SpeedButton8"), {}, 498, 87);
    SpeedButton1 = button(QStringLiteral("SpeedButton1"), QStringLiteral("表示"), 596, 91);
    SpeedButton2 = button(QStringLiteral("SpeedButton2"), QStringLiteral("閉じる"), 694, 91);

    setTabOrder(SGrid1, Edit1);
    setTabOrder(Edit1, RadioButton1);
    setTabOrder(RadioButton1, RadioButton2);
    setTabOrder(RadioButton2, RadioButton3);

    messages::connectGuarded(SpeedButton1, &QPushButton::clicked, this, &Tkihon_ichiran::SpeedButton1Click);
    messages::connectGuarded(SpeedButton2, &QPushButton::clicked, this, &Tkihon_ichiran::SpeedButton2Click);
    for (QPushButton* deletedView :
         {SpeedButton3, SpeedButton4, SpeedButton5, SpeedButton6, SpeedButton7, SpeedButton8})
        messages::connectGuarded(deletedView, &QPushButton::clicked, this,
                                 &Tkihon_ichiran::SpeedButton3Click);
    messages::connectGuarded(SGrid1, &StringGrid::gridDoubleClicked, this, &Tkihon_ichiran::SGrid1DblClick);

    FormCreate();
}

void Tkihon_ichiran::FormCreate() {
    StringGridModel& grid = SGrid1->grid();
    grid.setColCount(kColumns);
    grid.setGridRowCount(kRowsAtCreation);
    writeHeader(grid);
    grid.setFixedCols(2);
    grid.setFixedRows(1);
    for (int col = 0; col < kColumns; ++col)
        SGrid1->setColWidth(col, kWidths[std::size_t(col)]);
}

cards::SearchField Tkihon_ichiran::selectedField() const {
    if (RadioButton1->isChecked())
        return cards::SearchField::Name;
    if (RadioButton3->isChecked())
        return cards::SearchField::Organisation;
    return cards::SearchField::Memo;
}

void Tkihon_ichiran::fillCardList(cards::SearchField field, const QString& keyword,
                                  const QString& leftOutFlag, int maxCards) {
    m_leftOutFlag = leftOutFlag;
    StringGridModel& grid = SGrid1->grid();
    TIBQuery& q = DM1->IBQuery1;

    // The views see the whole fill as one reset, also when a statement fails halfway: the grid
    // then keeps the rows written so far. The result is closed either way, since nothing reads
    // it after the fill and it holds a copy of every row.
    struct FillScope {
        StringGridModel& grid;
        TIBQuery& q;
        ~FillScope() {
            q.Close();
            grid.endBulk();
        }
    } scope{grid, q};
    grid.beginBulk();

    grid.emptyAll();
    writeHeader(grid);
    grid.setGridRowCount(2);

    cards::prepareSearch(q, field, keyword);
    q.Open();
    const int expected = maxCards < 0 ? q.RecordCount() : std::min(maxCards, q.RecordCount());
    grid.reserveRows(expected + 2);

    // Columns by position, looked up once: a lookup by name for every cell of every row would cost
    // more than the rest of the walk.
    const int key = q.FieldIndex("KEY1"), year = q.FieldIndex("LYEAR"), month = q.FieldIndex("LMONTH"),
              day = q.FieldIndex("LDAY"), name = q.FieldIndex("SYASYU"), reading = q.FieldIndex("HURIGANA"),
              organisation = q.FieldIndex("KATABAN"), department = q.FieldIndex("KYORI"),
              position = q.FieldIndex("KINGAKU"), memo = q.FieldIndex("MEMO"),
              flag = q.FieldIndex("DEL_FLG1");
    // Texts of one card row; the grid copies them into its own packed row.
    std::array<QString, kColumns> texts;
    std::array<QStringView, kColumns> row;
    QVarLengthArray<char16_t, 32> date;
    int written = 0;
    q.Last();
    while (!q.Bof() && (maxCards < 0 || written < maxCards)) {
        if (q.Fields(flag).AsString() != leftOutFlag) {
            texts[0] = q.Fields(key).AsString();
            texts[3] = q.Fields(name).AsString();
            texts[4] = q.Fields(reading).AsString();
            texts[5] = q.Fields(organisation).AsString();
            texts[6] = q.Fields(department).AsString();
            texts[7] = q.Fields(position).AsString();
            texts[8] = q.Fields(memo).AsString();
            date.clear();
            for (const auto& [column, unit] : {std::pair{year, u'年'}, {month, u'月'}, {day, u'日'}}) {
                const QString part = q.Fields(column).AsString();
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
        q.Prior();
    }
}

void Tkihon_ichiran::openCardList() {
    Edit1->clear();
    RadioButton1->setChecked(true);
    // Rows past the 19th would be cut by the row count below, so they are not written at all.
    fillCardList(cards::SearchField::Name, QString(), cards::kDeleted, kFirstViewCards);
    SGrid1->setRowCount(kFirstViewRows);
    // Each opening starts at the newest card and the date column, wherever the last one left off.
    SGrid1->scrollToTop();
    SGrid1->horizontalScrollBar()->setValue(SGrid1->horizontalScrollBar()->minimum());
    formlook::centreOnScreen(this);
    messages::showModal(this);
}

QString keywordProblem(cards::SearchField field, const QString& keyword) {
    // Lengths of the searched columns in characters, as the card table declares them.
    const auto [columnLength, caption] = [field]() -> std::pair<int, QString> {
        switch (field) {
            case cards::SearchField::Organisation:
                return {150, QStringLiteral("組織名")};
            case cards::SearchField::Memo:
                return {5000, QStringLiteral("メモ")};
            case cards::SearchField::Name:
                break;
        }
        return {150, QStringLiteral("名前")};
    }();
    const int longest = columnLength - 2;
    if (keyword.toUcs4().size() <= longest)
        return {};
    return QStringLiteral("キーワードが長すぎます。%1の検索では %2 文字まで入力できます。")
        .arg(caption)
        .arg(longest);
}

bool Tkihon_ichiran::keywordUsable() {
    const QString problem = keywordProblem(selectedField(), Edit1->text());
    if (!problem.isEmpty())
        messages::show(this, problem);
    return problem.isEmpty();
}

void Tkihon_ichiran::SpeedButton1Click() {
    if (!keywordUsable())
        return;
    fillCardList(selectedField(), Edit1->text(), cards::kDeleted);
    padShortList(SGrid1);
}

void Tkihon_ichiran::SpeedButton3Click() {
    if (!keywordUsable())
        return;
    fillCardList(selectedField(), Edit1->text(), cards::kLive);
    padShortList(SGrid1);
}

void Tkihon_ichiran::keyPressEvent(QKeyEvent* event) {
    // Esc does not close the window; 閉じる and the title bar do.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tkihon_ichiran::SpeedButton2Click() {
    close();
}

void Tkihon_ichiran::SGrid1DblClick() {
    const StringGridModel& grid = SGrid1->grid();
    const QPoint hit = SGrid1->cellAtGlobal(QCursor::pos());
    if (hit.x() < grid.fixedCols() || hit.y() < grid.fixedRows())
        return;  // a fixed column, the header row, or no cell at all
    const QString keyText = SGrid1->cell(0, SGrid1->selectedRow());
    if (keyText.isEmpty())
        return;  // one of the empty rows below the cards

    // A key without a row opens as an empty card under that key, as the fetch reads it. On a
    // server the card may have been deleted by someone else since the list was filled.
    const int key = cards::keyFromText(keyText);
    const std::optional<cards::Card> card = cards::fetchCard(*DM1, key);
    if (DM1->teamMode() &&
        (!card || (card->state() == cards::CardState::Deleted && m_leftOutFlag == cards::kDeleted))) {
        messages::show(this, QStringLiteral("このカードはほかの人が削除しました。"));
        if (!card)
            return;
    }
    mst_car->showCard(key, card.value_or(cards::Card{}));
    formlook::centreOnScreen(mst_car);
    messages::showModal(mst_car);
}
