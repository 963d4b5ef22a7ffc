#pragma once
// Writing the stored cards to a CSV or vCard file, newest first.

#include "importer.h"

namespace transfer {

// Writes the live cards (and the deleted ones when asked) to path. The file is replaced only
// once it is complete; a failure leaves whatever was there. Returns the number of cards written.
int exportCards(CardDatabase& dm, const QString& path, FileFormat format, bool withDeleted);

}  // namespace transfer
