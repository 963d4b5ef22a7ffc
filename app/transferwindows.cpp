#include "transferwindows.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace transferwindows {

namespace {

class DesktopFileChooser final : public FileChooser {
public:
    QString saveFile(QWidget* parent, const QString& caption, const QString& suggested,
                     const QString& filters) override {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filters);
    }
    QString openFile(QWidget* parent, const QString& caption, const QString& filters) override {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filters);
    }
};

FileChooser* g_chooser = nullptr;

}  // namespace

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

ImportWindow::ImportWindow(const transfer::ImportPlan& plan, const QString& file, QWidget* parent)
    : QDialog(parent), m_plan(plan) {
    setObjectName(QStringLiteral("ImportWindow"));
    setWindowTitle(QStringLiteral("読み込み"));
    auto* layout = new QVBoxLayout(this);

    const qsizetype fresh = plan.cardCount - plan.duplicates.size();
    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setWordWrap(true);
    QString text = QStringLiteral("「%1」（%2、%3）の名刺 %4 件を新しい名刺として登録します。")
                       .arg(file, plan.format == transfer::FileFormat::Csv ? QStringLiteral("CSV")
                                                                           : QStringLiteral("vCard"))
                       .arg(plan.encoding)
                       .arg(plan.cardCount);
    if (!plan.duplicates.isEmpty())
        text += QStringLiteral(
                    "\nそのうち %1 件は名前と組織名が同じ名刺がすでにあります。"
                    "登録するものにだけチェックを付けてください（%2 件は必ず登録します）。")
                    .arg(plan.duplicates.size())
                    .arg(fresh);
    Summary->setText(text);
    layout->addWidget(Summary);

    DuplicateList = new QListWidget(this);
    DuplicateList->setObjectName(QStringLiteral("DuplicateList"));
    for (qsizetype d = 0; d < plan.duplicates.size(); ++d) {
        const int i = plan.duplicates[d];
        const transfer::Card& c = plan.duplicateCards[d];
        auto* item =
            new QListWidgetItem(QStringLiteral("%1  %2 / %3")
                                    .arg(transfer::originText(plan, c), c.texts.name, c.texts.organisation),
                                DuplicateList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, i);
    }
    DuplicateList->setVisible(!plan.duplicates.isEmpty());
    layout->addWidget(DuplicateList);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    ImportButton = new QPushButton(QStringLiteral("登録"), this);
    ImportButton->setObjectName(QStringLiteral("ImportButton"));
    CancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    buttons->addWidget(ImportButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(ImportButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, plan.duplicates.isEmpty() ? 140 : 360);
}

QSet<int> ImportWindow::takenDuplicates() const {
    QSet<int> taken;
    for (int row = 0; row < DuplicateList->count(); ++row) {
        const QListWidgetItem* item = DuplicateList->item(row);
        if (item->checkState() == Qt::Checked)
            taken.insert(item->data(Qt::UserRole).toInt());
    }
    return taken;
}

}  // namespace transferwindows
