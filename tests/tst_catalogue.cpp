#include "MessageCatalogue.h"

#include <QtTest>

// Each Chinese text is written here in UTF-8, so a wrong GB2312 or Big5 byte in the catalogue
// shows up as a mismatch.
class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void everyRowDecodes_data();
    void everyRowDecodes();
};

void TestCatalogue::everyRowDecodes_data()
{
    QTest::addColumn<Msg>("row");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("simplified");
    QTest::addColumn<QString>("traditional");

    auto row = [](Msg msg, const char *english, const char *simplified, const char *traditional) {
        QTest::newRow(english) << msg << QString::fromUtf8(english) << QString::fromUtf8(simplified)
                               << QString::fromUtf8(traditional);
    };
    row(Msg::Banner, u8"KAVRO Technology Corp.   www.example.com",
        u8"KAVRO股份有限公司   www.example.com", u8"KAVRO股份有限公司   www.example.com");
    row(Msg::Title, u8"KAVRO VELQA Module Config V3.20-01", u8"KAVRO VELQA 设定程式 V3.20-01",
        u8"KAVRO VELQA 設定程式 V3.20-01");
    row(Msg::StartScanModule, u8"Start Scan Module!", u8"请先扫描模组!", u8"請先掃描模組!");
    row(Msg::Exit, u8"Exit", u8"结束", u8"結束");
    row(Msg::Connecting, u8"Connecting...", u8"连线中...", u8"連線中...");
    row(Msg::ConnectOk, u8"Connect Ok.", u8"连线完成.", u8"連線完成.");
    row(Msg::Disconnect, u8"Disconnect.", u8"断线.", u8"斷線.");
    row(Msg::SetData, u8"Set Data", u8"设定资料", u8"設定資料");
    row(Msg::SetDataOk, u8"Set Data Ok", u8"设定资料完成", u8"設定資料完成");
    row(Msg::SetDataError, u8"Set Data Error", u8"设定资料错误", u8"設定資料錯誤");
    row(Msg::ReaderTest, u8"Reader Test", u8"读卡测试", u8"讀卡測試");
    row(Msg::ReaderCardOk, u8"Reader Card Ok", u8"读卡测试完成", u8"讀卡測試完成");
    row(Msg::ReaderCardError, u8"Reader Card Error", u8"读卡测试错误", u8"讀卡測試錯誤");
    row(Msg::LoopTest, u8"Loop Test", u8"回路测试", u8"迴路測試");
    row(Msg::LoopTestOk, u8"Loop Test Ok", u8"回路测试完成", u8"迴路測試完成");
    row(Msg::LoopTestError, u8"Loop Test Error", u8"回路测试错误", u8"迴路測試錯誤");
    row(Msg::ClearData, u8"Clear Data", u8"清除资料", u8"清除資料");
    row(Msg::ScanModule, u8"Scan Module", u8"扫描模组", u8"掃描模組");
    row(Msg::RefreshWeb, u8"Refresh Web", u8"更新网页", u8"更新網頁");
    row(Msg::VelqaIp, u8"VELQA IP", u8"VELQA 位址", u8"VELQA 位址");
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

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
