#include "desktop/app/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <string>

namespace apura::desktop {

bool InstallPortuguese(QCoreApplication& app) {
  QLocale locale = QLocale::system();
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
  QLocale::setDefault(locale);
  // The translator lives as long as the application it is installed in.
  auto* translator = new QTranslator(&app);
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QLocale(QLocale::Portuguese, QLocale::Brazil), "qtbase", "_", dir)) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

QString DatePlaceholder(const std::string& format) {
  QString text = QString::fromStdString(format);
  text.replace('y', 'a').replace('Y', 'A');
  return text;
}

}  // namespace apura::desktop
