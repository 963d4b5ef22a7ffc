#include "mainmenuwindow.h"

#include "backup.h"
#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "cardmatch.h"
#include "checkablemenuitem.h"
#include "desktop.h"
#include "duplicateswindow.h"
#include "exporter.h"
#include "formlook.h"
#include "intakewindow.h"
#include "messages.h"
#include "transferwindows.h"
#include "usersettings.h"
#include "versionwindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>

#include <sys/stat.h>

const QString MainMenuWindow::kHomePage = QStringLiteral("http://www.olvemark.example/olvemark/");
const QString MainMenuWindow::kManualPage =
    QStringLiteral("http://www.olvemark.example/olvemark/soft/Manual/Business_card001.html");

namespace {

// The link as a screen reader sees it: a link named by its text, with a press action.
class LinkAccess final : public QAccessibleWidget {
public:
    explicit LinkAccess(LinkLabel* link) : QAccessibleWidget(link, QAccessible::Link) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<const LinkLabel*>(widget())->text()
                                      : QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction())
            emit static_cast<LinkLabel*>(widget())->clicked();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* linkAccess(const QString&, QObject* object) {
    auto* link = qobject_cast<LinkLabel*>(object);
    return link ? new LinkAccess(link) : nullptr;
}

}  // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    static const bool described = [] {
        QAccessible::installFactory(linkAccess);
        return true;
    }();
    Q_UNUSED(described);
    setFocusPolicy(Qt::TabFocus);
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            emit clicked();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The focus is drawn around the text in the label's own colour: the panel behind it is dark.
    QPainter painter(this);
    QPen dotted(palette().color(QPalette::WindowText), 1, Qt::DotLine);
    painter.setPen(dotted);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

namespace {

const QString kBackupFolderKey = QStringLiteral("backup/folder");

// Where the backup window opens the first time: the user's documents, away from the card folder.
QString defaultBackupFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

// Whether a file to be written lies on the device that holds the card file; for a file not yet
// there, its folder's device.
bool onSameDisk(const QString& cardFile, const QString& target) {
    struct stat card = {}, there = {};
    if (::stat(QFile::encodeName(cardFile).constData(), &card) != 0)
        return false;
    const QFileInfo info(target);
    const QString existing = info.exists() ? info.absoluteFilePath() : info.absolutePath();
    return ::stat(QFile::encodeName(existing).constData(), &there) == 0 && there.st_dev == card.st_dev;
}

}  // namespace

const std::array<MainMenuWindow::ButtonRow, 4>& MainMenuWindow::buttonRows() {
    static const std::array<ButtonRow, 4> rows{{
        {&MainMenuWindow::m_newCardButton,
         &MainMenuWindow::onNewCardClicked,
         {"SpeedButton3", {35, 38, 137, 78}, 0, QStringLiteral("名刺登録")}},
        {&MainMenuWindow::m_cardListButton,
         &MainMenuWindow::onCardListClicked,
         {"SpeedButton1", {203, 38, 137, 78}, 0, QStringLiteral("名刺一覧")}},
        {&MainMenuWindow::m_helpButton,
         &MainMenuWindow::onHelpClicked,
         {"SpeedButton8", {35, 142, 137, 78}, 0, QStringLiteral("ヘルプ")}},
        {&MainMenuWindow::m_closeButton,
         &MainMenuWindow::onCloseClicked,
         {"SpeedButton6", {203, 142, 137, 78}, 0, QStringLiteral("閉じる")}},
    }};
    return rows;
}

MainMenuWindow::MainMenuWindow(CardDatabase& database, search::SearchOptions& searchOptions, QWidget* parent)
    : QMainWindow(parent), m_database(database), m_searchOptions(searchOptions) {
    setObjectName(QStringLiteral("menu"));
    setWindowTitle(QStringLiteral("メインメニュー"));
    installCheckableMenuItemAccess();

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(384, 291);
    setCentralWidget(client);

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* fileMenu = bar->addMenu(QStringLiteral("ファイル"));
    fileMenu->setObjectName(QStringLiteral("N1"));
    m_backupAction = fileMenu->addAction(QStringLiteral("バックアップ…"));
    m_backupAction->setObjectName(QStringLiteral("BackupAction"));
    m_restoreAction = fileMenu->addAction(QStringLiteral("復元…"));
    m_restoreAction->setObjectName(QStringLiteral("RestoreAction"));
    m_exportAction = fileMenu->addAction(QStringLiteral("書き出し…"));
    m_exportAction->setObjectName(QStringLiteral("ExportAction"));
    m_importAction = fileMenu->addAction(QStringLiteral("読み込み…"));
    m_importAction->setObjectName(QStringLiteral("ImportAction"));
    m_intakeAction = fileMenu->addAction(QStringLiteral("まとめて取り込む…"));
    m_intakeAction->setObjectName(QStringLiteral("IntakeAction"));
    m_duplicatesAction = fileMenu->addAction(QStringLiteral("重複カードを探す…"));
    m_duplicatesAction->setObjectName(QStringLiteral("DuplicatesAction"));
    fileMenu->addSeparator();
    m_quitAction = fileMenu->addAction(QStringLiteral("終了"));
    m_quitAction->setObjectName(QStringLiteral("N2"));
    QMenu* optionMenu = bar->addMenu(QStringLiteral("オプション"));
    optionMenu->setObjectName(QStringLiteral("N3"));
    m_foldedSearchAction = optionMenu->addAction(QStringLiteral("かな・全角半角を区別せずに検索"));
    m_foldedSearchAction->setObjectName(QStringLiteral("N5"));
    m_foldedSearchAction->setCheckable(true);
    m_foldedSearchAction->setChecked(m_searchOptions.foldKanaAndWidth);
    optionMenu->addSeparator();
    m_versionAction = optionMenu->addAction(QStringLiteral("バージョン"));
    m_versionAction->setObjectName(QStringLiteral("N4"));

    for (const ButtonRow& row : buttonRows()) {
        QPushButton*& button = this->*row.member;
        button = formlook::flatButton(client, row.spec.name(), row.spec.caption, row.spec.rect);
        messages::connectGuarded(button, &QPushButton::clicked, this, row.handler);
    }

    QFrame* linkPanel =
        formlook::captionPanel(client, QStringLiteral("Panel4"), QRect(35, 245, 305, 24), {}, {}, {});
    m_homePageLink = new LinkLabel(QStringLiteral("olvemark :  ") + kHomePage, linkPanel);
    m_homePageLink->setObjectName(QStringLiteral("Label4"));
    m_homePageLink->setPalette(linkPanel->palette());
    QFont underlined = m_homePageLink->font();
    underlined.setUnderline(true);
    m_homePageLink->setFont(underlined);
    m_homePageLink->setCursor(Qt::PointingHandCursor);
    m_homePageLink->move(8, 5);
    m_homePageLink->adjustSize();

    messages::connectGuarded(m_homePageLink, &LinkLabel::clicked, this, &MainMenuWindow::onHomePageClicked);
    messages::connectGuarded(m_backupAction, &QAction::triggered, this, &MainMenuWindow::onBackupTriggered);
    messages::connectGuarded(m_restoreAction, &QAction::triggered, this, &MainMenuWindow::onRestoreTriggered);
    messages::connectGuarded(m_exportAction, &QAction::triggered, this, &MainMenuWindow::onExportTriggered);
    messages::connectGuarded(m_importAction, &QAction::triggered, this, &MainMenuWindow::onImportTriggered);
    messages::connectGuarded(m_intakeAction, &QAction::triggered, this, &MainMenuWindow::onIntakeTriggered);
    messages::connectGuarded(m_duplicatesAction, &QAction::triggered, this,
                             &MainMenuWindow::onDuplicatesTriggered);
    messages::connectGuarded(m_quitAction, &QAction::triggered, this, &MainMenuWindow::onQuitTriggered);
    messages::connectGuarded(m_versionAction, &QAction::triggered, this, &MainMenuWindow::onVersionTriggered);
    messages::connectGuarded(m_foldedSearchAction, &QAction::triggered, this,
                             &MainMenuWindow::onFoldedSearchToggled);

    // The client area is fixed; the menu bar sits above it.
    setFixedSize(384, 291 + bar->sizeHint().height());
}

void MainMenuWindow::setWindows(CardEditorWindow& editor, CardListWindow& list, VersionWindow& version) {
    m_editor = &editor;
    m_list = &list;
    m_version = &version;
}

void MainMenuWindow::onNewCardClicked() {
    m_editor->resetToNewCard();
}

void MainMenuWindow::onCardListClicked() {
    m_list->openCardList();
}

void MainMenuWindow::onHelpClicked() {
    platform::shell().openUrl(kManualPage, this);
}

void MainMenuWindow::onCloseClicked() {
    close();
}

void MainMenuWindow::onHomePageClicked() {
    platform::shell().openUrl(kHomePage, this);
}

void MainMenuWindow::onBackupTriggered() {
    usersettings::UserSettings settings;
    // The folder last used, unless it is gone (a disk no longer plugged in).
    QString startFolder = settings.value(kBackupFolderKey).toString();
    if (startFolder.isEmpty() || !QFileInfo(startFolder).isDir())
        startFolder = defaultBackupFolder();
    const QString file = transferwindows::fileChooser().saveFile(
        this, QStringLiteral("バックアップ"),
        QDir(startFolder)
            .filePath(QStringLiteral("名刺管理-%1.fbk")
                          .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))),
        QStringLiteral("バックアップ (*.fbk)"));
    if (file.isEmpty())
        return;
    settings.setValue(kBackupFolderKey, QFileInfo(file).absolutePath());
    settings.sync();
    // A backup beside the card file is lost with the disk it protects against: allowed (a USB
    // stick may follow), but said.
    const QString sameDisk =
        !m_database.cardFolder().onServer && onSameDisk(m_database.cardFolder().database, file)
            ? QStringLiteral(
                  "バックアップ先はカードファイルと同じディスクにあります。ディスクが故障すると"
                  "カードファイルとともに失われるため、別のディスクにも保存することをおすすめします。"
                  "\r\n\r\n")
            : QString();
    const bool pictures =
        messages::ask(this, sameDisk + QStringLiteral("画像フォルダもまとめてバックアップしますか？"));
    m_database.transaction.commit();  // the backup holds what the user has seen saved
    transferwindows::ProgressWindow progress(this, QStringLiteral("バックアップ"));
    const transfer::BackupResult r =
        transfer::backupCardFolder(m_database.cardFolder().folder, file, pictures, progress.reporter(),
                                   m_database.cardFolder().picturesRoot);
    messages::show(
        this,
        QStringLiteral("名刺 %1 件をバックアップしました。\r\n%2%3")
            .arg(r.cards)
            .arg(file, pictures
                           ? QStringLiteral("\r\n画像 %1 件: %2").arg(r.pictureFiles).arg(r.picturesArchive)
                           : QString()));
}

void MainMenuWindow::onRestoreTriggered() {
    const QString file = transferwindows::fileChooser().openFile(
        this, QStringLiteral("復元"), QStringLiteral("バックアップ (*.fbk);;すべてのファイル (*)"));
    if (file.isEmpty())
        return;
    if (!messages::ask(this,
                       QStringLiteral("「%1」から名刺を復元します。\r\n今のカードファイルは"
                                      "「DATA.FDB.before-restore-日時」として残します。よろしいですか？")
                           .arg(file)))
        return;
    m_database.transaction.commit();
    // The database module connects again after the restore swapped the card file, whatever
    // happened; when that fails, the next statement tries again and shows the failure.
    const auto reconnect = qScopeGuard([this] {
        try {
            m_database.connection.open();
        } catch (const std::exception&) {
        }
    });
    transferwindows::ProgressWindow progress(this, QStringLiteral("復元"));
    const transfer::RestoreResult r = transfer::restoreCardFolder(
        m_database.cardFolder().folder, file, progress.reporter(), [this] { m_database.connection.close(); });
    messages::show(this, QStringLiteral("名刺 %1 件を復元しました。").arg(r.cards) +
                             (r.previousFile.isEmpty()
                                  ? QString()
                                  : QStringLiteral("\r\n前のカードファイル: %1").arg(r.previousFile)));
}

void MainMenuWindow::onExportTriggered() {
    const QString file =
        transferwindows::fileChooser().saveFile(this, QStringLiteral("書き出し"), QStringLiteral("名刺.csv"),
                                                QStringLiteral("CSV (*.csv);;vCard (*.vcf)"));
    if (file.isEmpty())
        return;
    const bool vcard = file.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive) ||
                       file.endsWith(QLatin1String(".vcard"), Qt::CaseInsensitive);
    const bool withDeleted = messages::ask(this, QStringLiteral("削除した名刺も書き出しますか？"));
    const int n = transfer::exportCards(
        m_database, file, vcard ? transfer::FileFormat::VCard : transfer::FileFormat::Csv, withDeleted);
    messages::show(this, QStringLiteral("名刺 %1 件を書き出しました。\r\n%2").arg(n).arg(file));
}

void MainMenuWindow::onImportTriggered() {
    const QString file = transferwindows::fileChooser().openFile(
        this, QStringLiteral("読み込み"),
        QStringLiteral("名刺のファイル (*.csv *.vcf *.vcard *.txt);;すべてのファイル (*)"));
    if (file.isEmpty())
        return;
    transferwindows::ImportWindow window(
        transfer::planImport(m_database, file), file,
        [this, file](const transfer::csv::Columns& columns) {
            return transfer::planImport(m_database, file, &columns);
        },
        this);
    messages::showModal(&window);
    if (window.result() != QDialog::Accepted)
        return;
    transferwindows::ProgressWindow progress(this, QStringLiteral("読み込み"));
    const int n =
        transfer::runImport(m_database, window.plan(), window.takenDuplicates(), progress.reporter());
    messages::show(this, QStringLiteral("名刺 %1 件を登録しました。").arg(n));
}

void MainMenuWindow::onIntakeTriggered() {
    IntakeStartWindow start(m_database.cardFolder().folder + QStringLiteral("/scans"), this);
    messages::showModal(&start);
    if (start.result() != QDialog::Accepted)
        return;
    IntakeWindow window(m_database, start.folder(), start.duplex(), this);
    messages::showModal(&window);
}

void MainMenuWindow::onDuplicatesTriggered() {
    DuplicatesWindow window(m_database, this);
    window.refresh();
    messages::showModal(&window);
}

void MainMenuWindow::onQuitTriggered() {
    close();
}

void MainMenuWindow::onVersionTriggered() {
    messages::showModal(m_version);
}

void MainMenuWindow::onFoldedSearchToggled() {
    m_searchOptions.foldKanaAndWidth = m_foldedSearchAction->isChecked();
    usersettings::setFoldedSearchOn(m_searchOptions.foldKanaAndWidth);
}
