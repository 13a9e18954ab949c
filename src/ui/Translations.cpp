#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ui {

namespace {

// Where the catalogue is: built into the program where Qt is (Windows, whose users have no Qt
// folder), otherwise the translations folder of the Qt the program runs with.
QString CatalogueFolder() {
#ifdef KELVANE_QT_CATALOGUE_BUILT_IN
    return QStringLiteral(":/translations");
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

}  // namespace

bool InstallQtTranslations() {
    // Owned by the application, so it lives as long as the texts it translates.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), CatalogueFolder())) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace ui
