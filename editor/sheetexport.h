#pragma once
// The card sheet: one card with its pictures laid out on a new spreadsheet workbook.

class Tmst_car;

// Writes a new workbook for the card the editor shows and hands it to the desktop's
// spreadsheet program. Throws on a failure to write; the editor is only read.
void runSheetExport(Tmst_car& editor);
