#pragma once

#include "Outcome.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the soak presses: the scan, the four link operations and the web page button.
enum class SoakOperation { Scan, SetData, Clear, Reader, Loop, Refresh };
inline constexpr int SoakOperationCount = 6;

// How one press ended, as read back from the window. Inert: the button was disabled and
// nothing happened; LinkError: a call of the operation failed and the error box ended it.
enum class SoakOutcome { Success, NoReply, NotConnected, LinkError, Inert };
inline constexpr int SoakOutcomeCount = 5;

[[nodiscard]] QString SoakOperationName(SoakOperation operation);
[[nodiscard]] QString SoakOutcomeName(SoakOutcome outcome);
// The objectName of the button that starts the operation.
[[nodiscard]] const char *SoakButtonName(SoakOperation operation);
[[nodiscard]] bool SoakNeedsLink(SoakOperation operation);

// The window's state just before and just after one press.
struct SoakObservation
{
    SoakOperation operation = SoakOperation::Scan;
    bool buttonWasEnabled = true;
    QString statusBefore;
    IndicatorColour indicatorBefore = IndicatorColour::Red;

    QString status;
    IndicatorColour indicator = IndicatorColour::Red;
    QList<int> beepFrequencies;
    // Error box messages shown while the press was handled.
    QStringList errors;
    bool connected = false;
    // btnSetData, btnClear, btnReader, btnLoop.
    QList<bool> operationButtons;
    bool windowEnabled = true;
    bool busyCursor = false;
    QString serial;
    QString version;
    QStringList dataLines;
    QString cardId;
    QString loopText;
    QString webLocation;
};

// What a healthy module on a settled link must produce; empty texts are not compared.
struct SoakExpectation
{
    SoakOutcome outcome = SoakOutcome::Success;
    QString serial;
    QString version;
    QStringList dataLines;
    QString cardId;
    QString loopText;
    QString webLocation;
};

struct SoakVerdict
{
    SoakOutcome outcome = SoakOutcome::Success;
    // Every broken rule, in words; empty when the window is in a state the press could leave.
    QStringList problems;
};

// The kind an error box message is counted under: the message with its numbers kept, or
// "other: ..." for a message no press of the soak should ever produce.
[[nodiscard]] QString SoakErrorKind(const QString &message);
[[nodiscard]] bool SoakIsSendError(const QString &message);

// Reads the outcome from the status text and checks that the indicator, the beeps, the result
// fields, the cursor, the window and the operation buttons agree with it.
[[nodiscard]] SoakVerdict JudgeOperation(const SoakObservation &observation,
                                         const std::optional<SoakExpectation> &expected = {});

// The resident set size in kB from the text of /proc/<pid>/status; -1 when it has none.
[[nodiscard]] qint64 ResidentKilobytes(const QByteArray &procStatus);
[[nodiscard]] qint64 CurrentResidentKilobytes();
