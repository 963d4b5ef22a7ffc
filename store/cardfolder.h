#pragma once
// Where one card file lives: the card folder, the database it uses and the pictures' root.

#include <QString>

// The card folder is the program's working directory at start-up. Its database is the embedded
// file data/DATA.FDB below it and its pictures are image/<key>/base below it, unless the folder's
// settings file (tavrona.ini) or the command line points at a database on a Firebird server and a
// shared pictures folder, for several people working on one card file.
struct CardFolder {
    QString folder;        // absolute path of the card folder
    QString database;      // the connection string: a bare path (embedded) or HOST[/PORT]:PATH
    QString picturesRoot;  // the folder that holds image/<key>/base
    bool onServer = false;

    // The default: everything below the folder, the database opened by the embedded engine.
    static CardFolder local(const QString& folder);
    // The folder's settings file, then the options (empty when not given), over the default.
    // The settings file has a [team] section with database= and pictures=.
    static CardFolder resolve(const QString& folder, const QString& databaseOption = {},
                              const QString& picturesOption = {});

    // The folder below a pictures root that holds every card's picture folder <key>/base.
    static QString imageFolder(const QString& picturesRoot);

    QString settingsFile() const;
    QString sheetsFolder() const;
};
