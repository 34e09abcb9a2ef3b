#include "translations.h"

#include "configuration.h"

#include <QCoreApplication>

Translations::Translations(const QString& localeName)
{
    const QString folder = Configuration::getAppRootPath() + QLatin1String("/translations/");
    // QTranslator also tries the shorter names ("update_de" for "update_de_DE").
    (void)updaterTexts.load(QLatin1String("update_") + localeName, folder);
    (void)qtTexts.load(QLatin1String("qt_") + localeName, folder);
    QCoreApplication::installTranslator(&updaterTexts);
    QCoreApplication::installTranslator(&qtTexts);
}

Translations::~Translations()
{
    QCoreApplication::removeTranslator(&qtTexts);
    QCoreApplication::removeTranslator(&updaterTexts);
}
