#include "cardmatch.h"

#include "textfold.h"

#include <utility>

namespace search {

FoldedKeyword::FoldedKeyword(const QString& keyword) : m_folded(foldForSearch(keyword)) {}

bool FoldedKeyword::foundIn(QString text) const {
    if (m_folded.isEmpty())
        return true;
    return foldForSearch(std::move(text)).contains(m_folded);
}

}  // namespace search
