#pragma once
// Card databases for tests, made by the real creation tool in temporary folders.

#include <QString>

namespace testdb {

// Creates an empty card database at dir/data/DATA.FDB with the creation tool and returns its
// path. The tool runs once per test program; later calls copy its file.
QString create(const QString& dir);

// Path of the creation tool, for tests that run it themselves.
QString toolPath();

}  // namespace testdb
