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

ErrorPresenter &errorPresenter()
{
    static MessageBoxPresenter messageBox;
    return g_presenter ? *g_presenter : messageBox;
}

void setErrorPresenter(ErrorPresenter *presenter)
{
    g_presenter = presenter;
}
