#include "Language.h"
#include "MessageCatalogue.h"
#include "SpokenText.h"

#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

// The test program also serves as a small tool run in a child process, as a normal user: it
// selects or loads the language with the per-machine settings in the folder this names.
static const char kChildMachineDir[] = "VELQA_LANGUAGE_CHILD_MACHINE_DIR";
static const char kChildAction[] = "VELQA_LANGUAGE_CHILD_ACTION"; // "load" or "select INDEX NAME"

// Every case gets its own per-machine and user settings folders, so nothing here touches the
// real stores.
class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void load_data();
    void load();
    void selectThenFreshLoadRestores_data();
    void selectThenFreshLoadRestores();
    void failedSaveStillSwitches();
    void loadDoesNotWrite();
    void normalUserChoiceSurvivesRestart();
    void spokenTexts_data();
    void spokenTexts();

private:
    [[nodiscard]] QString storeFile() const;
    [[nodiscard]] QString userFile() const;
    static void writeFile(const QString &path, const QByteArray &contents);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_userDir;
};

void TestLanguage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir->path());
    m_userDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_userDir->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_userDir->path());
    ResetLanguage();
}

void TestLanguage::cleanup()
{
    ResetLanguage();
    m_dir.reset();
    m_userDir.reset();
}

QString TestLanguage::storeFile() const
{
    return m_dir->filePath(QStringLiteral("KAVRO/LinkConfig.conf"));
}

QString TestLanguage::userFile() const
{
    return m_userDir->filePath(QStringLiteral("KAVRO/LinkConfig.conf"));
}

void TestLanguage::writeFile(const QString &path, const QByteArray &contents)
{
    QVERIFY(QFileInfo(path).dir().mkpath(QStringLiteral(".")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

void TestLanguage::load_data()
{
    QTest::addColumn<QByteArray>("contents"); // empty: no store at all
    QTest::addColumn<bool>("unreadable");
    QTest::addColumn<QByteArray>("user"); // the user's own store; empty: none
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("exitCaption");

    const QString english = QStringLiteral("English");
    const QString gb = QString::fromUtf8(u8"结束");
    const QString big5 = QString::fromUtf8(u8"結束");
    const QByteArray none;
    auto flag = [](const char *name) {
        return QByteArray("[General]\nLanguageFlag=") + name + "\n";
    };
    QTest::newRow("no store") << none << false << none << 0 << english << "Exit";
    QTest::newRow("no value") << QByteArray("[General]\nOther=1\n") << false << none << 0 << english
                              << "Exit";
    QTest::newRow("English") << flag("English") << false << none << 0 << english << "Exit";
    QTest::newRow("ChineseGB") << flag("ChineseGB") << false << none << 1 << "ChineseGB" << gb;
    QTest::newRow("ChineseBIG5") << flag("ChineseBIG5") << false << none << 2 << "ChineseBIG5"
                                 << big5;
    QTest::newRow("lower case kept") << flag("chinesegb") << false << none << 0 << "chinesegb"
                                     << "Exit";
    QTest::newRow("upper case kept") << flag("CHINESEBIG5") << false << none << 0 << "CHINESEBIG5"
                                     << "Exit";
    QTest::newRow("other text kept") << flag("French") << false << none << 0 << "French"
                                     << "Exit";
    QTest::newRow("empty text kept") << flag("") << false << none << 0 << ""
                                     << "Exit";
    QTest::newRow("list value") << flag("ChineseGB, ChineseBIG5") << false << none << 0 << english
                                << "Exit";
    QTest::newRow("unreadable store") << none << true << none << 0 << english << "Exit";

    // The user's own choice wins over the machine's, when it holds one.
    QTest::newRow("user's own over the machine's")
        << flag("ChineseGB") << false << flag("ChineseBIG5") << 2 << "ChineseBIG5" << big5;
    QTest::newRow("user's English over the machine's Chinese")
        << flag("ChineseBIG5") << false << flag("English") << 0 << english << "Exit";
    QTest::newRow("user store without the value: machine's")
        << flag("ChineseGB") << false << QByteArray("[General]\nOther=1\n") << 1 << "ChineseGB"
        << gb;
}

void TestLanguage::load()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, unreadable);
    QFETCH(QByteArray, user);
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, exitCaption);

    if (!contents.isEmpty())
        writeFile(storeFile(), contents);
    if (!user.isEmpty())
        writeFile(userFile(), user);
    if (unreadable) {
        // A folder where the file should be cannot be read, even by an administrator.
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("KAVRO/LinkConfig.conf")));
    }
    {
        // LoadLanguage must start from English, whatever was chosen before.
        QTemporaryDir elsewhere;
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, elsewhere.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, elsewhere.path());
        SelectLanguage(2, QStringLiteral("stale"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir->path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_userDir->path());
    }

    LoadLanguage();
    QCOMPARE(LanguageIndex(), index);
    QCOMPARE(LanguageName(), name);
    QCOMPARE(CatalogueText(Msg::Exit), exitCaption);
}

void TestLanguage::selectThenFreshLoadRestores_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("ownBefore"); // the user's own store before the choice
    QTest::newRow("English") << 0 << "English" << QByteArray();
    QTest::newRow("ChineseGB") << 1 << "ChineseGB" << QByteArray();
    QTest::newRow("ChineseBIG5") << 2 << "ChineseBIG5" << QByteArray();
    // Left from a time the machine store could not be written, it would hide the new choice.
    QTest::newRow("user's older own choice dropped")
        << 0 << "English" << QByteArray("[General]\nLanguageFlag=ChineseBIG5\nOther=1\n");
}

void TestLanguage::selectThenFreshLoadRestores()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QByteArray, ownBefore);
    if (!ownBefore.isEmpty())
        writeFile(userFile(), ownBefore);

    SelectLanguage(index, name);
    QCOMPARE(LanguageIndex(), index);
    QCOMPARE(LanguageName(), name);

    ResetLanguage();
    LoadLanguage();
    QCOMPARE(LanguageIndex(), index);
    QCOMPARE(LanguageName(), name);

    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("LanguageFlag=" + name.toLatin1()));
    QFile own(userFile());
    QVERIFY(!own.open(QIODevice::ReadOnly) || !own.readAll().contains("LanguageFlag"));
}

void TestLanguage::failedSaveStillSwitches()
{
    // A plain file where the store's folder belongs makes the store unwritable, even for root.
    QFile blocker(m_dir->filePath(QStringLiteral("KAVRO")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    SelectLanguage(1, QStringLiteral("ChineseGB"));
    QCOMPARE(LanguageIndex(), 1);
    QCOMPARE(LanguageName(), QStringLiteral("ChineseGB"));
    QCOMPARE(CatalogueText(Msg::ScanModule), QString::fromUtf8(u8"扫描模组"));
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
}

void TestLanguage::loadDoesNotWrite()
{
    LoadLanguage();
    QVERIFY(!QFileInfo::exists(storeFile()));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("KAVRO"))));
}

// A user without write rights to the per-machine store, which holds another choice, chooses a
// language, quits and starts again: run for real in a child process as a normal user.
void TestLanguage::normalUserChoiceSurvivesRestart()
{
    const bool root = geteuid() == 0;
    const passwd *nobody = root ? getpwnam("nobody") : nullptr;
    if (root && !nobody)
        QSKIP("running as root, and there is no user \"nobody\" to act as a normal user");
    const uid_t uid = root ? nobody->pw_uid : geteuid();
    const gid_t gid = root ? nobody->pw_gid : getegid();

    const QByteArray machine("[General]\nLanguageFlag=ChineseGB\n");
    writeFile(storeFile(), machine);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    const QStringList machineFolders{m_dir->path(), m_dir->filePath(QStringLiteral("KAVRO"))};
    for (const QString &path : machineFolders)
        QFile::setPermissions(path, readOnly);
    const auto reopen = qScopeGuard([&] {
        for (const QString &path : machineFolders)
            QFile::setPermissions(path, readOnly | QFileDevice::WriteOwner);
    });
    QFile::setPermissions(storeFile(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    // The home folder belongs to the child's user, who runs a copy of this program there: the
    // build folder may be closed to others.
    QTemporaryDir home;
    QVERIFY(QFile::setPermissions(home.path(), readOnly | QFileDevice::WriteOwner));
    if (root)
        QCOMPARE(chown(home.path().toLocal8Bit().constData(), uid, gid), 0);
    const QString program = home.filePath(QStringLiteral("tst_language"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, readOnly));

    auto run = [&](const QString &action) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        env.insert(QString::fromLatin1(kChildMachineDir), m_dir->path());
        env.insert(QString::fromLatin1(kChildAction), action);
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(home.path());
        if (root) {
            child.setChildProcessModifier([uid, gid] {
                if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                    _exit(126);
            });
        }
        child.start(program, {});
        child.waitForFinished(30000);
        return QString::fromLocal8Bit(child.readAllStandardOutput() + child.readAllStandardError())
            .trimmed();
    };
    QCOMPARE(run(QStringLiteral("select 2 ChineseBIG5")), QStringLiteral("2 ChineseBIG5"));
    QCOMPARE(run(QStringLiteral("load")), QStringLiteral("2 ChineseBIG5"));

    // Kept in the user's own settings: the per-machine store is as it was.
    QFile store(storeFile());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll(), machine);
}

void TestLanguage::spokenTexts_data()
{
    QTest::addColumn<Spoken>("row");
    for (int row = 0; row < SpokenRowCount; ++row)
        QTest::newRow(qPrintable(SpokenText(Spoken(row), 0))) << Spoken(row);
}

// What only a screen reader says is said in each language, with the same places for what the
// window fills in (a button's key).
void TestLanguage::spokenTexts()
{
    QFETCH(Spoken, row);
    const QString english = SpokenText(row, 0);
    const QRegularExpression placeholder(QStringLiteral("%\\d"));
    for (const int column : {1, 2}) {
        const QString text = SpokenText(row, column);
        QVERIFY2(!text.isEmpty() && text != english, qPrintable(text));
        QCOMPARE(text.count(placeholder), english.count(placeholder));
    }
    SelectLanguage(2, QStringLiteral("ChineseBIG5"));
    QCOMPARE(SpokenText(row), SpokenText(row, 2));
}

// In the child: select and read back, or load, and print "INDEX NAME".
static int runChild()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       qEnvironmentVariable(kChildMachineDir));
    const QStringList action = qEnvironmentVariable(kChildAction).split(u' ');
    if (action.value(0) == QLatin1String("select")) {
        SelectLanguage(action.value(1).toInt(), action.value(2));
        ResetLanguage();
    }
    LoadLanguage();
    QTextStream(stdout) << LanguageIndex() << ' ' << LanguageName() << Qt::endl;
    return 0;
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kChildAction))
        return runChild();
    QCoreApplication app(argc, argv);
    TestLanguage test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_language.moc"
