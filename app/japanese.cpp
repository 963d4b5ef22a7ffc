#include "japanese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Qt's own Japanese translations, asked again under an older context for texts whose context
// was renamed after the translations were made: the file dialog's file types ("Folder",
// "Drive", "%1 File") moved from the file dialog to the icon provider.
class JapaneseQtTranslator final : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        QString text = QTranslator::translate(context, sourceText, disambiguation, n);
        if (text.isEmpty() && qstrcmp(context, "QAbstractFileIconProvider") == 0)
            text = QTranslator::translate("QFileDialog", sourceText, disambiguation, n);
        return text;
    }
};

}  // namespace

void useJapaneseInterface() {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* qt = new JapaneseQtTranslator(QCoreApplication::instance());
    if (qt->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
}
