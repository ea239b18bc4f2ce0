#pragma once
// The window's language. Its texts are written in Japanese; every other
// language gets the English translation built into the program.

#include <QLocale>
#include <QString>

class QTranslator;

// "ja" or "en": RVX_LANG when it names one (a locale name such as "ja_JP"
// counts by its language), else the system's language.
QString WindowLanguage(const QString& rvx_lang, const QLocale& system);

// Loads the translation for the language into the translator; false for
// Japanese, which needs none, or when it could not be loaded.
bool LoadWindowTranslation(QTranslator& translator, const QString& language);
