#pragma once
// Card databases for tests, made by the real creation tool in temporary folders, and card files
// of another make, as users bring them.

#include <QMap>
#include <QString>

namespace testdb {

enum class Kind {
    Ours,     // made by mkcarddb from the program's schema
    Foreign,  // made elsewhere: no primary key, case-sensitive collation, and a trigger that
              // gives every inserted row a new key, whatever key the insert supplies
};

// The kind the tests of this process use: TAVRONA_TEST_CARDFILE=foreign picks the foreign one,
// so that CTest can run one test program against both.
Kind defaultKind();

// Creates an empty card database at dir/data/DATA.FDB and returns its path. Each kind is made
// once per test program; later calls copy its file.
QString create(const QString& dir);
QString create(const QString& dir, Kind kind);

// The script that makes the foreign kind's table and trigger, for tests that vary it.
const char* foreignSchema();

// One stored card row: column name -> text, every column of the card table.
using CardRow = QMap<QString, QString>;
// Every card committed in the card folder's card file, by key, read through a connection of its
// own: what the program has not committed yet does not show.
QMap<int, CardRow> committedCards(const QString& cardFolder);

// Path of the creation tool, for tests that run it themselves.
QString toolPath();

}  // namespace testdb
