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

void Console::writeOutBytes(const QByteArray &bytes)
{
    const QMutexLocker lock(&m_mutex);
    write(m_out, bytes);
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

void Console::setColumns(std::function<int()> columns)
{
    const QMutexLocker lock(&m_mutex);
    m_columns = std::move(columns);
}

void Console::showProgress(int done, int total, qint64 elapsedMs)
{
    if (!m_errIsTerminal)
        return;
    const QMutexLocker lock(&m_mutex);
    m_progress = ProgressLine(done, total, elapsedMs, m_columns ? m_columns() : 0);
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

QString ProgressLine(int done, int total, qint64 elapsedMs, int columns)
{
    static constexpr int kMaxBar = 30;
    static constexpr int kMinBar = 10;
    const int digits = int(QString::number(total).size());
    const QString count = QStringLiteral("%1/%2").arg(done, digits).arg(total);
    const QString counts =
        QStringLiteral("%1  %2 s").arg(count).arg(double(elapsedMs) / 1000.0, 0, 'f', 1);
    if (columns <= 0)
        return counts;
    // The last column stays free: a terminal may wrap a line that fills its width.
    const int room = columns - 1;
    const int width = std::min(kMaxBar, room - 3 - int(counts.size()));
    if (width >= kMinBar) {
        const int filled = total > 0 ? int(qint64(done) * width / total) : width;
        return QStringLiteral("[%1%2] %3")
            .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')),
                 counts);
    }
    if (counts.size() <= room)
        return counts;
    return count.left(room);
}
