#include "Console.h"

#include <QFileDevice>
#include <QIODevice>

Console::Console(QIODevice *out, QIODevice *err, bool errIsTerminal)
    : m_out{out, {}}, m_err{err, {}}, m_errIsTerminal(errIsTerminal)
{
}

void Console::write(Stream &stream, const QByteArray &bytes)
{
    if (!stream.failure.isEmpty() || bytes.isEmpty())
        return;
    if (stream.device->write(bytes) != bytes.size()) {
        stream.failure = stream.device->errorString();
        if (stream.failure.isEmpty() || stream.failure == QLatin1String("Unknown error"))
            stream.failure = QStringLiteral("short write");
    }
}

void Console::flush(Stream &stream)
{
    auto *file = qobject_cast<QFileDevice *>(stream.device);
    if (stream.failure.isEmpty() && file && !file->flush())
        stream.failure = file->errorString();
}

void Console::writeOut(const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    write(m_out, text.toUtf8());
}

void Console::writeErr(const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    QByteArray bytes;
    if (!m_progress.isEmpty())
        bytes += "\r\x1b[K";
    bytes += text.toUtf8();
    if (!m_progress.isEmpty())
        bytes += m_progress.toUtf8();
    write(m_err, bytes);
}

void Console::showProgress(int done, int total, qint64 elapsedMs)
{
    if (!m_errIsTerminal)
        return;
    const QMutexLocker lock(&m_mutex);
    m_progress = ProgressLine(done, total, elapsedMs);
    write(m_err, "\r\x1b[K" + m_progress.toUtf8());
}

void Console::endProgress()
{
    const QMutexLocker lock(&m_mutex);
    if (m_progress.isEmpty())
        return;
    m_progress.clear();
    write(m_err, "\r\x1b[K");
}

void Console::flush()
{
    const QMutexLocker lock(&m_mutex);
    flush(m_out);
    flush(m_err);
}

QString Console::outFailure() const
{
    const QMutexLocker lock(&m_mutex);
    return m_out.failure;
}

QString Console::errFailure() const
{
    const QMutexLocker lock(&m_mutex);
    return m_err.failure;
}

QString ProgressLine(int done, int total, qint64 elapsedMs, int width)
{
    const int filled = total > 0 ? int(qint64(done) * width / total) : width;
    const int digits = int(QString::number(total).size());
    return QStringLiteral("[%1%2] %3/%4  %5 s")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
        .arg(done, digits)
        .arg(total)
        .arg(double(elapsedMs) / 1000.0, 0, 'f', 1);
}

// Shown as they are: printable characters. Line and paragraph separators break a terminal's
// line like a newline, so they are escaped too.
static bool shownAsItIs(char32_t c)
{
    if (c < 0x7F)
        return c >= 0x20 && c != U'\\';
    if (c <= 0x9F || c == 0x2028 || c == 0x2029)
        return false;
    return QChar::isPrint(c);
}

static QString escapeOf(char32_t c)
{
    if (c == U'\\')
        return QStringLiteral("\\\\");
    if (c <= 0xFF)
        return QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    if (c <= 0xFFFF)
        return QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
}

QString EscapedText(QStringView text, int maxChars)
{
    static const QChar cut(0x2026);
    QString shown;
    for (qsizetype at = 0; at < text.size();) {
        char32_t c = text[at].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[at], text[at + 1]);
            width = 2;
        }
        const QString piece = shownAsItIs(c) ? text.mid(at, width).toString() : escapeOf(c);
        at += width;
        // Room for the marker stays while more text follows.
        const qsizetype room = maxChars - (at < text.size() ? 1 : 0);
        if (shown.size() + piece.size() > room) {
            shown += cut;
            return shown;
        }
        shown += piece;
    }
    return shown;
}
