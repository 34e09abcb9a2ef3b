#pragma once

#include <QString>
#include <QTranslator>

// The updater's own texts and Qt's own texts in the language of a locale, from the
// translations folder of the installation, installed in the application while this
// object lives. A locale without translations leaves the English texts.
class Translations
{
public:
    explicit Translations(const QString& localeName);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

private:
    QTranslator updaterTexts;
    QTranslator qtTexts;
};
