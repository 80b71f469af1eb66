#include "Language.h"
#include "MessageCatalogue.h"

#include <QtTest>

// Every case gets its own per-machine settings folder, so nothing here touches the real store.
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

private:
    [[nodiscard]] QString storeFile() const;
    void writeStore(const QByteArray &contents) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLanguage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir->path());
    ResetLanguage();
}

void TestLanguage::cleanup()
{
    ResetLanguage();
    m_dir.reset();
}

QString TestLanguage::storeFile() const
{
    return m_dir->filePath(QStringLiteral("KAVRO/LinkConfig.conf"));
}

void TestLanguage::writeStore(const QByteArray &contents) const
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("KAVRO")));
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

void TestLanguage::load_data()
{
    QTest::addColumn<QByteArray>("contents"); // empty: no store at all
    QTest::addColumn<bool>("unreadable");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("exitCaption");

    const QString english = QStringLiteral("English");
    QTest::newRow("no store") << QByteArray() << false << 0 << english << "Exit";
    QTest::newRow("no value") << QByteArray("[General]\nOther=1\n") << false << 0 << english
                              << "Exit";
    QTest::newRow("English") << QByteArray("[General]\nLanguageFlag=English\n") << false << 0
                             << english << "Exit";
    QTest::newRow("ChineseGB") << QByteArray("[General]\nLanguageFlag=ChineseGB\n") << false << 1
                               << "ChineseGB" << QString::fromUtf8(u8"结束");
    QTest::newRow("ChineseBIG5") << QByteArray("[General]\nLanguageFlag=ChineseBIG5\n") << false
                                 << 2 << "ChineseBIG5" << QString::fromUtf8(u8"結束");
    QTest::newRow("lower case kept")
        << QByteArray("[General]\nLanguageFlag=chinesegb\n") << false << 0 << "chinesegb"
        << "Exit";
    QTest::newRow("upper case kept")
        << QByteArray("[General]\nLanguageFlag=CHINESEBIG5\n") << false << 0 << "CHINESEBIG5"
        << "Exit";
    QTest::newRow("other text kept")
        << QByteArray("[General]\nLanguageFlag=French\n") << false << 0 << "French"
        << "Exit";
    QTest::newRow("empty text kept") << QByteArray("[General]\nLanguageFlag=\n") << false << 0 << ""
                                     << "Exit";
    QTest::newRow("list value") << QByteArray("[General]\nLanguageFlag=ChineseGB, ChineseBIG5\n")
                                << false << 0 << english << "Exit";
    QTest::newRow("unreadable store") << QByteArray() << true << 0 << english << "Exit";
}

void TestLanguage::load()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, unreadable);
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, exitCaption);

    if (!contents.isEmpty())
        writeStore(contents);
    if (unreadable) {
        // A folder where the file should be cannot be read, even by an administrator.
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("KAVRO/LinkConfig.conf")));
    }
    {
        // LoadLanguage must start from English, whatever was chosen before.
        QTemporaryDir elsewhere;
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, elsewhere.path());
        SelectLanguage(2, QStringLiteral("stale"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir->path());
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
    QTest::newRow("English") << 0 << "English";
    QTest::newRow("ChineseGB") << 1 << "ChineseGB";
    QTest::newRow("ChineseBIG5") << 2 << "ChineseBIG5";
}

void TestLanguage::selectThenFreshLoadRestores()
{
    QFETCH(int, index);
    QFETCH(QString, name);

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

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"
