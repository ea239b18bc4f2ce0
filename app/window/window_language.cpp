#include "app/window/window_language.h"

#include <QTranslator>

QString WindowLanguage(const QString& rvx_lang, const QLocale& system) {
    if (!rvx_lang.isEmpty()) {
        const QLocale::Language asked = QLocale(rvx_lang).language();
        if (asked == QLocale::Japanese) return QStringLiteral("ja");
        if (asked != QLocale::C && asked != QLocale::AnyLanguage) return QStringLiteral("en");
    }
    return system.language() == QLocale::Japanese ? QStringLiteral("ja") : QStringLiteral("en");
}

bool LoadWindowTranslation(QTranslator& translator, const QString& language) {
    if (language == QLatin1String("ja")) return false;
    return translator.load(QStringLiteral(":/i18n/rvx-encoder_%1.qm").arg(language));
}
