#pragma once
// A card folder in a temporary directory, the program composed over it as at start-up, and
// recording stand-ins for the message boxes and the desktop.

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "desktop.h"
#include "fakes.h"
#include "programundertest.h"
#include "startup.h"
#include "testdb.h"

#include <QDir>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

struct EditorFixture {
    // A fresh card folder per test function.
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<MessageRecorder> messages;
    std::unique_ptr<RecordingShell> shell;
    std::unique_ptr<RecordingInputMethod> inputMethod;

    bool setUp() {
        folder = std::make_unique<QTemporaryDir>();
        if (!folder->isValid())
            return false;
        testdb::create(folder->path());
        messages = std::make_unique<MessageRecorder>();
        shell = std::make_unique<RecordingShell>();
        platform::setShell(shell.get());
        inputMethod = std::make_unique<RecordingInputMethod>();
        platform::setInputMethod(inputMethod.get());
        QStandardPaths::setTestModeEnabled(true);  // the program's settings apart from the user's
        program = composeProgram(CardFolder::local(folder->path()));
        return true;
    }

    void tearDown() {
        program.reset();
        messages.reset();
        platform::setShell(nullptr);
        platform::setInputMethod(nullptr);
        shell.reset();
        inputMethod.reset();
        folder.reset();
    }

    // Every card as committed, read through a connection of its own: key -> column -> text.
    QMap<int, testdb::CardRow> committedCards() const { return testdb::committedCards(folder->path()); }

    QString cardFolder(const QString& key) const {
        return folder->filePath(QStringLiteral("image/%1/base").arg(key));
    }
};
