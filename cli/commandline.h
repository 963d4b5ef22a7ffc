#pragma once
// What every subcommand shares: option parsing with the card folder option, the card folder's
// checks and lock, and turning failures into a message and an exit status.

#include "cardfolder.h"

#include <QCommandLineParser>

#include <functional>

class CardDatabase;

namespace cli {

constexpr int kDone = 0, kFailed = 1, kWrongUse = 2;

class Invocation final {
public:
    // positional: the names of the required arguments, for the help text and the count check; a
    // last name ending in "..." stands for one argument or more.
    Invocation(const char* command, const QStringList& positional);
    QCommandLineParser parser;

    // Parses; on wrong use prints why and returns false.
    bool parse(const QStringList& arguments);
    QString positional(int i) const { return parser.positionalArguments().value(i); }
    QString cardFolder() const;

private:
    QString m_command;
    QStringList m_positional;
};

// Checks that the card folder holds a card file and takes its lock, then runs the work with the
// lock held. Failures become a message on standard error and exit status 1.
// Restore may make the card file: it asks for the folder only. Work cut short by a termination
// signal is told with interruptedLine and exits with 128 + the signal.
// Work that reads no card file (a dry run) needs no card folder: NotUsed runs it with the same
// failure and signal handling only.
enum class CardFile { Required, MayBeMissing, NotUsed };
inline const QString kNothingWritten = QStringLiteral("中断しました。何も書き込んでいません。");
int withCardFolder(const QString& folder, const QString& busyHint, const std::function<void()>& work,
                   CardFile cardFile = CardFile::Required, const QString& interruptedLine = kNothingWritten);

// Runs work with a connection to the card folder's card file (inside withCardFolder).
void withCardFile(const QString& folder, const std::function<void(CardDatabase&)>& work);

}  // namespace cli
