#include "ErrorBox.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

static ErrorPresenter *g_presenter = nullptr;

QString ApplicationTitle()
{
    return QStringLiteral("KAVRO VELQA Module Config");
}

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void MessageBoxPresenter::ShowError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("errorBox"));
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

RecordingPresenter::RecordingPresenter(Callback whileOpen) : m_whileOpen(std::move(whileOpen)) {}

void RecordingPresenter::ShowError(const QString &message)
{
    m_messages.append(message);
    if (m_whileOpen)
        m_whileOpen(message);
}

void RecordingPresenter::SetWhileOpen(Callback whileOpen)
{
    m_whileOpen = std::move(whileOpen);
}

void RecordingPresenter::Clear()
{
    m_messages.clear();
}

QStringList RecordingPresenter::shownTexts() const
{
    QStringList texts;
    texts.reserve(m_messages.size());
    for (const QString &message : m_messages)
        texts.append(ErrorBoxText(message));
    return texts;
}

ErrorPresenter &errorPresenter()
{
    static MessageBoxPresenter messageBox;
    return g_presenter ? *g_presenter : messageBox;
}

void setErrorPresenter(ErrorPresenter *presenter)
{
    g_presenter = presenter;
}
