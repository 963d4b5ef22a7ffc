#include "cardmatch.h"

#include "textfold.h"
#include "usersettings.h"

#include <utility>

namespace search {

namespace {

const QString kFoldedSearchKey = QStringLiteral("search/foldKanaAndWidth");

}  // namespace

FoldedKeyword::FoldedKeyword(const QString& keyword) : m_folded(foldForSearch(keyword)) {}

bool FoldedKeyword::foundIn(QString text) const {
    if (m_folded.isEmpty())
        return true;
    return foldForSearch(std::move(text)).contains(m_folded);
}

bool foldedSearchOn() {
    return usersettings::UserSettings().value(kFoldedSearchKey, false).toBool();
}

void setFoldedSearchOn(bool on) {
    usersettings::UserSettings s;
    s.setValue(kFoldedSearchKey, on);
    s.sync();
}

}  // namespace search
