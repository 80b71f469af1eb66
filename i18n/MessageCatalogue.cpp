#include "MessageCatalogue.h"

#include "Language.h"

#include <QTextCodec>

#include <iterator>

struct RawRow
{
    Msg row;
    const char *english;
    const char *gb2312;
    const char *big5;
};

// The Chinese columns are held as GB2312 and Big5 bytes and decoded to Unicode once, when the
// catalogue is built.
static constexpr RawRow RawRows[] = {
    {Msg::Banner, "KAVRO Technology Corp.   www.example.com",
     "KAVRO\xB9\xC9\xB7\xDD\xD3\xD0\xCF\xDE\xB9\xAB\xCB\xBE   www.example.com",
     "KAVRO\xAA\xD1\xA5\xF7\xA6\xB3\xAD\xAD\xA4\xBD\xA5q   www.example.com"},
    {Msg::Title, "KAVRO VELQA Module Config V3.20-01",
     "KAVRO VELQA \xC9\xE8\xB6\xA8\xB3\xCC\xCA\xBD V3.20-01",
     "KAVRO VELQA \xB3]\xA9w\xB5{\xA6\xA1 V3.20-01"},
    {Msg::StartScanModule, "Start Scan Module!",
     "\xC7\xEB\xCF\xC8\xC9\xA8\xC3\xE8\xC4\xA3\xD7\xE9!",
     "\xBD\xD0\xA5\xFD\xB1\xBD\xB4y\xBC\xD2\xB2\xD5!"},
    {Msg::Exit, "Exit", "\xBD\xE1\xCA\xF8", "\xB5\xB2\xA7\xF4"},
    {Msg::Connecting, "Connecting...", "\xC1\xAC\xCF\xDF\xD6\xD0...", "\xB3s\xBDu\xA4\xA4..."},
    {Msg::ConnectOk, "Connect Ok.", "\xC1\xAC\xCF\xDF\xCD\xEA\xB3\xC9.",
     "\xB3s\xBDu\xA7\xB9\xA6\xA8."},
    {Msg::Disconnect, "Disconnect.", "\xB6\xCF\xCF\xDF.", "\xC2_\xBDu."},
    {Msg::SetData, "Set Data", "\xC9\xE8\xB6\xA8\xD7\xCA\xC1\xCF", "\xB3]\xA9w\xB8\xEA\xAE\xC6"},
    {Msg::SetDataOk, "Set Data Ok", "\xC9\xE8\xB6\xA8\xD7\xCA\xC1\xCF\xCD\xEA\xB3\xC9",
     "\xB3]\xA9w\xB8\xEA\xAE\xC6\xA7\xB9\xA6\xA8"},
    {Msg::SetDataError, "Set Data Error", "\xC9\xE8\xB6\xA8\xD7\xCA\xC1\xCF\xB4\xED\xCE\xF3",
     "\xB3]\xA9w\xB8\xEA\xAE\xC6\xBF\xF9\xBB~"},
    {Msg::ReaderTest, "Reader Test", "\xB6\xC1\xBF\xA8\xB2\xE2\xCA\xD4",
     "\xC5\xAA\xA5\x64\xB4\xFA\xB8\xD5"},
    {Msg::ReaderCardOk, "Reader Card Ok", "\xB6\xC1\xBF\xA8\xB2\xE2\xCA\xD4\xCD\xEA\xB3\xC9",
     "\xC5\xAA\xA5\x64\xB4\xFA\xB8\xD5\xA7\xB9\xA6\xA8"},
    {Msg::ReaderCardError, "Reader Card Error", "\xB6\xC1\xBF\xA8\xB2\xE2\xCA\xD4\xB4\xED\xCE\xF3",
     "\xC5\xAA\xA5\x64\xB4\xFA\xB8\xD5\xBF\xF9\xBB~"},
    {Msg::LoopTest, "Loop Test", "\xBB\xD8\xC2\xB7\xB2\xE2\xCA\xD4",
     "\xB0j\xB8\xF4\xB4\xFA\xB8\xD5"},
    {Msg::LoopTestOk, "Loop Test Ok", "\xBB\xD8\xC2\xB7\xB2\xE2\xCA\xD4\xCD\xEA\xB3\xC9",
     "\xB0j\xB8\xF4\xB4\xFA\xB8\xD5\xA7\xB9\xA6\xA8"},
    {Msg::LoopTestError, "Loop Test Error", "\xBB\xD8\xC2\xB7\xB2\xE2\xCA\xD4\xB4\xED\xCE\xF3",
     "\xB0j\xB8\xF4\xB4\xFA\xB8\xD5\xBF\xF9\xBB~"},
    {Msg::ClearData, "Clear Data", "\xC7\xE5\xB3\xFD\xD7\xCA\xC1\xCF",
     "\xB2M\xB0\xA3\xB8\xEA\xAE\xC6"},
    {Msg::ScanModule, "Scan Module", "\xC9\xA8\xC3\xE8\xC4\xA3\xD7\xE9",
     "\xB1\xBD\xB4y\xBC\xD2\xB2\xD5"},
    {Msg::RefreshWeb, "Refresh Web", "\xB8\xFC\xD0\xC2\xCD\xF8\xD2\xB3",
     "\xA7\xF3\xB7s\xBA\xF4\xAD\xB6"},
    {Msg::VelqaIp, "VELQA IP", "VELQA \xCE\xBB\xD6\xB7", "VELQA \xA6\xEC\xA7}"},
};

static_assert(std::size(RawRows) == MessageCatalogue::RowCount, "one raw row per message");

MessageCatalogue::MessageCatalogue()
{
    QTextCodec *gb = QTextCodec::codecForName("GB2312");
    QTextCodec *big5 = QTextCodec::codecForName("Big5");
    for (const RawRow &raw : RawRows) {
        auto &texts = m_texts[static_cast<std::size_t>(raw.row)];
        texts[0] = QString::fromLatin1(raw.english);
        texts[1] = gb ? gb->toUnicode(raw.gb2312) : QString::fromLatin1(raw.english);
        texts[2] = big5 ? big5->toUnicode(raw.big5) : QString::fromLatin1(raw.english);
    }
}

const MessageCatalogue &MessageCatalogue::instance()
{
    static const MessageCatalogue catalogue;
    return catalogue;
}

QString MessageCatalogue::text(Msg row, Language column) const
{
    return text(row, static_cast<int>(column));
}

QString MessageCatalogue::text(Msg row, int column) const
{
    const auto r = static_cast<std::size_t>(row);
    if (r >= m_texts.size() || column < 0 || column >= ColumnCount)
        return {};
    return m_texts[r][static_cast<std::size_t>(column)];
}

QString CatalogueText(Msg row)
{
    return MessageCatalogue::instance().text(row, LanguageIndex());
}
