#pragma once
// A card folder in a temporary directory, the program composed over it as at start-up, and
// recording stand-ins for the message boxes and the desktop.

#include "desktop.h"
#include "dm1.h"
#include "fakes.h"
#include "mst_car.h"
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
        composeProgram(CardFolder::local(folder->path()));
        return true;
    }

    void tearDown() {
        endProgram();
        messages.reset();
        platform::setShell(nullptr);
        platform::setInputMethod(nullptr);
        shell.reset();
        inputMethod.reset();
        folder.reset();
    }

    // Every card as committed, read through a connection of its own: key -> column -> text.
    QMap<int, QMap<QString, QString>> committedCards() const {
        static const QStringList columns{"KEY1", "SYASYU", "HURIGANA", "KATABAN", "KYORI",   "KINGAKU",
                                         "MEMO", "LYEAR",  "LMONTH",   "LDAY",    "DEL_FLG1"};
        TDM1 reader(folder->path());
        reader.DataModuleCreate();
        TIBQuery& q = reader.IBQuery1;
        q.SQL.Clear();
        q.SQL.Add(QStringLiteral("SELECT ") + columns.join(QLatin1String(", ")) +
                  QStringLiteral(" FROM MST_CAR ORDER BY KEY1"));
        q.Open();
        QMap<int, QMap<QString, QString>> cards;
        q.Last();
        while (!q.Bof()) {
            QMap<QString, QString> row;
            for (const QString& c : columns)
                row[c] = q.FieldByName(c).AsString();
            cards[row["KEY1"].toInt()] = row;
            q.Prior();
        }
        q.Close();
        return cards;
    }

    QString cardFolder(const QString& key) const {
        return folder->filePath(QStringLiteral("image/%1/base").arg(key));
    }
};
