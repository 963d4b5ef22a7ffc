#pragma once
// The interface speaks Japanese whatever the desktop's locale (servers and containers often
// run with C.UTF-8): Qt's own dialogs, their dates and file types included.

// Makes Japanese the default locale (dates, numbers, file types' descriptions) and installs
// Qt's Japanese translations from Qt's translations folder, with texts Qt has since moved to
// other contexts looked up where its translations still have them.
void useJapaneseInterface();
