#include "sheetexport.h"

#include "mst_car.h"

void runSheetExport(Tmst_car&) {}
