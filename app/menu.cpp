#include "menu.h"

#include "backup.h"
#include "cardmatch.h"
#include "desktop.h"
#include "dm1.h"
#include "exporter.h"
#include "formlook.h"
#include "kihon_ichiran.h"
#include "messages.h"
#include "mst_car.h"
#include "transferwindows.h"
#include "usersettings.h"
#include "varsion.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>

#include <sys/stat.h>

Tmenu* menu = nullptr;

const QString Tmenu::kHomePage = QStringLiteral("http://www.olvemark.example/olvemark/");
const QString Tmenu::kManualPage =
    QStringLiteral("http://www.olvemark.example/olvemark/soft/Manual/Business_card001.html");

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

namespace {

// The card folder is the one the database module was made for.
QString cardFolder() {
    return DM1->cardFolder().folder;
}

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

// Connects the database module again after a restore swapped the card file, whatever happened.
struct ReconnectAfterwards {
    ~ReconnectAfterwards() {
        try {
            DM1->IBDatabase1.Open();
        } catch (const std::exception&) {
            // The next statement tries again and shows the failure.
        }
    }
};

}  // namespace

Tmenu::Tmenu(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("menu"));
    setWindowTitle(QStringLiteral("メインメニュー"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(384, 291);
    setCentralWidget(client);

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* n1 = bar->addMenu(QStringLiteral("ファイル"));
    n1->setObjectName(QStringLiteral("N1"));
    BackupAction = n1->addAction(QStringLiteral("バックアップ…"));
    BackupAction->setObjectName(QStringLiteral("BackupAction"));
    RestoreAction = n1->addAction(QStringLiteral("復元…"));
    RestoreAction->setObjectName(QStringLiteral("RestoreAction"));
    ExportAction = n1->addAction(QStringLiteral("書き出し…"));
    ExportAction->setObjectName(QStringLiteral("ExportAction"));
    ImportAction = n1->addAction(QStringLiteral("読み込み…"));
    ImportAction->setObjectName(QStringLiteral("ImportAction"));
    n1->addSeparator();
    N2 = n1->addAction(QStringLiteral("終了"));
    N2->setObjectName(QStringLiteral("N2"));
    QMenu* n3 = bar->addMenu(QStringLiteral("オプション"));
    n3->setObjectName(QStringLiteral("N3"));
    N5 = n3->addAction(QStringLiteral("かな・全角半角を区別せずに検索"));
    N5->setObjectName(QStringLiteral("N5"));
    N5->setCheckable(true);
    N5->setChecked(search::foldedSearchOn());
    n3->addSeparator();
    N4 = n3->addAction(QStringLiteral("バージョン"));
    N4->setObjectName(QStringLiteral("N4"));

    SpeedButton3 = formlook::flatButton(client, QStringLiteral("SpeedButton3"), QStringLiteral("名刺登録"),
                                        QRect(35, 38, 137, 78));
    SpeedButton1 = formlook::flatButton(client, QStringLiteral("SpeedButton1"), QStringLiteral("名刺一覧"),
                                        QRect(203, 38, 137, 78));
    SpeedButton8 = formlook::flatButton(client, QStringLiteral("SpeedButton8"), QStringLiteral("ヘルプ"),
                                        QRect(35, 142, 137, 78));
    SpeedButton6 = formlook::flatButton(client, QStringLiteral("SpeedButton6"), QStringLiteral("閉じる"),
                                        QRect(203, 142, 137, 78));

    QFrame* panel4 =
        formlook::captionPanel(client, QStringLiteral("Panel4"), QRect(35, 245, 305, 24), {}, {}, {});
    Label4 = new LinkLabel(QStringLiteral("olvemark :  ") + kHomePage, panel4);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setPalette(panel4->palette());
    QFont underlined = Label4->font();
    underlined.setUnderline(true);
    Label4->setFont(underlined);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->move(8, 5);
    Label4->adjustSize();

    messages::connectGuarded(SpeedButton3, &QPushButton::clicked, this, &Tmenu::SpeedButton3Click);
    messages::connectGuarded(SpeedButton1, &QPushButton::clicked, this, &Tmenu::SpeedButton1Click);
    messages::connectGuarded(SpeedButton8, &QPushButton::clicked, this, &Tmenu::SpeedButton8Click);
    messages::connectGuarded(SpeedButton6, &QPushButton::clicked, this, &Tmenu::SpeedButton6Click);
    messages::connectGuarded(Label4, &LinkLabel::clicked, this, &Tmenu::Label4Click);
    messages::connectGuarded(BackupAction, &QAction::triggered, this, &Tmenu::BackupActionClick);
    messages::connectGuarded(RestoreAction, &QAction::triggered, this, &Tmenu::RestoreActionClick);
    messages::connectGuarded(ExportAction, &QAction::triggered, this, &Tmenu::ExportActionClick);
    messages::connectGuarded(ImportAction, &QAction::triggered, this, &Tmenu::ImportActionClick);
    messages::connectGuarded(N2, &QAction::triggered, this, &Tmenu::N2Click);
    messages::connectGuarded(N4, &QAction::triggered, this, &Tmenu::N4Click);
    messages::connectGuarded(N5, &QAction::triggered, this, &Tmenu::N5Click);

    // The client area is fixed; the menu bar sits above it.
    setFixedSize(384, 291 + bar->sizeHint().height());
}

void Tmenu::SpeedButton3Click() {
    mst_car->resetToNewCard();
}

void Tmenu::SpeedButton1Click() {
    kihon_ichiran->openCardList();
}

void Tmenu::SpeedButton8Click() {
    platform::shell().openUrl(kManualPage, this);
}

void Tmenu::SpeedButton6Click() {
    close();
}

void Tmenu::Label4Click() {
    platform::shell().openUrl(kHomePage, this);
}

void Tmenu::BackupActionClick() {
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
        !DM1->cardFolder().onServer && onSameDisk(DM1->cardFolder().database, file)
            ? QStringLiteral(
                  "バックアップ先はカードファイルと同じディスクにあります。ディスクが故障すると"
                  "カードファイルとともに失われるため、別のディスクにも保存することをおすすめします。"
                  "\r\n\r\n")
            : QString();
    const bool pictures =
        messages::ask(this, sameDisk + QStringLiteral("画像フォルダもまとめてバックアップしますか？"));
    DM1->IBTransaction1.Commit();  // the backup holds what the user has seen saved
    transferwindows::ProgressWindow progress(this, QStringLiteral("バックアップ"));
    const transfer::BackupResult r =
        transfer::backupCardFolder(cardFolder(), file, pictures, progress.reporter());
    messages::show(
        this,
        QStringLiteral("名刺 %1 件をバックアップしました。\r\n%2%3")
            .arg(r.cards)
            .arg(file, pictures
                           ? QStringLiteral("\r\n画像 %1 件: %2").arg(r.pictureFiles).arg(r.picturesArchive)
                           : QString()));
}

void Tmenu::RestoreActionClick() {
    const QString file = transferwindows::fileChooser().openFile(
        this, QStringLiteral("復元"), QStringLiteral("バックアップ (*.fbk);;すべてのファイル (*)"));
    if (file.isEmpty())
        return;
    if (!messages::ask(this,
                       QStringLiteral("「%1」から名刺を復元します。\r\n今のカードファイルは"
                                      "「DATA.FDB.before-restore-日時」として残します。よろしいですか？")
                           .arg(file)))
        return;
    DM1->IBTransaction1.Commit();
    ReconnectAfterwards reconnect;
    transferwindows::ProgressWindow progress(this, QStringLiteral("復元"));
    const transfer::RestoreResult r = transfer::restoreCardFolder(cardFolder(), file, progress.reporter(),
                                                                  [] { DM1->IBDatabase1.Close(); });
    messages::show(this, QStringLiteral("名刺 %1 件を復元しました。").arg(r.cards) +
                             (r.previousFile.isEmpty()
                                  ? QString()
                                  : QStringLiteral("\r\n前のカードファイル: %1").arg(r.previousFile)));
}

void Tmenu::ExportActionClick() {
    const QString file =
        transferwindows::fileChooser().saveFile(this, QStringLiteral("書き出し"), QStringLiteral("名刺.csv"),
                                                QStringLiteral("CSV (*.csv);;vCard (*.vcf)"));
    if (file.isEmpty())
        return;
    const bool vcard = file.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive) ||
                       file.endsWith(QLatin1String(".vcard"), Qt::CaseInsensitive);
    const bool withDeleted = messages::ask(this, QStringLiteral("削除した名刺も書き出しますか？"));
    const int n = transfer::exportCards(
        *DM1, file, vcard ? transfer::FileFormat::VCard : transfer::FileFormat::Csv, withDeleted);
    messages::show(this, QStringLiteral("名刺 %1 件を書き出しました。\r\n%2").arg(n).arg(file));
}

void Tmenu::ImportActionClick() {
    const QString file = transferwindows::fileChooser().openFile(
        this, QStringLiteral("読み込み"),
        QStringLiteral("名刺のファイル (*.csv *.vcf *.vcard *.txt);;すべてのファイル (*)"));
    if (file.isEmpty())
        return;
    transferwindows::ImportWindow window(
        transfer::planImport(*DM1, file), file,
        [this, file](const transfer::csv::Columns& columns) {
            return transfer::planImport(*DM1, file, &columns);
        },
        this);
    messages::showModal(&window);
    if (window.result() != QDialog::Accepted)
        return;
    transferwindows::ProgressWindow progress(this, QStringLiteral("読み込み"));
    const int n = transfer::runImport(*DM1, window.plan(), window.takenDuplicates(), progress.reporter());
    messages::show(this, QStringLiteral("名刺 %1 件を登録しました。").arg(n));
}

void Tmenu::N2Click() {
    close();
}

void Tmenu::N4Click() {
    messages::showModal(varsion);
}

void Tmenu::N5Click() {
    search::setFoldedSearchOn(N5->isChecked());
}
