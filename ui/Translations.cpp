#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qv::ui {

bool InstallToolkitTranslations() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    auto* translator = new QTranslator(app);  // lives as long as the application
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace qv::ui
