#pragma once

#include <QString>

// Applies the named visual style held among the program's resources; the name is matched
// without regard to letter case. False when no style of that name exists.
bool applyVisualStyle(const QString& name);
