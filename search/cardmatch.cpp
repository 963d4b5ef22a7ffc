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

std::array<QLatin1StringView, 2> foldedColumns(cards::SearchField field) {
    switch (field) {
        case cards::SearchField::Name:
            return {QLatin1StringView("SYASYU"), QLatin1StringView("HURIGANA")};
        case cards::SearchField::Organisation:
            return {QLatin1StringView("KATABAN"), QLatin1StringView("KYORI")};
        case cards::SearchField::Memo:
            break;
    }
    return {QLatin1StringView("MEMO"), QLatin1StringView()};
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
