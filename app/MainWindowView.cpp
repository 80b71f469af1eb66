// The window as the link and the operations see it: their events and values, formatted for
// its fields, lamp and beeper.

#include "Announcer.h"
#include "Beeper.h"
#include "BevelPanel.h"
#include "ErrorBox.h"
#include "IndicatorShape.h"
#include "InputBlocker.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "WebPane.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

void TfrmMain::setOperationButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {btnSetData, btnClear, btnLoop, btnReader})
        button->setEnabled(enabled);
}

void TfrmMain::showStatus(const QString &text)
{
    pnMsg->setText(text);
    m_announcer->announce(text);
}

void TfrmMain::LinkConnected()
{
    setOperationButtonsEnabled(true);
    showStatus(CatalogueText(Msg::ConnectOk));
}

void TfrmMain::LinkDisconnected()
{
    showStatus(CatalogueText(Msg::Disconnect));
    setOperationButtonsEnabled(false);
}

void TfrmMain::LinkErrorReported(const QString &message)
{
    errorPresenter().ShowError(message);
}

bool TfrmMain::WindowEnabled() const
{
    return !m_inputBlocker->blocked();
}

void TfrmMain::SetWindowEnabled(bool enabled)
{
    m_inputBlocker->setBlocked(!enabled);
}

void TfrmMain::SetBusyCursor(bool busy)
{
    if (busy == m_busyCursor)
        return;
    m_busyCursor = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmMain::ShowError(const QString &message)
{
    errorPresenter().ShowError(message);
}

void TfrmMain::StatusChanged(const QString &text)
{
    showStatus(text);
}

void TfrmMain::IndicatorChanged(IndicatorColour colour)
{
    shComm->setColour(colour);
}

void TfrmMain::Beep(int frequencyHz, int durationMs)
{
    beeper().Beep(frequencyHz, durationMs);
}

void TfrmMain::SerialRead(const QByteArray &serial)
{
    pnSerial->setText(FixedTexts::SerialPrefix + ModuleText(serial));
}

void TfrmMain::VersionRead(const QByteArray &version)
{
    pnVersion->setText(FixedTexts::VersionPrefix + ModuleText(version));
}

void TfrmMain::SlotsCleared()
{
    lstData->clear();
}

void TfrmMain::SlotRead(int slot, const QByteArray &data)
{
    lstData->addItem(QString::asprintf("(%02d)", slot) + QLatin1Char(' ') + ModuleText(data));
}

void TfrmMain::CardCleared()
{
    edCardID->setText(QString());
}

void TfrmMain::CardRead(const QByteArray &card)
{
    edCardID->setText(card.isEmpty() ? FixedTexts::NoCard : ModuleText(card));
}

void TfrmMain::LoopCleared()
{
    edLoop->setText(QString());
}

void TfrmMain::LoopRead(const QByteArray &loop)
{
    edLoop->setText(ModuleText(loop));
}

void TfrmMain::NavigateWeb(const QString &location)
{
    m_web->Navigate(location);
}

void TfrmMain::RefreshWeb()
{
    m_web->Refresh();
}
