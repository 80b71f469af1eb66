#include "Language.h"

#include <QSettings>

#include <memory>
#include <optional>

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

static QSettings machineStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::SystemScope,
                     QString::fromLatin1(LanguageOrganization),
                     QString::fromLatin1(LanguageApplication));
}

// The user's own settings file alone: a user-scope QSettings also reads the per-machine file,
// for its fallbacks and for its status, so a value or an error there would pass for the user's.
static std::unique_ptr<QSettings> userStore()
{
    const QString file = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                   QString::fromLatin1(LanguageOrganization),
                                   QString::fromLatin1(LanguageApplication))
                             .fileName();
    return std::make_unique<QSettings>(file, QSettings::NativeFormat);
}

// The stored name, when the store holds one as text.
static std::optional<QString> storedName(const QSettings &store)
{
    if (store.status() != QSettings::NoError)
        return std::nullopt;
    const QVariant value = store.value(QString::fromLatin1(LanguageKey));
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void LoadLanguage()
{
    ResetLanguage();
    // The user's own choice wins: it is where a user without write rights to the per-machine
    // store keeps one. Reading only, so either store may be read-only.
    std::optional<QString> name = storedName(*userStore());
    if (!name)
        name = storedName(machineStore());
    if (!name)
        return;
    g_languageName = *name;
    g_languageIndex = indexForName(g_languageName);
}

// Writes the name and reports whether it reached the file. Writability is checked first: a
// value set on a store that cannot be saved would still be read back in this process.
static bool save(QSettings &store, const QString &name)
{
    if (!store.isWritable())
        return false;
    store.setValue(QString::fromLatin1(LanguageKey), name);
    store.sync();
    return store.status() == QSettings::NoError;
}

void SelectLanguage(int index, const QString &name)
{
    g_languageIndex = index;
    g_languageName = name;
    const std::unique_ptr<QSettings> own = userStore();
    QSettings machine = machineStore();
    if (save(machine, name)) {
        // An older choice of this user's own would hide the one just made for the machine.
        if (own->contains(QString::fromLatin1(LanguageKey)) && own->isWritable())
            own->remove(QString::fromLatin1(LanguageKey));
        return;
    }
    // Users without write rights to the per-machine store keep the choice in their own settings.
    save(*own, name);
}
