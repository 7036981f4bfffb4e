#include "ToolkitTranslations.h"

#include <memory>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

namespace sorvanta {

QTranslator* InstallToolkitTranslations(QCoreApplication& app, const QLocale& locale) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return nullptr;
  }
  translator->setParent(&app);
  app.installTranslator(translator.get());
  return translator.release();  // owned by app
}

}  // namespace sorvanta
