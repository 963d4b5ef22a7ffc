#include "startup.h"

#include "dm1.h"
#include "formlook.h"
#include "kihon_ichiran.h"
#include "menu.h"
#include "messages.h"
#include "mst_car.h"
#include "varsion.h"
#include "visualstyle.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLockFile>
#include <QTranslator>

namespace {

const QString kStyleName = QStringLiteral("Aqua Light Slate");

void loadQtTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

}  // namespace

std::unique_ptr<QLockFile> claimCardFolder(const QString& folder) {
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral(".tavrona.lock")));
    lock->setStaleLockTime(0);  // only a dead owner makes the lock stale, never its age
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

void startProgram() {
    if (!applyVisualStyle(kStyleName))
        messages::error(nullptr, QStringLiteral("スタイル「%1」が見つかりません。").arg(kStyleName));
    menu = new Tmenu;
    DM1 = new TDM1(QDir::currentPath());
    messages::guarded(nullptr, [] { DM1->DataModuleCreate(); });
    varsion = new Tvarsion(menu);
    mst_car = new Tmst_car(menu);
    kihon_ichiran = new Tkihon_ichiran(menu);
    formlook::centreOnScreen(menu);
    menu->show();
}

void endProgram() {
    delete menu;  // owns the other windows
    menu = nullptr;
    varsion = nullptr;
    mst_car = nullptr;
    kihon_ichiran = nullptr;
    delete DM1;
    DM1 = nullptr;
}

int runTavrona(int argc, char** argv) {
    configureEmbeddedEngine();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tavrona"));
    loadQtTranslations(app);
    formlook::setupApplicationFont();

    // The database engine opens the card file exclusively; a second copy of the program in the
    // same card folder is told so plainly instead of failing on the database.
    const std::unique_ptr<QLockFile> folderLock = claimCardFolder(QDir::currentPath());
    if (!folderLock) {
        messages::show(nullptr, QStringLiteral("名刺管理はこのフォルダですでに起動しています。\r\n"
                                               "起動中のウィンドウをお使いください。"));
        return 1;
    }
    startProgram();
    const int rc = app.exec();
    endProgram();
    return rc;
}
