#pragma once

#include <QMutex>
#include <QString>
#include <QStringView>

#include <functional>

class QIODevice;

// Standard output and error for the command, shared by the module threads: results go to the
// output, trace lines, messages and the progress bar to the error stream. The progress bar is
// drawn only when the error stream is a terminal. A stream whose write fails is written no more
// and keeps the reason, so the command can end with it.
class Console
{
public:
    Console(QIODevice *out, QIODevice *err, bool errIsTerminal);

    void writeOut(const QString &text);
    // Bytes as they are: a document with its own encoding (CSV with its byte-order mark).
    void writeOutBytes(const QByteArray &bytes);
    // Clears a progress bar first and draws it again after the text.
    void writeErr(const QString &text);
    // The terminal's width in columns, read at each drawing of the bar; 0 when unknown.
    void setColumns(std::function<int()> columns);
    void showProgress(int done, int total, qint64 elapsedMs);
    void endProgress();
    // Flushes both streams; a failed flush counts as a failed write.
    void flush();
    [[nodiscard]] bool errIsTerminal() const { return m_errIsTerminal; }
    // Why a write to the stream failed; empty while every write succeeded.
    [[nodiscard]] QString outFailure() const;
    [[nodiscard]] QString errFailure() const;

private:
    struct Stream
    {
        QIODevice *device = nullptr;
        QString failure;
    };
    static void write(Stream &stream, const QByteArray &bytes);
    static void flush(Stream &stream);

    mutable QMutex m_mutex;
    Stream m_out;
    Stream m_err;
    bool m_errIsTerminal = false;
    std::function<int()> m_columns;
    QString m_progress;
};

// "[#####.....]  20/40  1.4 s", at most `columns` - 1 characters, so that a terminal of that
// width never wraps it: the bar narrower on a narrow terminal, left out on a very narrow one or
// when the width is unknown (0).
[[nodiscard]] QString ProgressLine(int done, int total, qint64 elapsedMs, int columns);
