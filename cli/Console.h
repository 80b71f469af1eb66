#pragma once

#include <QMutex>
#include <QString>

class QIODevice;

// Standard output and error for the command, shared by the module threads: results go to the
// output, trace lines, messages and the progress bar to the error stream. The progress bar is
// drawn only when the error stream is a terminal.
class Console
{
public:
    Console(QIODevice *out, QIODevice *err, bool errIsTerminal);

    void writeOut(const QString &text);
    // Clears a progress bar first and draws it again after the text.
    void writeErr(const QString &text);
    void showProgress(int done, int total, qint64 elapsedMs);
    void endProgress();
    [[nodiscard]] bool errIsTerminal() const { return m_errIsTerminal; }

private:
    QMutex m_mutex;
    QIODevice *m_out;
    QIODevice *m_err;
    bool m_errIsTerminal = false;
    QString m_progress;
};

// "[#####.....]  20/40  1.4 s" for a bar `width` characters wide between the brackets.
[[nodiscard]] QString ProgressLine(int done, int total, qint64 elapsedMs, int width = 30);
