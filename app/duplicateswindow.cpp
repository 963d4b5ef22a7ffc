#include "duplicateswindow.h"

#include "carddatabase.h"
#include "messages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct BoxRow {
    cards::MergeBox box;
    const char* name;  // objectName prefix of the box's buttons: "<name>_<key>", "Merged<name>"
    QString caption;
};

const QList<BoxRow>& boxRows() {
    static const QList<BoxRow> rows = {
        {cards::MergeBox::Name, "Name", QStringLiteral("名前")},
        {cards::MergeBox::Reading, "Reading", QStringLiteral("ふりがな")},
        {cards::MergeBox::Organisation, "Organisation", QStringLiteral("組織名")},
        {cards::MergeBox::Department, "Department", QStringLiteral("部署名")},
        {cards::MergeBox::Position, "Position", QStringLiteral("身分")},
        {cards::MergeBox::Date, "Date", QStringLiteral("日付")},
    };
    return rows;
}

QString keysText(const QList<int>& keys) {
    QStringList texts;
    for (int key : keys)
        texts << QString::number(key);
    return texts.join(QStringLiteral("、"));
}

// A box's text as a choice: one line, cut with "…" past the width, the whole text as its tip.
QString shownText(const QString& text, const QWidget* on) {
    if (text.trimmed().isEmpty())
        return QStringLiteral("（空）");
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
    return on->fontMetrics().elidedText(line, Qt::ElideRight, 220);
}

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

}  // namespace

MergeWindow::MergeWindow(const transfer::DuplicateGroup& group, QList<cards::KeyedCard> cards,
                         const CardFolder& folder, QWidget* parent)
    : QDialog(parent), m_cards(std::move(cards)) {
    setObjectName(QStringLiteral("MergeWindow"));
    setWindowTitle(QStringLiteral("名刺の統合"));
    std::sort(m_cards.begin(), m_cards.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
    for (const cards::KeyedCard& c : std::as_const(m_cards))
        m_pictures.insert(c.key, transfer::mergedPictureNames(folder, c.key));

    auto* layout = new QVBoxLayout(this);
    auto* reason = new QLabel(QStringLiteral("理由: %1").arg(transfer::reasonText(group)), this);
    reason->setObjectName(QStringLiteral("Reason"));
    layout->addWidget(reason);
    layout->addWidget(new QLabel(
        QStringLiteral("欄ごとに、残す文字の名刺を選んでください。右端が統合後の名刺です。"), this));

    auto* sheet = new QWidget;
    auto* grid = new QGridLayout(sheet);
    grid->setHorizontalSpacing(16);
    const int mergedColumn = int(m_cards.size()) + 1;
    m_keepButtons = new QButtonGroup(this);
    grid->addWidget(captionLabel(QStringLiteral("残す番号"), sheet), 0, 0);
    for (int i = 0; i < m_cards.size(); ++i) {
        const int key = m_cards[i].key;
        auto* keepButton = new QRadioButton(QStringLiteral("番号 %1 を残す").arg(key), sheet);
        keepButton->setObjectName(QStringLiteral("Keep_%1").arg(key));
        QFont bold = keepButton->font();
        bold.setBold(true);
        keepButton->setFont(bold);
        m_keepButtons->addButton(keepButton, key);
        grid->addWidget(keepButton, 0, i + 1);
    }
    grid->addWidget(captionLabel(QStringLiteral("統合後"), sheet), 0, mergedColumn);

    const QMap<cards::MergeBox, int> defaults = cards::defaultSources(m_cards);
    int row = 1;
    for (const BoxRow& r : boxRows()) {
        grid->addWidget(captionLabel(r.caption, sheet), row, 0);
        auto* buttons = new QButtonGroup(this);
        m_boxButtons.insert(r.box, buttons);
        for (int i = 0; i < m_cards.size(); ++i) {
            const cards::KeyedCard& c = m_cards[i];
            const QString text = cards::boxText(c.card.texts, r.box);
            auto* choice = new QRadioButton(shownText(text, this), sheet);
            choice->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(r.name)).arg(c.key));
            choice->setToolTip(text);
            choice->setAccessibleName(QStringLiteral("番号 %1 の%2").arg(c.key).arg(r.caption));
            buttons->addButton(choice, c.key);
            choice->setChecked(defaults.value(r.box) == c.key);
            grid->addWidget(choice, row, i + 1);
        }
        auto* merged = new QLabel(sheet);
        merged->setObjectName(QStringLiteral("Merged%1").arg(QLatin1String(r.name)));
        merged->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_mergedBoxes.insert(r.box, merged);
        grid->addWidget(merged, row, mergedColumn);
        connect(buttons, &QButtonGroup::idToggled, this, [this](int, bool on) {
            if (on)
                showMergedCard();
        });
        ++row;
    }

    grid->addWidget(captionLabel(QStringLiteral("メモ"), sheet), row, 0, Qt::AlignTop);
    for (int i = 0; i < m_cards.size(); ++i) {
        auto* memo = new QPlainTextEdit(m_cards[i].card.texts.memo, sheet);
        memo->setObjectName(QStringLiteral("Memo_%1").arg(m_cards[i].key));
        memo->setReadOnly(true);
        memo->setFixedHeight(120);
        memo->setMinimumWidth(240);
        grid->addWidget(memo, row, i + 1);
    }
    m_mergedMemoBox = new QPlainTextEdit(sheet);
    m_mergedMemoBox->setObjectName(QStringLiteral("MergedMemo"));
    m_mergedMemoBox->setReadOnly(true);
    m_mergedMemoBox->setMinimumWidth(240);
    m_mergedMemoBox->setFixedHeight(120);
    grid->addWidget(m_mergedMemoBox, row, mergedColumn);
    ++row;

    grid->addWidget(captionLabel(QStringLiteral("画像"), sheet), row, 0, Qt::AlignTop);
    for (int i = 0; i < m_cards.size(); ++i) {
        const QStringList& names = m_pictures.value(m_cards[i].key);
        auto* pictures = new QLabel(
            names.isEmpty() ? QStringLiteral("なし") : QStringLiteral("%1 枚").arg(names.size()), sheet);
        pictures->setObjectName(QStringLiteral("Pictures_%1").arg(m_cards[i].key));
        pictures->setToolTip(names.join(QLatin1Char('\n')));
        grid->addWidget(pictures, row, i + 1, Qt::AlignTop);
    }
    m_mergedPictures = new QLabel(sheet);
    m_mergedPictures->setObjectName(QStringLiteral("MergedPictures"));
    grid->addWidget(m_mergedPictures, row, mergedColumn, Qt::AlignTop);
    grid->setRowStretch(row + 1, 1);
    for (int c = 1; c <= mergedColumn; ++c)
        grid->setColumnStretch(c, 1);

    auto* scroll = new QScrollArea(this);
    scroll->setWidget(sheet);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll, 1);

    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("Summary"));
    m_summaryLabel->setWordWrap(true);
    layout->addWidget(m_summaryLabel);

    // A job change is shown for a look, never merged on the defaults alone.
    m_samePersonCheck = new QCheckBox(
        QStringLiteral("組織名が違います（転職かもしれません）。同じ人と確かめたので統合する"), this);
    m_samePersonCheck->setObjectName(QStringLiteral("SamePersonCheck"));
    m_samePersonCheck->setVisible(!transfer::mergedByDefault(group.reason));
    m_samePersonCheck->setChecked(transfer::mergedByDefault(group.reason));
    layout->addWidget(m_samePersonCheck);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_mergeButton = new QPushButton(QStringLiteral("統合"), this);
    m_mergeButton->setObjectName(QStringLiteral("MergeButton"));
    m_cancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    m_cancelButton->setDefault(true);
    buttons->addWidget(m_mergeButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);

    connect(m_mergeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_samePersonCheck, &QCheckBox::toggled, this, [this] { showMergedCard(); });
    connect(m_keepButtons, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on)
            showMergedCard();
    });

    keep(std::min_element(m_cards.begin(), m_cards.end(), [](const auto& a, const auto& b) {
             return a.key < b.key;
         })->key);
    showMergedCard();
    // Every card and the merged one side by side, as far as the screen allows; more scroll.
    resize(std::min(140 + 290 * (int(m_cards.size()) + 1), 1240), 520);
}

int MergeWindow::keptKey() const {
    return m_keepButtons->checkedId();
}

QMap<cards::MergeBox, int> MergeWindow::chosen() const {
    QMap<cards::MergeBox, int> chosen;
    for (auto it = m_boxButtons.begin(); it != m_boxButtons.end(); ++it) {
        if (it.value()->checkedId() != -1)
            chosen.insert(it.key(), it.value()->checkedId());
    }
    return chosen;
}

void MergeWindow::choose(cards::MergeBox box, int key) {
    if (QAbstractButton* button = m_boxButtons.value(box)->button(key))
        button->setChecked(true);
}

void MergeWindow::keep(int key) {
    if (QAbstractButton* button = m_keepButtons->button(key))
        button->setChecked(true);
}

// The merge as it would be written now; a refusal (a memo past its limit) is said in place of
// the summary and 統合 stays off.
void MergeWindow::showMergedCard() {
    const int kept = keptKey();
    QString summary;
    try {
        const cards::MergePlan plan = cards::planMerge(m_cards, kept, chosen());
        for (auto it = m_mergedBoxes.begin(); it != m_mergedBoxes.end(); ++it)
            it.value()->setText(cards::boxText(plan.kept, it.key()));
        m_mergedMemoBox->setPlainText(plan.kept.memo);
        int copied = 0;
        QList<int> others;
        for (const cards::KeyedCard& c : plan.retired) {
            copied += int(m_pictures.value(c.key).size());
            others << c.key;
        }
        std::sort(others.begin(), others.end());
        const int own = int(m_pictures.value(kept).size());
        m_mergedPictures->setText(
            copied == 0 ? (own == 0 ? QStringLiteral("なし") : QStringLiteral("%1 枚").arg(own))
                        : QStringLiteral("%1 枚（%2 枚をコピー）").arg(own + copied).arg(copied));
        summary = QStringLiteral(
                      "番号 %1 の名刺に統合します。ほかの名刺のメモは、番号と日付の行に続けてメモの下に"
                      "加えます。番号 %2 の名刺は削除済みにし、メモに統合先を書き加えます"
                      "（「削除分」から「データ復元」で一枚ずつ戻せます）。")
                      .arg(kept)
                      .arg(keysText(others));
        if (copied > 0)
            summary += QStringLiteral(
                           "画像 %1 枚を番号 %2 の画像フォルダにコピーします"
                           "（同じ名前があれば「_2」などを付けます）。")
                           .arg(copied)
                           .arg(kept);
        m_planOk = true;
    } catch (const std::exception& e) {
        summary = QStringLiteral("統合できません: %1").arg(QString::fromUtf8(e.what()));
        m_planOk = false;
    }
    m_summaryLabel->setText(summary);
    m_mergeButton->setEnabled(m_planOk && m_samePersonCheck->isChecked());
}

DuplicatesWindow::DuplicatesWindow(CardDatabase& database, QWidget* parent)
    : QDialog(parent), m_database(database) {
    setObjectName(QStringLiteral("DuplicatesWindow"));
    setWindowTitle(QStringLiteral("重複カード"));
    auto* layout = new QVBoxLayout(this);

    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("Summary"));
    m_summaryLabel->setWordWrap(true);
    layout->addWidget(m_summaryLabel);

    m_groupTable = new QTableWidget(0, 4, this);
    m_groupTable->setObjectName(QStringLiteral("GroupTable"));
    m_groupTable->setHorizontalHeaderLabels(
        {QStringLiteral("番号"), QStringLiteral("名前"), QStringLiteral("組織名"), QStringLiteral("理由")});
    m_groupTable->horizontalHeader()->setStretchLastSection(true);
    m_groupTable->verticalHeader()->hide();
    m_groupTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_groupTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_groupTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_groupTable->setWordWrap(false);
    m_groupTable->setAccessibleName(QStringLiteral("同じ人と思われる名刺の組"));
    layout->addWidget(m_groupTable, 1);

    auto* buttons = new QHBoxLayout;
    m_mergeButton = new QPushButton(QStringLiteral("統合…"), this);
    m_mergeButton->setObjectName(QStringLiteral("MergeButton"));
    m_dismissButton = new QPushButton(QStringLiteral("別人"), this);
    m_dismissButton->setObjectName(QStringLiteral("DismissButton"));
    m_dismissButton->setToolTip(QStringLiteral("この組の名刺は別の人として、今後は表示しません"));
    m_refreshButton = new QPushButton(QStringLiteral("再表示"), this);
    m_refreshButton->setObjectName(QStringLiteral("RefreshButton"));
    m_closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    buttons->addWidget(m_mergeButton);
    buttons->addWidget(m_dismissButton);
    buttons->addStretch();
    buttons->addWidget(m_refreshButton);
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);

    messages::connectGuarded(m_mergeButton, &QPushButton::clicked, this,
                             &DuplicatesWindow::mergeCurrentGroup);
    messages::connectGuarded(m_dismissButton, &QPushButton::clicked, this,
                             &DuplicatesWindow::dismissCurrentGroup);
    messages::connectGuarded(m_refreshButton, &QPushButton::clicked, this, &DuplicatesWindow::refresh);
    messages::connectGuarded(m_groupTable, &QTableWidget::itemSelectionChanged, this,
                             &DuplicatesWindow::onSelectionChanged);
    messages::connectGuarded(m_groupTable, &QTableWidget::itemDoubleClicked, this,
                             &DuplicatesWindow::mergeCurrentGroup);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);

    onSelectionChanged();
    resize(820, 440);
}

void DuplicatesWindow::refresh() {
    QList<transfer::Card> cards;
    QHash<int, cards::CardTexts> byKey;
    transfer::forEachStoredCard(m_database, false, [&](const transfer::Card& c) {
        cards << c;
        byKey.insert(c.key.toInt(), c.texts);
    });
    m_database.transaction.commit();  // every action ends its work, so others' changes show next time
    m_groups = transfer::groupDuplicates(cards, transfer::readDismissed(m_database.cardFolder()));

    m_groupTable->clearContents();
    m_groupTable->setRowCount(int(m_groups.size()));
    int current = -1;
    for (int row = 0; row < m_groups.size(); ++row) {
        const transfer::DuplicateGroup& g = m_groups[row];
        QStringList names, organisations;
        for (int key : g.keys) {
            const cards::CardTexts t = byKey.value(key);
            if (!names.contains(t.name))
                names << t.name;
            if (!organisations.contains(t.organisation))
                organisations << t.organisation;
        }
        const QStringList cells = {keysText(g.keys), names.join(QStringLiteral(" / ")),
                                   organisations.join(QStringLiteral(" / ")), transfer::reasonText(g)};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(cells[column]);
            m_groupTable->setItem(row, column, item);
        }
        if (current < 0 && transfer::mergedByDefault(g.reason))
            current = row;
    }
    // The reason takes the rest of the width: only the other columns are fitted to their texts.
    for (int column = 0; column < 3; ++column) {
        m_groupTable->resizeColumnToContents(column);
        m_groupTable->setColumnWidth(column, std::min(m_groupTable->columnWidth(column), 280));
    }
    m_groupTable->clearSelection();
    if (current >= 0)
        m_groupTable->selectRow(current);
    m_summaryLabel->setText(
        m_groups.isEmpty() ? QStringLiteral("同じ人と思われる名刺は見つかりませんでした。")
                           : QStringLiteral("同じ人と思われる名刺が %1 組あります（理由の強いものから）。"
                                            "組を選び、「統合…」で 1 枚にまとめるか、「別人」で今後は"
                                            "表示しないようにしてください。")
                                 .arg(m_groups.size()));
    onSelectionChanged();
}

const transfer::DuplicateGroup& DuplicatesWindow::currentGroup() const {
    const QList<QTableWidgetSelectionRange> ranges = m_groupTable->selectedRanges();
    const int row = ranges.isEmpty() ? -1 : ranges.first().topRow();
    if (row < 0 || row >= m_groups.size())
        throw transfer::TransferError(QStringLiteral("名刺の組を一覧から選んでください。"));
    return m_groups[row];
}

void DuplicatesWindow::onSelectionChanged() {
    const bool chosen = !m_groupTable->selectedRanges().isEmpty();
    m_mergeButton->setEnabled(chosen);
    m_dismissButton->setEnabled(chosen);
}

void DuplicatesWindow::mergeCurrentGroup() {
    const transfer::DuplicateGroup group = currentGroup();
    MergeWindow window(group, transfer::loadForMerge(m_database, group.keys), m_database.cardFolder(), this);
    messages::showModal(&window);
    if (window.result() != QDialog::Accepted)
        return;
    const transfer::MergeResult r =
        transfer::mergeDuplicates(m_database, window.cards(), window.keptKey(), window.chosen());
    refresh();
    QList<int> retired = r.retiredKeys;
    std::sort(retired.begin(), retired.end());
    messages::show(
        this,
        QStringLiteral("番号 %1 の名刺に統合しました。番号 %2 の名刺は削除済みにしました"
                       "（「削除分」から戻せます）。%3")
            .arg(r.keptKey)
            .arg(keysText(retired))
            .arg(r.copiedPictures.isEmpty()
                     ? QString()
                     : QStringLiteral("\r\n画像 %1 枚をコピーしました。").arg(r.copiedPictures.size())));
}

void DuplicatesWindow::dismissCurrentGroup() {
    const transfer::DuplicateGroup group = currentGroup();
    if (!messages::ask(this, QStringLiteral("番号 %1 の名刺を別の人として、この組を今後は表示しません。"
                                            "よろしいですか？")
                                 .arg(keysText(group.keys))))
        return;
    transfer::dismissGroup(m_database.cardFolder(), group.keys);
    refresh();
}
