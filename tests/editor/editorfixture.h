#pragma once
// A card folder in a temporary directory (database and working directory), the editor window
// over it, and recording stand-ins for the message boxes and the desktop.

#include "desktop.h"
#include "dm1.h"
#include "fakes.h"
#include "mst_car.h"
#include "testdb.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>

#include <memory>

struct EditorFixture {
    // A fresh card folder per test function.
    std::unique_ptr<QTemporaryDir> folder;
    QString previousDir = QDir::currentPath();
    std::unique_ptr<MessageRecorder> messages;
    RecordingShell* shell = nullptr;
    RecordingInputMethod* inputMethod = nullptr;

    bool setUp() {
        folder = std::make_unique<QTemporaryDir>();
        if (!folder->isValid())
            return false;
        testdb::create(folder->path());
        QDir::setCurrent(folder->path());
        messages = std::make_unique<MessageRecorder>();
        auto s = std::make_unique<RecordingShell>();
        shell = s.get();
        platform::setShell(std::move(s));
        auto im = std::make_unique<RecordingInputMethod>();
        inputMethod = im.get();
        platform::setInputMethod(std::move(im));
        DM1 = new TDM1(folder->path());
        DM1->DataModuleCreate();
        mst_car = new Tmst_car;
        return true;
    }

    void tearDown() {
        delete mst_car;
        mst_car = nullptr;
        delete DM1;
        DM1 = nullptr;
        messages.reset();
        platform::setShell(nullptr);
        platform::setInputMethod(nullptr);
        QDir::setCurrent(previousDir);
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
