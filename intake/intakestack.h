#pragma once
// A stack of card pictures in one folder: which pictures make one card (front and back), and the
// record kept in the folder of the cards already registered or passed over, so that taking the
// same folder in again starts where the user stopped.

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace intake {

// An intake refused; the text is the Japanese message for the user.
class IntakeError final : public std::runtime_error {
public:
    explicit IntakeError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// One card of the stack: the file names of its pictures in the folder, front first.
struct StackCard {
    QStringList pictures;
    bool operator==(const StackCard&) const = default;
};

// The record file every folder taken in keeps.
inline const QString kRecordFileName = QStringLiteral("取り込み済み.txt");

// Whether the name is a picture the intake reads (JPEG, PNG, GIF, bitmap by its ending).
bool isPictureName(const QString& name);

// The pictures in natural order (scan-2 before scan-10) made into cards. Pictures named as the
// two sides of one card go together whatever else is there: "…_1"/"…_2", "…-front"/"…-back"
// (also with "_", any letter case) and "…_表"/"…_裏". With duplex, the pictures left are taken
// as the sheets of a feeder scanned on both sides: two after another make one card. A side whose
// partner is missing is a card alone.
QList<StackCard> pairPictures(QStringList names, bool duplex);

// The pictures of the folder paired so. Throws IntakeError when the folder cannot be read or
// holds no picture.
QList<StackCard> listStack(const QString& folder, bool duplex);

// What became of a card of the stack.
enum class CardOutcome { Open, Registered, Skipped };

// The record of a folder: one line per card dealt with, appended and flushed to disk as it
// happens, so that a crash loses at most the line being written. A torn or unknown line is
// ignored when read.
class StackRecord final {
public:
    explicit StackRecord(const QString& folder);
    // Reads the record; a missing file is an empty record.
    void load();
    CardOutcome outcome(const StackCard& card, int* key = nullptr) const;
    // Appends the outcome; returns false (with the reason in error()) when the folder cannot be
    // written, in which case it is remembered for this intake only.
    bool note(const StackCard& card, CardOutcome outcome, int key = 0);
    QString error() const { return m_error; }
    QString path() const { return m_path; }

private:
    struct Entry {
        QStringList pictures;
        CardOutcome outcome = CardOutcome::Open;
        int key = 0;
    };
    QString m_path;
    QList<Entry> m_entries;
    QString m_error;
};

}  // namespace intake
