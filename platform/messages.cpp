#include "messages.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace messages {

namespace {

Handler* g_handler = nullptr;

QString applicationTitle() {
    return QStringLiteral("名刺管理");
}

// Kana, kanji and the Japanese punctuation and full-width forms.
bool isJapanese(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF01 && u <= 0xFF9F);
}

// What the usual failures of files and folders mean, by the system's own English words.
QString explanationOf(const QString& text) {
    static const std::pair<const char*, const char*> known[] = {
        {"Permission denied", "ファイルまたはフォルダにアクセスする権限がありません。"},
        {"Operation not permitted", "この操作は許可されていません。"},
        {"No such file or directory", "ファイルまたはフォルダが見つかりません。"},
        {"No space left on device", "ディスクがいっぱいです。"},
        {"Disk quota exceeded", "ディスクの使用量の上限を超えました。"},
        {"Read-only file system", "読み取り専用の場所には書き込めません。"},
        {"Is a directory", "ファイルではなくフォルダです。"},
        {"Not a directory", "フォルダではありません。"},
        {"File exists", "同じ名前のファイルがすでにあります。"},
        {"Input/output error", "ディスクの読み書きに失敗しました。"},
    };
    for (const auto& [english, japanese] : known) {
        if (text.contains(QLatin1String(english), Qt::CaseInsensitive))
            return QString::fromUtf8(japanese);
    }
    return QStringLiteral("処理を完了できませんでした。");
}

}  // namespace

QString withJapaneseFirstLine(const QString& text) {
    // The first line that shows something: a box may begin with an empty line for its layout.
    QString firstLine;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        firstLine = line.trimmed();
        if (!firstLine.isEmpty())
            break;
    }
    if (firstLine.isEmpty() || std::any_of(firstLine.begin(), firstLine.end(), isJapanese))
        return text;
    return explanationOf(text) + QStringLiteral("\n") + text;
}

void setHandler(Handler* handler) {
    g_handler = handler;
}

void show(QWidget* parent, const QString& shownText) {
    const QString text = withJapaneseFirstLine(shownText);
    if (g_handler)
        return g_handler->show(parent, text);
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

bool ask(QWidget* parent, const QString& text) {
    if (g_handler)
        return g_handler->ask(parent, text);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void error(QWidget* parent, const QString& shownText) {
    const QString text = withJapaneseFirstLine(shownText);
    if (g_handler)
        return g_handler->error(parent, text);
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

void showModal(QDialog* dialog) {
    if (g_handler)
        return g_handler->showModal(dialog);
    dialog->exec();
}

}  // namespace messages
