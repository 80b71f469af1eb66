#pragma once

#include <QString>

// The name of the application as a whole, the title of its error box.
[[nodiscard]] QString ApplicationTitle();

// The text the error box shows for a message: a full stop is appended when the message's last
// character sorts after '.', so a message ending in a quote mark or a bracket stays as it is.
[[nodiscard]] QString ErrorBoxText(const QString &message);

class ErrorPresenter
{
public:
    virtual ~ErrorPresenter() = default;
    virtual void ShowError(const QString &message) = 0;
};

// The application's standard error box: modal, stop icon, one OK button, titled with the
// application title. Its nested loop keeps socket events flowing while it is open.
class MessageBoxPresenter : public ErrorPresenter
{
public:
    void ShowError(const QString &message) override;
};

// The presenter in use; a MessageBoxPresenter unless another one was set.
[[nodiscard]] ErrorPresenter &errorPresenter();
// The presenter is not owned; nullptr restores the message box.
void setErrorPresenter(ErrorPresenter *presenter);
