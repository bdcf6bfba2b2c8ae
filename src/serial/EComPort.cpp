#include "serial/EComPort.h"

#include <QDebug>

#include <array>
#include <cstring>
#include <mutex>

namespace {

// Index 0 is the error-code suffix; 1 to 23 the reason codes.
std::array<std::string, ComPortMessageCount + 1> g_texts = {
    " (win error code: %d)",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::mutex g_reportMutex;
TApplicationErrorReport g_report;

std::string ComposeMessage(int reasonCode, int systemErrorCode)
{
    std::string text = ComPortMessage(reasonCode);
    if (systemErrorCode == -1)
        return text;
    // The suffix comes from a translation catalogue: substitute its one %d by hand rather
    // than hand a foreign format string to printf.
    std::string suffix = g_texts[0];
    const auto at = suffix.find("%d");
    if (at != std::string::npos)
        suffix.replace(at, 2, std::to_string(systemErrorCode));
    // The system's own words after the code: an operator can look them up.
    if (systemErrorCode > 0)
        suffix += std::string(": ") + std::strerror(systemErrorCode);
    return text + suffix;
}

} // namespace

EComPort::EComPort(int reasonCode, int systemErrorCode)
    : std::runtime_error(ComposeMessage(reasonCode, systemErrorCode))
    , m_systemErrorCode(systemErrorCode)
    , m_reasonCode(reasonCode)
{
}

void LoadComPortMessages(const std::function<std::string(const char* text)>& lookup)
{
    for (auto& text : g_texts)
        text = lookup(text.c_str());
}

std::string ComPortMessage(int reasonCode)
{
    if (reasonCode < 1 || reasonCode > ComPortMessageCount)
        return {};
    return g_texts[static_cast<std::size_t>(reasonCode)];
}

void SetApplicationErrorReport(TApplicationErrorReport report)
{
    std::lock_guard lock(g_reportMutex);
    g_report = std::move(report);
}

void ReportApplicationError(const QString& message)
{
    TApplicationErrorReport report;
    {
        std::lock_guard lock(g_reportMutex);
        report = g_report;
    }
    if (report)
        report(message);
    else
        qWarning().noquote() << message;
}

void ReportCurrentException()
{
    try {
        throw;
    } catch (const std::exception& error) {
        ReportApplicationError(QString::fromUtf8(error.what()));
    } catch (...) {
        ReportApplicationError(QStringLiteral("Unknown exception"));
    }
}
