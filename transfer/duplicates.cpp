#include "duplicates.h"

#include "carddatabase.h"
#include "phonedigits.h"
#include "picturefolder.h"
#include "privatefile.h"
#include "textfold.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace transfer {

namespace {

bool isPlus(QChar c) {
    return c == u'+' || c.unicode() == 0xFF0B;
}

bool isLocalPartChar(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'%' ||
           c == u'+' || c == u'-';
}

bool isDomainChar(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
}

bool subsetOf(const QList<int>& small, const QList<int>& large) {
    return std::includes(large.begin(), large.end(), small.begin(), small.end());
}

// The other cards' groups under one reason: each text shared by two cards or more.
void addGroups(QList<DuplicateGroup>& groups, const QHash<QString, QList<int>>& byText,
               DuplicateReason reason, bool showDetail) {
    QList<DuplicateGroup> found;
    for (auto it = byText.begin(); it != byText.end(); ++it) {
        QList<int> keys = it.value();
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        if (keys.size() > 1)
            found << DuplicateGroup{keys, reason, showDetail ? it.key() : QString()};
    }
    std::sort(found.begin(), found.end(),
              [](const DuplicateGroup& a, const DuplicateGroup& b) { return a.keys < b.keys; });
    groups += found;
}

QString keysLine(const QList<int>& keys) {
    QStringList texts;
    for (int k : keys)
        texts << QString::number(k);
    return texts.join(QLatin1Char(' '));
}

// Writes all of the bytes; false with errno set when the file takes no more.
bool writeAll(int fd, const char* bytes, ssize_t size) {
    for (ssize_t done = 0; done < size;) {
        const ssize_t w = ::write(fd, bytes + done, size_t(size - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

// Copies what is left to read of one file into another; false with errno set on a failure.
bool copyBytes(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || !writeAll(out, buffer, n))
            return false;
    }
}

// The pictures a merge copies, written down before each copy takes its name: a merge whose
// process dies before its commit leaves copies that the next start takes back (settleMerge). The
// file lives in the card folder, one line per copy: the copy's path and its source's, in hex.
class MergeJournal final {
public:
    MergeJournal(QString path, const QList<int>& retiredKeys)
        : m_path(std::move(path)), m_keys(retiredKeys) {}
    ~MergeJournal() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MergeJournal(const MergeJournal&) = delete;
    MergeJournal& operator=(const MergeJournal&) = delete;

    // Notes a copy about to take its name, on the disk before it takes it, or a temporary file of
    // the copy's that was just made (source empty); false with errno set.
    bool note(const QByteArray& copy, const QByteArray& source) {
        if (m_fd < 0 && !open())
            return false;
        const QByteArray line =
            copy.toHex() + ' ' + (source.isEmpty() ? QByteArray("-") : source.toHex()) + '\n';
        return writeAll(m_fd, line.constData(), line.size()) && ::fdatasync(m_fd) == 0;
    }
    // The merge is committed or taken back: nothing is left to settle.
    void remove() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        QFile::remove(m_path);
    }

private:
    bool open() {
        m_fd = privatefile::create(m_path);
        if (m_fd < 0)
            return false;
        QByteArray head;
        for (const int key : std::as_const(m_keys))
            head += QByteArray::number(key) + ' ';
        head += '\n';
        if (!writeAll(m_fd, head.constData(), head.size()) || ::fsync(m_fd) != 0)
            return false;
        // The journal's own name is on the disk before any copy it names.
        const QByteArray folder = QFile::encodeName(QFileInfo(m_path).absolutePath());
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }

    QString m_path;
    QList<int> m_keys;
    int m_fd = -1;
};

// Whether two files hold the same bytes.
bool sameContents(const QByteArray& a, const QByteArray& b) {
    QFile fa(QFile::decodeName(a)), fb(QFile::decodeName(b));
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 16) != fb.read(1 << 16))
            return false;
    }
    return true;
}

// A durable copy of source under a temporary name in folder, noted in the journal as soon as it
// exists; returns its path, or an empty text with errno set.
QByteArray temporaryCopy(const QByteArray& source, const QByteArray& folder, MergeJournal& journal) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {};
    struct stat st {};
    QByteArray temporary = folder + "/.merge-XXXXXX";
    const int out = ::fstat(in, &st) == 0 ? ::mkstemp(temporary.data()) : -1;
    if (out < 0) {
        const int openErrno = errno;
        ::close(in);
        errno = openErrno;
        return {};
    }
    // The copy keeps who may read it: a shared pictures folder's files stay readable to the team.
    ::fchmod(out, st.st_mode & 0777);
    bool ok = journal.note(temporary, {}) && copyBytes(in, out);
    const int savedErrno = errno;
    ok = ok && ::fsync(out) == 0;
    ::close(out);
    ::close(in);
    if (!ok) {
        ::unlink(temporary.constData());
        errno = savedErrno;
        return {};
    }
    return temporary;
}

// Gives the temporary copy of source the name raw in folder, or with "_2", "_3"... before its
// ending when that is taken, noting each name in the journal before taking it; link() never
// replaces a file. Returns the new entry's path, or an empty text with errno set.
QByteArray linkUnderFreeName(const QByteArray& temporary, const QByteArray& source, const QByteArray& folder,
                             const QByteArray& raw, MergeJournal& journal) {
    const qsizetype dot = raw.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? raw.left(dot) : raw;
    const QByteArray ending = dot > 0 ? raw.mid(dot) : QByteArray();
    for (int n = 1; n < 10000; ++n) {
        const QByteArray name = n == 1 ? raw : stem + '_' + QByteArray::number(n) + ending;
        QByteArray target = folder + '/' + name;
        struct stat taken {};
        if (::lstat(target.constData(), &taken) == 0)
            continue;
        if (!journal.note(target, source))
            return {};
        if (::link(temporary.constData(), target.constData()) == 0)
            return target;
        if (errno != EEXIST)
            return {};
    }
    errno = EEXIST;
    return {};
}

// Copies one file by its name's bytes into folder under a name not yet taken there; returns the
// new entry's path, or an empty text with errno set.
QByteArray copyUnderFreeName(const QByteArray& source, const QByteArray& folder, const QByteArray& raw,
                             MergeJournal& journal) {
    const QByteArray temporary = temporaryCopy(source, folder, journal);
    if (temporary.isEmpty())
        return {};
    QByteArray target = linkUnderFreeName(temporary, source, folder, raw, journal);
    const int linkErrno = errno;
    ::unlink(temporary.constData());
    errno = linkErrno;
    return target;
}

// The entries of a picture folder that a merge copies: its files, hidden ones left out. None
// when there is no folder.
QList<picturefolder::Entry> copiedEntries(const QString& folder) {
    QList<picturefolder::Entry> entries, files;
    if (!picturefolder::listEntries(folder, entries))
        return files;
    for (const picturefolder::Entry& e : std::as_const(entries)) {
        struct stat st {};
        if (!e.raw.startsWith('.') &&
            ::stat(picturefolder::nativePath(folder, e.raw).constData(), &st) == 0 && S_ISREG(st.st_mode))
            files << e;
    }
    return files;
}

// Copies the retired cards' pictures into the kept card's picture folder; each copy is added to
// copied (its path) and shown (its name there) as soon as it is made, so that a failure halfway
// leaves the list of what to take back complete.
void copyPictures(const CardFolder& cardFolder, const cards::MergePlan& plan, MergeJournal& journal,
                  QList<QByteArray>& copied, QStringList& shown) {
    const QString root = cardFolder.picturesRoot;
    if (root.isEmpty())
        return;
    QByteArray target;
    // Oldest card first, so that the numbers added on a clash follow the cards' order.
    QList<cards::KeyedCard> byKey = plan.retired;
    std::sort(byKey.begin(), byKey.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
    for (const cards::KeyedCard& c : std::as_const(byKey)) {
        const QString source = picturefolder::baseFolder(root, QString::number(c.key));
        for (const picturefolder::Entry& e : copiedEntries(source)) {
            if (target.isEmpty()) {
                const QString folder = picturefolder::prepare(root, plan.keptKey,
                                                              QDir(root) == QDir(cardFolder.folder)
                                                                  ? picturefolder::Access::OwnerOnly
                                                                  : picturefolder::Access::Shared);
                target = QFile::encodeName(folder);
                if (target.endsWith('/'))
                    target.chop(1);
            }
            const QByteArray made =
                copyUnderFreeName(picturefolder::nativePath(source, e.raw), target, e.raw, journal);
            if (made.isEmpty())
                throw TransferError(QStringLiteral("画像「%1」を番号 %2 の画像フォルダにコピーできません: %3")
                                        .arg(e.name)
                                        .arg(plan.keptKey)
                                        .arg(privatefile::systemReason(errno)));
            copied << made;
            shown << picturefolder::displayName(made.mid(target.size() + 1));
        }
    }
    if (!target.isEmpty()) {
        // The new names are on the disk before the cards that point at them are committed.
        const int dir = ::open(target.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
}

}  // namespace

QString reasonName(DuplicateReason reason) {
    switch (reason) {
        case DuplicateReason::SameNameAndOrganisation:
            return QStringLiteral("name-organisation");
        case DuplicateReason::SameEmail:
            return QStringLiteral("email");
        case DuplicateReason::SamePhone:
            return QStringLiteral("phone");
        case DuplicateReason::JobChange:
            return QStringLiteral("job-change");
    }
    return {};
}

QString reasonText(const DuplicateGroup& group) {
    switch (group.reason) {
        case DuplicateReason::SameNameAndOrganisation:
            return QStringLiteral("名前と組織名が同じ");
        case DuplicateReason::SameEmail:
            return QStringLiteral("メモに同じメールアドレス（%1）").arg(group.detail);
        case DuplicateReason::SamePhone:
            return QStringLiteral("メモに同じ電話番号（%1）").arg(group.detail);
        case DuplicateReason::JobChange:
            return QStringLiteral("名前とふりがなが同じで組織名が違う（転職？）");
    }
    return {};
}

bool mergedByDefault(DuplicateReason reason) {
    return reason != DuplicateReason::JobChange;
}

QString duplicateFold(const QString& text) {
    QString folded = search::foldForSearch(text);
    folded.removeIf([](QChar c) { return c.isSpace(); });
    return folded;
}

QStringList memoEmails(const QString& memo) {
    if (!memo.contains(u'@') && !memo.contains(QChar(0xFF20)))
        return {};
    // Folded, so that full-width addresses and capitals read as the plain lower-case one.
    const QString text = search::foldForSearch(memo);
    QStringList found;
    for (qsizetype at = text.indexOf(u'@'); at >= 0; at = text.indexOf(u'@', at + 1)) {
        qsizetype begin = at;
        while (begin > 0 && isLocalPartChar(text[begin - 1]))
            --begin;
        qsizetype end = at + 1;
        while (end < text.size() && isDomainChar(text[end]))
            ++end;
        while (end > at + 1 && (text[end - 1] == u'.' || text[end - 1] == u'-'))
            --end;  // a sentence's full stop after the address
        const QString domain = text.mid(at + 1, end - at - 1);
        if (begin == at || !domain.contains(u'.') || domain.startsWith(u'.'))
            continue;
        const QString address = text.mid(begin, end - begin);
        if (!found.contains(address))
            found << address;
    }
    return found;
}

QStringList memoPhones(const QString& memo) {
    QStringList found;
    const qsizetype size = memo.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (!search::isPhoneDigit(memo[i]))
            continue;
        if (i > 0 && (search::isPhoneDigit(memo[i - 1]) || memo[i - 1].isLetter()))
            continue;  // inside a word or a longer number
        // "+81" with or without a space after the plus.
        const bool plus =
            (i > 0 && isPlus(memo[i - 1])) || (i > 1 && memo[i - 1].isSpace() && isPlus(memo[i - 2]));
        qsizetype lastDigit = i;
        QString digits = search::phoneDigitsFrom(memo, i, lastDigit);
        i = lastDigit;
        if (plus) {
            if (!digits.startsWith(QLatin1String("81")))
                continue;  // numbers abroad are kept out: their lengths vary too much to tell
            digits = QLatin1Char('0') + digits.mid(2);
        }
        // Japanese numbers: ten digits (fixed lines) or eleven (mobiles, 050, 0120 sometimes ten).
        if (digits.startsWith(u'0') && (digits.size() == 10 || digits.size() == 11) &&
            !found.contains(digits))
            found << digits;
    }
    return found;
}

QList<DuplicateGroup> groupDuplicates(const QList<Card>& cards, const QList<QList<int>>& dismissed) {
    QHash<QString, QList<int>> byNameAndOrganisation, byNameAndReading, byEmail, byPhone;
    QHash<QString, QSet<QString>> organisationsOfPerson;
    byNameAndOrganisation.reserve(cards.size());
    for (const Card& card : cards) {
        if (card.deleted)
            continue;
        const int key = card.key.toInt();
        const QString name = duplicateFold(card.texts.name);
        if (!name.isEmpty()) {
            const QString organisation = duplicateFold(card.texts.organisation);
            byNameAndOrganisation[name + QChar(0x1F) + organisation] << key;
            const QString reading = duplicateFold(card.texts.reading);
            if (!reading.isEmpty()) {
                const QString person = name + QChar(0x1F) + reading;
                byNameAndReading[person] << key;
                organisationsOfPerson[person].insert(organisation);
            }
        }
        for (const QString& address : memoEmails(card.texts.memo))
            byEmail[address] << key;
        for (const QString& number : memoPhones(card.texts.memo))
            byPhone[number] << key;
    }
    for (auto it = organisationsOfPerson.begin(); it != organisationsOfPerson.end(); ++it) {
        if (it.value().size() < 2)
            byNameAndReading.remove(it.key());
    }

    QList<DuplicateGroup> all;
    addGroups(all, byNameAndOrganisation, DuplicateReason::SameNameAndOrganisation, false);
    addGroups(all, byEmail, DuplicateReason::SameEmail, true);
    addGroups(all, byPhone, DuplicateReason::SamePhone, true);
    addGroups(all, byNameAndReading, DuplicateReason::JobChange, false);

    QList<DuplicateGroup> shown;
    for (const DuplicateGroup& g : std::as_const(all)) {
        const auto holds = [&](const QList<int>& keys) { return subsetOf(g.keys, keys); };
        if (std::any_of(dismissed.begin(), dismissed.end(), holds))
            continue;
        if (std::any_of(shown.begin(), shown.end(), [&](const DuplicateGroup& s) { return holds(s.keys); }))
            continue;
        shown << g;
    }
    return shown;
}

QList<DuplicateGroup> findDuplicates(CardDatabase& dm, const QList<QList<int>>& dismissed) {
    settleMerge(dm);
    QList<Card> cards;
    forEachStoredCard(dm, false, [&](const Card& c) { cards << c; });
    return groupDuplicates(cards, dismissed);
}

QString dismissedFile(const CardFolder& folder) {
    return QDir(folder.folder).filePath(QStringLiteral("dismissed-duplicates.txt"));
}

QList<QList<int>> readDismissed(const CardFolder& folder) {
    QFile file(dismissedFile(folder));
    QList<QList<int>> groups;
    if (!file.open(QIODevice::ReadOnly))
        return groups;
    while (!file.atEnd()) {
        QList<int> keys;
        for (const QByteArray& word : file.readLine().simplified().split(' ')) {
            bool ok = false;
            const int key = word.toInt(&ok);
            if (ok)
                keys << key;
        }
        std::sort(keys.begin(), keys.end());
        if (keys.size() > 1)
            groups << keys;
    }
    return groups;
}

void dismissGroup(const CardFolder& folder, QList<int> keys) {
    std::sort(keys.begin(), keys.end());
    const QString path = dismissedFile(folder);
    QByteArray bytes;
    {
        QFile old(path);
        if (old.open(QIODevice::ReadOnly))
            bytes = old.readAll();
    }
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes += '\n';
    bytes += keysLine(keys).toUtf8() + '\n';
    // Written whole beside the old file, readable by the owner alone, and put in its place.
    QString partial;
    const int fd = privatefile::createBeside(path, &partial);
    bool ok = fd >= 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t w = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        ok = w > 0;
        done += ok ? w : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (ok && ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0)
        return;
    const int error = errno;
    if (fd >= 0)
        QFile::remove(partial);
    throw TransferError(
        QStringLiteral("「%1」に書き込めません: %2").arg(path, privatefile::systemReason(error)));
}

QList<cards::KeyedCard> loadForMerge(CardDatabase& dm, const QList<int>& keys) {
    if (!dm.connection.isConnected())
        dm.connection.open();
    QList<cards::KeyedCard> loaded;
    for (int key : keys) {
        const std::optional<cards::Card> card = cards::fetchCard(dm, key);
        if (!card) {
            dm.transaction.commit();
            throw TransferError(
                QStringLiteral("番号 %1 の名刺はありません。何も書き込んでいません。").arg(key));
        }
        loaded << cards::KeyedCard{key, *card};
    }
    dm.transaction.commit();
    return loaded;
}

QStringList mergedPictureNames(const CardFolder& folder, int key) {
    QStringList names;
    if (folder.picturesRoot.isEmpty())
        return names;
    const QString source = picturefolder::baseFolder(folder.picturesRoot, QString::number(key));
    for (const picturefolder::Entry& e : copiedEntries(source))
        names << e.name;
    return names;
}

MergeResult mergeDuplicates(CardDatabase& dm, const QList<int>& keys, int keepKey,
                            const QMap<cards::MergeBox, int>& chosen) {
    return mergeDuplicates(dm, loadForMerge(dm, keys), keepKey, chosen);
}

MergeResult mergeDuplicates(CardDatabase& dm, const QList<cards::KeyedCard>& loaded, int keepKey,
                            const QMap<cards::MergeBox, int>& chosen) {
    if (!dm.connection.isConnected())
        dm.connection.open();
    cards::MergePlan plan;
    try {
        plan = cards::planMerge(loaded, keepKey, chosen);
    } catch (const DbError& e) {
        throw TransferError(QString::fromUtf8(e.what()));
    }

    MergeResult result;
    result.keptKey = plan.keptKey;
    for (const cards::KeyedCard& c : plan.retired)
        result.retiredKeys << c.key;

    const CardFolder& cardFolder = dm.cardFolder();
    settleMerge(dm);
    MergeJournal journal(mergeJournalFile(cardFolder), result.retiredKeys);
    QList<QByteArray> copied;
    cards::MergeHooks hooks;
    hooks.beforeCommit = [&] { copyPictures(cardFolder, plan, journal, copied, result.copiedPictures); };
    hooks.undo = [&] {
        for (const QByteArray& path : std::as_const(copied))
            ::unlink(path.constData());
        copied.clear();
        result.copiedPictures.clear();
        journal.remove();
    };
    try {
        cards::mergeCards(dm, plan, hooks);
    } catch (const cards::CardChanged&) {
        throw TransferError(
            QStringLiteral("統合する名刺を、読み込んだ後にほかの人が変更しました。"
                           "読み直してからやり直してください。何も書き込んでいません。"));
    } catch (const cards::CardGone& e) {
        throw TransferError(QString::fromUtf8(e.what()));
    }
    journal.remove();
    return result;
}

QString mergeJournalFile(const CardFolder& folder) {
    return QDir(folder.folder).filePath(QStringLiteral(".merge-pictures"));
}

namespace {

// The copies a journal names, unless the merge it belongs to was committed: its retired cards
// are then all deleted (a merge takes only live cards).
QList<QPair<QByteArray, QByteArray>> copiesToTakeBack(CardDatabase& dm, const QByteArray& journal) {
    QList<QByteArray> lines = journal.split('\n');
    bool committed = true;
    for (const QByteArray& key : lines.takeFirst().split(' ')) {
        bool ok = false;
        const int k = key.toInt(&ok);
        if (!ok)
            continue;
        const std::optional<cards::Card> card = cards::fetchCard(dm, k);
        committed = committed && (!card || card->state == cards::CardState::Deleted);
    }
    QList<QPair<QByteArray, QByteArray>> copies;
    if (committed)
        return copies;
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> paths = line.split(' ');
        if (paths.size() == 2)
            copies.append({QByteArray::fromHex(paths[0]),
                           paths[1] == "-" ? QByteArray() : QByteArray::fromHex(paths[1])});
    }
    return copies;
}

}  // namespace

void settleMerge(CardDatabase& dm) {
    const QString path = mergeJournalFile(dm.cardFolder());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray journal = file.readAll();
    file.close();
    if (!journal.isEmpty()) {
        if (!dm.connection.isConnected())
            dm.connection.open();
        // A copy is removed only while it still holds its source's bytes: a file that someone
        // put there under that name since is never touched. A temporary file is the merge's own.
        for (const auto& [copy, source] : copiesToTakeBack(dm, journal)) {
            if (source.isEmpty() || sameContents(copy, source))
                ::unlink(copy.constData());
        }
    }
    QFile::remove(path);
}

}  // namespace transfer
