#include "commands.h"

#include "backup.h"
#include "carddatabase.h"
#include "cards.h"
#include "cardsearch.h"
#include "commandline.h"
#include "duplicates.h"
#include "engineprocess.h"
#include "exporter.h"
#include "importer.h"
#include "intakecards.h"
#include "intakereader.h"
#include "scanreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cstdio>
#include <thread>

namespace cli {

namespace {

const QString kCloseProgramFirst = QStringLiteral("名刺管理を終了してからやり直してください。");

int exportCommand(const QStringList& arguments) {
    Invocation call("export", {QStringLiteral("FILE")});
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("csv または vcard"),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption deleted(QStringLiteral("deleted"), QStringLiteral("削除した名刺も書き出す"));
    call.parser.addOptions({format, deleted});
    if (!call.parse(arguments))
        return kWrongUse;
    const QString name = call.parser.value(format).toLower();
    if (name != QLatin1String("csv") && name != QLatin1String("vcard")) {
        complain(QStringLiteral("--format には csv か vcard を指定してください。"));
        return kWrongUse;
    }
    const transfer::FileFormat fileFormat =
        name == QLatin1String("csv") ? transfer::FileFormat::Csv : transfer::FileFormat::VCard;
    const QString file = call.positional(0);
    return withCardFolder(
        call.cardFolder(), kCloseProgramFirst,
        [&] {
            withCardFile(call.cardFolder(), [&](CardDatabase& dm) {
                const int n = transfer::exportCards(dm, file, fileFormat, call.parser.isSet(deleted));
                say(QStringLiteral("%1 件の名刺を「%2」に書き出しました。").arg(n).arg(file));
            });
        },
        CardFile::Required, QStringLiteral("中断しました。ファイルは書き出していません。"));
}

int importCommand(const QStringList& arguments) {
    Invocation call("import", {QStringLiteral("FILE")});
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("読むだけで登録しない"));
    const QCommandLineOption allow(QStringLiteral("allow-duplicates"),
                                   QStringLiteral("登録済みと思われる名刺も登録する"));
    call.parser.addOptions({dryRun, allow});
    if (!call.parse(arguments))
        return kWrongUse;
    const QString file = call.positional(0);
    return withCardFolder(call.cardFolder(), kCloseProgramFirst, [&] {
        withCardFile(call.cardFolder(), [&](CardDatabase& dm) {
            const transfer::ImportPlan plan = transfer::planImport(dm, file);
            say(QStringLiteral("「%1」: %2（%3）、名刺 %4 件")
                    .arg(file,
                         plan.format == transfer::FileFormat::Csv ? QStringLiteral("CSV")
                                                                  : QStringLiteral("vCard"),
                         plan.encoding)
                    .arg(plan.cardCount));
            // Where each column goes, as the window shows it; the window lets the user change it.
            if (plan.format == transfer::FileFormat::Csv) {
                for (const transfer::csv::ColumnTarget& t : plan.columns.targets) {
                    if (!t.header.trimmed().isEmpty())
                        say(QStringLiteral("列「%1」→ %2").arg(t.header, transfer::csv::describe(t)));
                }
            }
            for (const QString& note : plan.leftOutNotes)
                say(QStringLiteral("読み込まないもの: %1").arg(note));
            const bool takeAll = call.parser.isSet(allow);
            for (const transfer::Card& c : plan.duplicateCards) {
                say(QStringLiteral("登録済みと思われる名刺: %1 %2 / %3%4")
                        .arg(transfer::originText(plan, c), c.texts.name, c.texts.organisation,
                             takeAll ? QString() : QStringLiteral("（読み込みません）")));
            }
            const QSet<int> taken =
                takeAll ? QSet<int>(plan.duplicates.begin(), plan.duplicates.end()) : QSet<int>();
            const int count = int(plan.cardCount - plan.duplicates.size() + taken.size());
            if (call.parser.isSet(dryRun)) {
                say(QStringLiteral("確認のみ: %1 件を登録できます。何も書き込んでいません。").arg(count));
                return;
            }
            const int written = transfer::runImport(dm, plan, taken);
            say(QStringLiteral("%1 件の名刺を登録しました。").arg(written));
        });
    });
}

// Each step of a long action on its own line; the percentages are for the window's progress bar.
void sayProgress(const QString& line, int) {
    say(line);
}

int backupCommand(const QStringList& arguments) {
    Invocation call("backup", {QStringLiteral("FILE.fbk")});
    const QCommandLineOption pictures(QStringLiteral("with-pictures"),
                                      QStringLiteral("画像フォルダも FILE.pictures.tar にまとめる"));
    call.parser.addOption(pictures);
    if (!call.parse(arguments))
        return kWrongUse;
    const QString file = call.positional(0);
    // The engine opens the card file for one process only: while the program runs, its own menu
    // makes the backup.
    return withCardFolder(
        call.cardFolder(),
        QStringLiteral(
            "名刺管理の起動中は、メニュー「ファイル」の「バックアップ…」でバックアップしてください。"),
        [&] {
            const transfer::BackupResult r =
                transfer::backupCardFolder(call.cardFolder(), file, call.parser.isSet(pictures), sayProgress);
            say(QStringLiteral("バックアップしました（名刺 %1 件）。").arg(r.cards));
        },
        CardFile::Required,
        QStringLiteral(
            "中断しました。バックアップは作っていません（前からあるバックアップはそのままです）。"));
}

int restoreCommand(const QStringList& arguments) {
    Invocation call("restore", {QStringLiteral("FILE.fbk")});
    if (!call.parse(arguments))
        return kWrongUse;
    const QString file = call.positional(0);
    return withCardFolder(
        call.cardFolder(), kCloseProgramFirst,
        [&] { transfer::restoreCardFolder(call.cardFolder(), file, sayProgress); }, CardFile::MayBeMissing,
        QStringLiteral("中断しました。復元していません。カードファイルはそのままです。"));
}

// Cards whose field holds the keyword, one a line: the key, a tab and the name, in the card
// list's order. --fold searches as the list does with kana and width ignored.
int findCommand(const QStringList& arguments) {
    Invocation call("find", {QStringLiteral("KEYWORD")});
    const QCommandLineOption fold(
        QStringLiteral("fold"),
        QStringLiteral("かな・全角半角・大文字小文字を区別せず、ふりがなや部署も探す"));
    const QCommandLineOption field(QStringLiteral("field"),
                                   QStringLiteral("name、organisation または memo（既定は name）"),
                                   QStringLiteral("FIELD"), QStringLiteral("name"));
    const QCommandLineOption deleted(QStringLiteral("deleted"), QStringLiteral("削除した名刺から探す"));
    call.parser.addOptions({fold, field, deleted});
    if (!call.parse(arguments))
        return kWrongUse;
    const QString fieldName = call.parser.value(field).toLower();
    cards::SearchField searchField = cards::SearchField::Name;
    if (fieldName == QLatin1String("organisation"))
        searchField = cards::SearchField::Organisation;
    else if (fieldName == QLatin1String("memo"))
        searchField = cards::SearchField::Memo;
    else if (fieldName != QLatin1String("name")) {
        complain(QStringLiteral("--field には name、organisation、memo のどれかを指定してください。"));
        return kWrongUse;
    }
    const QString keyword = call.positional(0);
    const cards::CardState leftOut =
        call.parser.isSet(deleted) ? cards::CardState::Live : cards::CardState::Deleted;
    return withCardFolder(call.cardFolder(), kCloseProgramFirst, [&] {
        withCardFile(call.cardFolder(), [&](CardDatabase& dm) {
            for (const search::FoundCard& card :
                 search::findCards(dm.statement, searchField, keyword, call.parser.isSet(fold), leftOut)) {
                // A line break or tab inside a name would split the card over two lines or fields.
                QString name = card.name;
                for (QChar& c : name) {
                    if (c == u'\t' || c == u'\r' || c == u'\n')
                        c = u' ';
                }
                say(card.key + QLatin1Char('\t') + name);
            }
        });
    });
}

// Waits for reading done on other threads to finish. A termination signal calls `cancel`, and
// once `wait` returns, ends the command (through withCardFolder's handling of signals).
void waitForReading(const std::function<bool()>& finished, const std::function<void()>& cancel,
                    const std::function<void()>& wait) {
    while (!finished() && !engineprocess::interruptingSignal())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (engineprocess::interruptingSignal())
        cancel();
    wait();
    engineprocess::throwIfInterrupted();
}

// Reads a card's picture on a thread of its own, so that a termination signal stops the reading
// rather than waiting for it; it touches no card file, so it needs no card folder.
int readScanCommand(const QStringList& arguments) {
    Invocation call("read-scan", {QStringLiteral("PICTURE")});
    if (!call.parse(arguments))
        return kWrongUse;
    int status = kFailed;
    const int code = withCardFolder(
        {}, {},
        [&] {
            scan::ScanProgress progress;
            QStringList out, err;
            std::atomic<bool> done{false};
            std::thread reading([&] {
                status = scan::readScanCommand(
                             call.positional(0), [&](const QString& line) { out << line; },
                             [&](const QString& line) { err << line; }, &progress) == 0
                             ? kDone
                             : kFailed;
                done = true;
            });
            waitForReading([&] { return done.load(); }, [&] { progress.cancel = true; },
                           [&] { reading.join(); });
            for (const QString& line : out)
                say(line);
            for (const QString& line : err)
                complain(line);
        },
        CardFile::NotUsed, QStringLiteral("中断しました。"));
    return code == kDone ? status : code;
}

// Reads the wanted cards of the stack with a worker per core; a termination signal stops the
// reading and ends the command.
QList<intake::CardReading> readStack(const QString& folder, const QList<intake::StackCard>& stack,
                                     const QList<bool>& wanted) {
    intake::StackReader reader(folder, stack);
    reader.start(wanted);
    waitForReading([&] { return reader.finished(); }, [&] { reader.cancel(); }, [&] { reader.wait(); });
    QList<intake::CardReading> readings;
    for (qsizetype i = 0; i < stack.size(); ++i)
        readings << reader.reading(int(i));
    return readings;
}

// Reads every picture of a folder not yet taken in; --dry-run prints the cards as the CSV export
// writes them, else the cards that are not likely stored already are registered and their keys
// printed, one a line. What could not be read or was left out is told on standard error.
int intakeCommand(const QStringList& arguments) {
    Invocation call("intake", {QStringLiteral("FOLDER")});
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("読むだけで登録しない"));
    const QCommandLineOption duplex(QStringLiteral("duplex"),
                                    QStringLiteral("両面: 画像を 2 枚ずつ 1 枚の名刺の表と裏とする"));
    call.parser.addOptions({dryRun, duplex});
    if (!call.parse(arguments))
        return kWrongUse;
    const QString folder = call.positional(0);
    const bool dry = call.parser.isSet(dryRun);
    const QDate today = QDate::currentDate();
    const auto work = [&](CardDatabase* dm) {
        const QList<intake::StackCard> stack = intake::listStack(folder, call.parser.isSet(duplex));
        intake::StackRecord record(folder);
        record.load();
        QList<bool> wanted;
        for (const intake::StackCard& card : stack)
            wanted << (record.outcome(card) == intake::CardOutcome::Open);
        const QList<intake::CardReading> readings = readStack(folder, stack, wanted);
        intake::StoredCards stored;
        if (dm)
            stored.load(*dm);
        QByteArray csv = transfer::csv::header();
        for (qsizetype i = 0; i < stack.size(); ++i) {
            if (!wanted[i])
                continue;
            const QString pictures = stack[i].pictures.join(QStringLiteral("・"));
            const intake::CardReading& r = readings[i];
            if (!r.error.isEmpty())
                complain(QStringLiteral("%1: %2").arg(pictures, r.error));
            transfer::Card card;
            card.texts = intake::cardTexts(r.boxes, today);
            if (!dm) {
                transfer::csv::appendRow(csv, card);
                continue;
            }
            if (card.texts.name.isEmpty() && card.texts.organisation.isEmpty()) {
                complain(QStringLiteral("%1: 名前も組織名も読み取れないため登録しません。").arg(pictures));
                continue;
            }
            if (const int other = stored.likelyDuplicate(card.texts)) {
                complain(QStringLiteral("%1: 登録済みの名刺（番号 %2）と名前・組織名が同じため登録しません。")
                             .arg(pictures)
                             .arg(other));
                continue;
            }
            engineprocess::throwIfInterrupted();
            const int key = intake::registerCard(*dm, folder, stack[i], card.texts);
            stored.add(card.texts, key);
            if (!record.note(stack[i], intake::CardOutcome::Registered, key))
                complain(QStringLiteral("「%1」に記録できません: %2").arg(record.path(), record.error()));
            say(QString::number(key));
        }
        if (!dm) {
            std::fwrite(csv.constData(), 1, std::size_t(csv.size()), stdout);
            std::fflush(stdout);
        }
    };
    if (dry)
        return withCardFolder(
            folder, {}, [&] { work(nullptr); }, CardFile::NotUsed);
    return withCardFolder(
        call.cardFolder(), kCloseProgramFirst,
        [&] { withCardFile(call.cardFolder(), [&](CardDatabase& dm) { work(&dm); }); }, CardFile::Required,
        QStringLiteral("中断しました。番号を表示した名刺だけが登録されています。"));
}

// Keys given on the command line, each a card number; a text that is none is refused.
bool readKeys(const QStringList& texts, QList<int>& keys) {
    for (const QString& text : texts) {
        bool ok = false;
        const int key = text.toInt(&ok);
        if (!ok || key <= 0) {
            complain(QStringLiteral("「%1」は名刺の番号として読めません。").arg(text));
            return false;
        }
        keys << key;
    }
    return true;
}

// The groups of live cards that are likely one person, one a line: the keys, a tab and the
// reason; --json writes each group as one JSON object a line instead. --dismiss KEY... remembers
// that the cards are different people, so that their group is not shown again.
int duplicatesCommand(const QStringList& arguments) {
    Invocation call("duplicates", {});
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("1 グループ 1 行の JSON で書く"));
    const QCommandLineOption dismiss(QStringLiteral("dismiss"),
                                     QStringLiteral("指定した番号の名刺は別人として、今後は表示しない"),
                                     QStringLiteral("KEY,KEY..."));
    call.parser.addOptions({json, dismiss});
    if (!call.parse(arguments))
        return kWrongUse;
    QList<int> dismissed;
    if (call.parser.isSet(dismiss)) {
        if (!readKeys(call.parser.value(dismiss).split(QLatin1Char(','), Qt::SkipEmptyParts), dismissed))
            return kWrongUse;
        if (dismissed.size() < 2) {
            complain(
                QStringLiteral("--dismiss には名刺の番号を 2 つ以上、コンマで区切って指定してください。"));
            return kWrongUse;
        }
    }
    return withCardFolder(call.cardFolder(), kCloseProgramFirst, [&] {
        withCardFile(call.cardFolder(), [&](CardDatabase& dm) {
            if (!dismissed.isEmpty()) {
                transfer::dismissGroup(dm.cardFolder(), dismissed);
                say(QStringLiteral("別人として記録しました。このグループは今後表示しません。"));
                return;
            }
            for (const transfer::DuplicateGroup& g :
                 transfer::findDuplicates(dm, transfer::readDismissed(dm.cardFolder()))) {
                QStringList keys;
                QJsonArray keyArray;
                for (int k : g.keys) {
                    keys << QString::number(k);
                    keyArray << k;
                }
                if (call.parser.isSet(json)) {
                    const QJsonObject line{{QStringLiteral("keys"), keyArray},
                                           {QStringLiteral("reason"), transfer::reasonName(g.reason)},
                                           {QStringLiteral("text"), transfer::reasonText(g)},
                                           {QStringLiteral("merge"), transfer::mergedByDefault(g.reason)}};
                    say(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
                } else {
                    say(keys.join(QLatin1Char(' ')) + QLatin1Char('\t') + transfer::reasonText(g));
                }
            }
        });
    });
}

// Merges the cards into one: the kept card (the oldest unless --keep says) takes each box's
// newest non-empty text and the others' memos; the others are marked deleted.
int mergeCommand(const QStringList& arguments) {
    Invocation call("merge", {QStringLiteral("KEY"), QStringLiteral("KEY...")});
    const QCommandLineOption keep(QStringLiteral("keep"),
                                  QStringLiteral("残す名刺の番号（既定は最も古い番号）"),
                                  QStringLiteral("KEY"));
    call.parser.addOption(keep);
    if (!call.parse(arguments))
        return kWrongUse;
    QList<int> keys;
    if (!readKeys(call.parser.positionalArguments(), keys))
        return kWrongUse;
    QList<int> kept;
    if (call.parser.isSet(keep) && !readKeys({call.parser.value(keep)}, kept))
        return kWrongUse;
    return withCardFolder(call.cardFolder(), kCloseProgramFirst, [&] {
        withCardFile(call.cardFolder(), [&](CardDatabase& dm) {
            const transfer::MergeResult r = transfer::mergeDuplicates(dm, keys, kept.value(0));
            QStringList retired;
            for (int k : r.retiredKeys)
                retired << QString::number(k);
            say(QStringLiteral("番号 %1 の名刺に統合しました（削除した名刺: %2）。")
                    .arg(r.keptKey)
                    .arg(retired.join(QStringLiteral("、"))));
            for (const QString& name : r.copiedPictures)
                say(QStringLiteral("画像をコピーしました: %1").arg(name));
        });
    });
}

}  // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"backup", "FILE.fbk [--with-pictures]", "カードファイルをバックアップする（画像フォルダも選べる）",
         backupCommand},
        {"restore", "FILE.fbk", "バックアップから戻す（前のカードファイルは残す）", restoreCommand},
        {"export", "--format csv|vcard FILE [--deleted]", "名刺を CSV か vCard に書き出す（新しい順）",
         exportCommand},
        {"import", "FILE [--dry-run] [--allow-duplicates]", "CSV か vCard の名刺を登録する", importCommand},
        {"find", "[--fold] [--field name|organisation|memo] [--deleted] KEYWORD",
         "名刺を探して、キーと名前を一覧の順に一行ずつ書く", findCommand},
        {"duplicates", "[--json] [--dismiss KEY,KEY...]",
         "同じ人と思われる名刺のグループを、番号と理由で一行ずつ書く", duplicatesCommand},
        {"merge", "KEY KEY... [--keep KEY]", "名刺を 1 枚に統合し、ほかは削除済みにする", mergeCommand},
        {"intake", "FOLDER [--dry-run] [--duplex]",
         "フォルダの名刺の画像をすべて読み取り、登録済みと思われない名刺を登録して番号を表示する"
         "（--dry-run: 登録せずに CSV で表示する）",
         intakeCommand},
        {"read-scan", "PICTURE", "名刺の画像を読み取り、1 行ごとに入れる欄の候補・タブ・文字を表示する",
         readScanCommand},
    };
    return table;
}

void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void complain(const QString& line) {
    std::fputs((QStringLiteral("tavrona-cards: ") + line + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

int main(const QStringList& arguments) {
    auto usage = [] {
        QString text = QStringLiteral("使い方: tavrona-cards COMMAND ... [--card-folder DIR]\n");
        for (const Command& c : commands())
            text += QStringLiteral("  %1 %2\n      %3\n")
                        .arg(QLatin1String(c.name), QLatin1String(c.usage), QString::fromUtf8(c.summary));
        return text;
    };
    // The command is the first word that is neither an option nor the card folder option's value,
    // so that "--card-folder DIR" may also come first.
    QStringList rest = arguments.mid(1);
    QString name;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == QLatin1String("--help") || rest[i] == QLatin1String("-h") ||
            rest[i] == QLatin1String("help")) {
            std::fputs(usage().toUtf8().constData(), stdout);
            return kDone;
        }
        if (rest[i] == QLatin1String("--card-folder")) {
            ++i;
        } else if (!rest[i].startsWith(QLatin1Char('-'))) {
            name = rest.takeAt(i);
            break;
        }
    }
    for (const Command& c : commands()) {
        if (name == QLatin1String(c.name))
            return c.run(rest);
    }
    complain(name.isEmpty() ? QStringLiteral("コマンドを指定してください。")
                            : QStringLiteral("「%1」というコマンドはありません。").arg(name));
    std::fputs(usage().toUtf8().constData(), stderr);
    return kWrongUse;
}

}  // namespace cli
