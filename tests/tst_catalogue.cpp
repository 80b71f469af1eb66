#include "Language.h"
#include "MessageCatalogue.h"

#include <QtTest>

// Each Chinese text is written here in UTF-8, so a wrong GB2312 or Big5 byte in the catalogue
// shows up as a mismatch.
class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void init() { ResetLanguage(); }
    void cleanupTestCase() { ResetLanguage(); }

    void everyRowDecodes_data();
    void everyRowDecodes();
    void everyRowHasAnEntry();
    void catalogueTextFollowsLanguage_data();
    void catalogueTextFollowsLanguage();
    void outOfRangeColumnIsEmpty();
};

void TestCatalogue::everyRowDecodes_data()
{
    QTest::addColumn<Msg>("row");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("simplified");
    QTest::addColumn<QString>("traditional");

    QTest::newRow("Banner") << Msg::Banner
                            << QString::fromUtf8(u8"KAVRO Technology Corp.   www.example.com")
                            << QString::fromUtf8(u8"KAVRO股份有限公司   www.example.com")
                            << QString::fromUtf8(u8"KAVRO股份有限公司   www.example.com");
    QTest::newRow("Title") << Msg::Title
                           << QString::fromUtf8(u8"KAVRO VELQA Module Config V3.20-01")
                           << QString::fromUtf8(u8"KAVRO VELQA 设定程式 V3.20-01")
                           << QString::fromUtf8(u8"KAVRO VELQA 設定程式 V3.20-01");
    QTest::newRow("StartScanModule")
        << Msg::StartScanModule << QString::fromUtf8(u8"Start Scan Module!")
        << QString::fromUtf8(u8"请先扫描模组!") << QString::fromUtf8(u8"請先掃描模組!");
    QTest::newRow("Exit") << Msg::Exit << QString::fromUtf8(u8"Exit") << QString::fromUtf8(u8"结束")
                          << QString::fromUtf8(u8"結束");
    QTest::newRow("Connecting") << Msg::Connecting << QString::fromUtf8(u8"Connecting...")
                                << QString::fromUtf8(u8"连线中...")
                                << QString::fromUtf8(u8"連線中...");
    QTest::newRow("ConnectOk") << Msg::ConnectOk << QString::fromUtf8(u8"Connect Ok.")
                               << QString::fromUtf8(u8"连线完成.")
                               << QString::fromUtf8(u8"連線完成.");
    QTest::newRow("Disconnect") << Msg::Disconnect << QString::fromUtf8(u8"Disconnect.")
                                << QString::fromUtf8(u8"断线.") << QString::fromUtf8(u8"斷線.");
    QTest::newRow("SetData") << Msg::SetData << QString::fromUtf8(u8"Set Data")
                             << QString::fromUtf8(u8"设定资料") << QString::fromUtf8(u8"設定資料");
    QTest::newRow("SetDataOk") << Msg::SetDataOk << QString::fromUtf8(u8"Set Data Ok")
                               << QString::fromUtf8(u8"设定资料完成")
                               << QString::fromUtf8(u8"設定資料完成");
    QTest::newRow("SetDataError") << Msg::SetDataError << QString::fromUtf8(u8"Set Data Error")
                                  << QString::fromUtf8(u8"设定资料错误")
                                  << QString::fromUtf8(u8"設定資料錯誤");
    QTest::newRow("ReaderTest") << Msg::ReaderTest << QString::fromUtf8(u8"Reader Test")
                                << QString::fromUtf8(u8"读卡测试")
                                << QString::fromUtf8(u8"讀卡測試");
    QTest::newRow("ReaderCardOk") << Msg::ReaderCardOk << QString::fromUtf8(u8"Reader Card Ok")
                                  << QString::fromUtf8(u8"读卡测试完成")
                                  << QString::fromUtf8(u8"讀卡測試完成");
    QTest::newRow("ReaderCardError")
        << Msg::ReaderCardError << QString::fromUtf8(u8"Reader Card Error")
        << QString::fromUtf8(u8"读卡测试错误") << QString::fromUtf8(u8"讀卡測試錯誤");
    QTest::newRow("LoopTest") << Msg::LoopTest << QString::fromUtf8(u8"Loop Test")
                              << QString::fromUtf8(u8"回路测试") << QString::fromUtf8(u8"迴路測試");
    QTest::newRow("LoopTestOk") << Msg::LoopTestOk << QString::fromUtf8(u8"Loop Test Ok")
                                << QString::fromUtf8(u8"回路测试完成")
                                << QString::fromUtf8(u8"迴路測試完成");
    QTest::newRow("LoopTestError")
        << Msg::LoopTestError << QString::fromUtf8(u8"Loop Test Error")
        << QString::fromUtf8(u8"回路测试错误") << QString::fromUtf8(u8"迴路測試錯誤");
    QTest::newRow("ClearData") << Msg::ClearData << QString::fromUtf8(u8"Clear Data")
                               << QString::fromUtf8(u8"清除资料")
                               << QString::fromUtf8(u8"清除資料");
    QTest::newRow("ScanModule") << Msg::ScanModule << QString::fromUtf8(u8"Scan Module")
                                << QString::fromUtf8(u8"扫描模组")
                                << QString::fromUtf8(u8"掃描模組");
    QTest::newRow("RefreshWeb") << Msg::RefreshWeb << QString::fromUtf8(u8"Refresh Web")
                                << QString::fromUtf8(u8"更新网页")
                                << QString::fromUtf8(u8"更新網頁");
    QTest::newRow("VelqaIp") << Msg::VelqaIp << QString::fromUtf8(u8"VELQA IP")
                             << QString::fromUtf8(u8"VELQA 位址")
                             << QString::fromUtf8(u8"VELQA 位址");
}

void TestCatalogue::everyRowDecodes()
{
    QFETCH(Msg, row);
    QFETCH(QString, english);
    QFETCH(QString, simplified);
    QFETCH(QString, traditional);
    const MessageCatalogue &catalogue = MessageCatalogue::instance();
    QCOMPARE(catalogue.text(row, Language::English), english);
    QCOMPARE(catalogue.text(row, Language::ChineseGB), simplified);
    QCOMPARE(catalogue.text(row, Language::ChineseBig5), traditional);
    QVERIFY(!english.contains(QLatin1Char('&')));
    QVERIFY(!simplified.contains(QLatin1Char('&')));
    QVERIFY(!traditional.contains(QLatin1Char('&')));
}

void TestCatalogue::everyRowHasAnEntry()
{
    // A row missing from the byte table would decode to an empty text in every column.
    const MessageCatalogue &catalogue = MessageCatalogue::instance();
    for (int r = 0; r < MessageCatalogue::RowCount; ++r) {
        for (int c = 0; c < MessageCatalogue::ColumnCount; ++c)
            QVERIFY2(!catalogue.text(static_cast<Msg>(r), c).isEmpty(),
                     qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
    }
}

void TestCatalogue::catalogueTextFollowsLanguage_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("exit");
    QTest::newRow("English") << 0 << QStringLiteral("Exit");
    QTest::newRow("ChineseGB") << 1 << QString::fromUtf8(u8"结束");
    QTest::newRow("ChineseBIG5") << 2 << QString::fromUtf8(u8"結束");
}

void TestCatalogue::catalogueTextFollowsLanguage()
{
    QFETCH(int, index);
    QFETCH(QString, exit);
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, store.path());
    SelectLanguage(index, QStringLiteral("any"));
    QCOMPARE(CatalogueText(Msg::Exit), exit);
}

void TestCatalogue::outOfRangeColumnIsEmpty()
{
    QVERIFY(MessageCatalogue::instance().text(Msg::Exit, 3).isEmpty());
    QVERIFY(MessageCatalogue::instance().text(Msg::Exit, -1).isEmpty());
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
