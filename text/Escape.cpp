#include "Escape.h"

#include <QChar>

static void appendHex(QString &out, char kind, char32_t value, int digits)
{
    out += QLatin1Char('\\');
    out += QLatin1Char(kind);
    out += QString::number(uint(value), 16).rightJustified(digits, QLatin1Char('0'));
}

// The byte rule for one byte.
static void appendByte(QString &out, uchar byte)
{
    if (byte == '\\')
        out += QLatin1String("\\\\");
    else if (byte >= 0x20 && byte <= 0x7E)
        out += QLatin1Char(char(byte));
    else
        appendHex(out, 'x', byte, 2);
}

// Printable characters stay. Qt counts the line and paragraph separators as printable, but a
// terminal breaks its line at them.
static bool shownAsItIs(char32_t c)
{
    if (c < 0x7F)
        return c >= 0x20 && c != U'\\';
    if (c <= 0x9F || c == 0x2028 || c == 0x2029)
        return false;
    return QChar::isPrint(c);
}

// The text rule for one character (a surrogate pair counts as one).
static void appendChar(QString &out, char32_t c, QStringView original)
{
    if (shownAsItIs(c))
        out += original;
    else if (c == U'\\')
        out += QLatin1String("\\\\");
    else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        appendHex(out, 'x', c, 2);
    else if (c <= 0xFFFF)
        appendHex(out, 'u', c, 4);
    else
        appendHex(out, 'U', c, 8);
}

// The character at `at` and how many code units it takes.
static char32_t charAt(QStringView text, qsizetype at, qsizetype *width)
{
    const QChar first = text[at];
    if (first.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        *width = 2;
        return QChar::surrogateToUcs4(first, text[at + 1]);
    }
    *width = 1;
    return first.unicode();
}

QString EscapeBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char byte : bytes)
        appendByte(out, uchar(byte));
    return out;
}

QString EscapeText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    qsizetype width = 1;
    for (qsizetype at = 0; at < text.size(); at += width) {
        const char32_t c = charAt(text, at, &width);
        appendChar(out, c, text.mid(at, width));
    }
    return out;
}

static int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The value of `digits` hex digits at `at`, or nothing.
static std::optional<char32_t> hexAt(QStringView text, qsizetype at, int digits)
{
    if (at + digits > text.size())
        return std::nullopt;
    char32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hexDigit(text[at + i].unicode());
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + char32_t(digit);
    }
    return value;
}

std::optional<QByteArray> UnescapeBytes(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c != u'\\') {
            if (c < 0x20 || c > 0x7E)
                return std::nullopt;
            out += char(c);
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == u'\\') {
            out += '\\';
            ++at;
            continue;
        }
        if (at + 1 >= text.size() || text[at + 1] != u'x')
            return std::nullopt;
        const std::optional<char32_t> value = hexAt(text, at + 2, 2);
        if (!value)
            return std::nullopt;
        out += char(*value);
        at += 3;
    }
    return out;
}

std::optional<QString> UnescapeText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    qsizetype width = 1;
    for (qsizetype at = 0; at < text.size(); at += width) {
        const char32_t c = charAt(text, at, &width);
        if (c != U'\\') {
            if (!shownAsItIs(c))
                return std::nullopt;
            out += text.mid(at, width);
            continue;
        }
        const QChar kind = at + 1 < text.size() ? text[at + 1] : QChar();
        if (kind == u'\\') {
            out += QLatin1Char('\\');
            width = 2;
            continue;
        }
        const int digits = kind == u'x' ? 2 : kind == u'u' ? 4 : kind == u'U' ? 8 : 0;
        const std::optional<char32_t> value = digits ? hexAt(text, at + 2, digits) : std::nullopt;
        // A lone surrogate is written "\udxxx" and read back as one; "\U" names a whole character.
        if (!value || *value > 0x10FFFF || (kind == u'U' && QChar::isSurrogate(*value)))
            return std::nullopt;
        if (*value > 0xFFFF)
            out += QString::fromUcs4(&*value, 1);
        else
            out += QChar(char16_t(*value));
        width = 2 + digits;
    }
    return out;
}

// Adds pieces while they fit; the last place is kept for "…" while more input follows.
class Cutter
{
public:
    explicit Cutter(int maxChars) : m_max(std::max(1, maxChars)) {}

    // False once the text is cut: nothing more is added.
    bool add(const QString &piece, bool moreFollows)
    {
        const qsizetype room = m_max - (moreFollows ? 1 : 0);
        if (m_text.size() + piece.size() > room) {
            m_text += QChar(0x2026);
            return false;
        }
        m_text += piece;
        return true;
    }
    [[nodiscard]] QString text() const { return m_text; }

private:
    qsizetype m_max;
    QString m_text;
};

QString TerminalText(QStringView text, int maxChars)
{
    Cutter shown(maxChars);
    qsizetype width = 1;
    QString piece;
    for (qsizetype at = 0; at < text.size(); at += width) {
        piece.clear();
        const char32_t c = charAt(text, at, &width);
        appendChar(piece, c, text.mid(at, width));
        if (!shown.add(piece, at + width < text.size()))
            break;
    }
    return shown.text();
}

QString TerminalBytes(QByteArrayView bytes, int maxChars)
{
    Cutter shown(maxChars);
    QString piece;
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        piece.clear();
        appendByte(piece, uchar(bytes[at]));
        if (!shown.add(piece, at + 1 < bytes.size()))
            break;
    }
    return shown.text();
}
