#include "Language.h"

#include <QSettings>

static int g_languageIndex = 0;
static QString g_languageName = QString::fromLatin1(LanguageNameEnglish);

int LanguageIndex()
{
    return g_languageIndex;
}

QString LanguageName()
{
    return g_languageName;
}

void ResetLanguage()
{
    g_languageIndex = 0;
    g_languageName = QString::fromLatin1(LanguageNameEnglish);
}

static int indexForName(const QString &name)
{
    // Exact, case-sensitive: "chinesegb" is kept as the name but shows English.
    if (name == QLatin1String(LanguageNameGB))
        return 1;
    if (name == QLatin1String(LanguageNameBig5))
        return 2;
    return 0;
}

void LoadLanguage()
{
    ResetLanguage();
    // Reading only, so a user without write rights to the per-machine store still gets the choice.
    const QSettings store(QSettings::NativeFormat, QSettings::SystemScope,
                          QString::fromLatin1(LanguageOrganization),
                          QString::fromLatin1(LanguageApplication));
    if (store.status() != QSettings::NoError)
        return;
    const QVariant value = store.value(QString::fromLatin1(LanguageKey));
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return;
    g_languageName = value.toString();
    g_languageIndex = indexForName(g_languageName);
}

void SelectLanguage(int index, const QString &name)
{
    g_languageIndex = index;
    g_languageName = name;
    QSettings store(QSettings::NativeFormat, QSettings::SystemScope,
                    QString::fromLatin1(LanguageOrganization),
                    QString::fromLatin1(LanguageApplication));
    if (!store.isWritable())
        return;
    store.setValue(QString::fromLatin1(LanguageKey), name);
}
