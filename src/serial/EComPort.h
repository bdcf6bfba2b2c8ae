#pragma once

// The serial port's exception: a message text, the reason code (the row of the message
// table, 1 to 23) and the system's error code (errno, or -1 when there is none).

#include <QString>

#include <functional>
#include <stdexcept>
#include <string>

class EComPort : public std::runtime_error {
public:
    explicit EComPort(int reasonCode, int systemErrorCode = -1);

    int SystemErrorCode() const { return m_systemErrorCode; }
    int ReasonCode() const { return m_reasonCode; }
    QString Message() const { return QString::fromUtf8(what()); }

private:
    int m_systemErrorCode;
    int m_reasonCode;
};

// Reason codes of the message table.
enum : int {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_InvalidAsync = 4,
    CError_PurgeFailed = 5,
    CError_AsyncCheck = 6,
    CError_SetStateFailed = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComFailed = 9,
    CError_ClearComFailed = 10,
    CError_ModemStatFailed = 11,
    CError_EscapeComFailed = 12,
    CError_TransmitFailed = 13,
    CError_ConnChangeProp = 14,
    CError_EnumPortsFailed = 15,
    CError_StoreFailed = 16,
    CError_LoadFailed = 17,
    CError_RegFailed = 18,
    CError_LedStateFailed = 19,
    CError_ThreadCreated = 20,
    CError_WaitFailed = 21,
    CError_HasLink = 22,
    CError_RegError = 23,
};

inline constexpr int ComPortMessageCount = 23;

// Passes every text of the message table and the error-code suffix once through the given
// lookup (the translation runtime's, domain "cport"); the results are what the exceptions
// carry from then on. Without a call the texts stand as they are. Call at program start.
void LoadComPortMessages(const std::function<std::string(const char* text)>& lookup);

// The (translated) text of a reason code, empty for a code outside the table.
std::string ComPortMessage(int reasonCode);

// The application-wide error report: where a failure goes that no caller can receive (an
// opening when loading ends, a step delivered through the window hand-over). The default
// writes a warning to the Qt log; the application installs its message box here.
using TApplicationErrorReport = std::function<void(const QString& message)>;
void SetApplicationErrorReport(TApplicationErrorReport report);
void ReportApplicationError(const QString& message);
// Reports the exception currently being handled; call only inside a catch block.
void ReportCurrentException();
