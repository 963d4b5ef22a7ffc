#include "cardmatch.h"

#include "textfold.h"

#include <QSettings>

#include <utility>

namespace search {

namespace {

const QString kFoldedSearchKey = QStringLiteral("search/foldKanaAndWidth");

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrona"),
                     QStringLiteral("Tavrona"));
}

}  // namespace

FoldedKeyword::FoldedKeyword(const QString& keyword) : m_folded(foldForSearch(keyword)) {}

bool FoldedKeyword::foundIn(QString text) const {
    if (m_folded.isEmpty())
        return true;
    return foldForSearch(std::move(text)).contains(m_folded);
}

bool foldedSearchOn() {
    return settings().value(kFoldedSearchKey, false).toBool();
}

void setFoldedSearchOn(bool on) {
    QSettings s = settings();
    s.setValue(kFoldedSearchKey, on);
    s.sync();
}

}  // namespace search
