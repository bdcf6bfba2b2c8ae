#include "VokeySettings.h"

#include "IniProfile.h"
#include "TLog.h"
#include "TextHelpers.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace {

const QString Section = QStringLiteral("SETTINGS");
const QString DefaultIniName = QStringLiteral("VOKEY.INI");
constexpr int DefaultBaudRate = 4800;
constexpr int PositionFallback = 10; // GAIN or DELAY present but not a number

int SupportedSpeedOr4800(int speed)
{
    constexpr std::array<int, 5> supported { 1200, 2400, 4800, 9600, 19200 };
    return std::find(supported.begin(), supported.end(), speed) != supported.end()
        ? speed
        : DefaultBaudRate;
}

int SliderPosition(const QString& text)
{
    if (!IsNumericText(text))
        return PositionFallback;
    const std::optional<int> value = ToInteger(text);
    return value ? std::clamp(*value, SliderMinimum, SliderMaximum) : PositionFallback;
}

bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo left(a);
    const QFileInfo right(b);
    if (left.exists() && right.exists())
        return left.canonicalFilePath() == right.canonicalFilePath();
    return QDir::cleanPath(left.absoluteFilePath()) == QDir::cleanPath(right.absoluteFilePath());
}

} // namespace

QString VokeySettings::LogPath() const
{
    return ResolveAgainst(WorkDir, LogFile);
}

QString WorkDirFrom(const QString& currentDir)
{
    return currentDir.endsWith(u'/') ? currentDir : currentDir + u'/';
}

QString ResolveAgainst(const QString& workDir, const QString& name)
{
    return QDir::isAbsolutePath(name) ? name : workDir + name;
}

QString ConfigPathFromArguments(const QStringList& arguments, const QString& workDir)
{
    QString name;
    if (arguments.size() > 1 && arguments[1].toUpper() == u"-F" && arguments.size() > 2)
        name = arguments[2];
    return ResolveAgainst(workDir, name.isEmpty() ? DefaultIniName : name);
}

QString TakeAudioFile(QStringList& arguments)
{
    QString path;
    for (qsizetype i = 1; i < arguments.size();) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--audio-file") && i + 1 < arguments.size()) {
            path = arguments[i + 1];
            arguments.remove(i, 2);
        } else if (argument.startsWith(QLatin1String("--audio-file="))) {
            path = argument.mid(qsizetype(qstrlen("--audio-file=")));
            arguments.remove(i);
        } else {
            ++i;
        }
    }
    return path;
}

bool TakeAudioLoop(QStringList& arguments)
{
    return arguments.removeAll(QStringLiteral("--audio-loop")) > 0;
}

VokeySettings ReadINI(const QString& configPath, const QString& workDir)
{
    const auto read = [&](const QString& key, const QString& fallback) {
        return ReadProfileString(configPath, Section, key, fallback);
    };
    VokeySettings s;
    s.WorkDir = workDir;
    s.IniFile = configPath;
    s.InputDevice
        = ToInteger(read(QStringLiteral("DEVICE"), QStringLiteral("-1")).toUpper()).value_or(-1);
    s.DeviceName = read(QStringLiteral("DEVICENAME"), QString());
    s.ComPort = read(QStringLiteral("COMPORT"), QStringLiteral("COM1"));
    const QString baud = read(QStringLiteral("BAUDRATE"), QStringLiteral("4800")).toUpper();
    if (IsNumericText(baud)) {
        const std::optional<int> value = ToInteger(baud);
        s.BaudRate = value.value_or(DefaultBaudRate);
        s.BaudRateText = value ? QString::number(*value) : baud;
    }
    s.LogFile = read(QStringLiteral("LOGFILE"), QStringLiteral("VOKEY.LOG"));
    s.Trace = ParseFlagText(read(QStringLiteral("TRACE"), QStringLiteral("YES")));
    s.Gain = SliderPosition(read(QStringLiteral("GAIN"), QStringLiteral("1")).toUpper());
    s.Delay = SliderPosition(read(QStringLiteral("DELAY"), QStringLiteral("1")).toUpper());
    const QString timeout = read(QStringLiteral("TXTIMEOUT"), QString()).toUpper();
    const std::optional<int> seconds = IsNumericText(timeout) ? ToInteger(timeout) : std::nullopt;
    s.TxTimeout = seconds && *seconds >= 0 ? *seconds : VokeySettings::DefaultTxTimeout;
    s.Attack = read(QStringLiteral("ATTACK"), QString()).toUpper() == u"FAST"
        ? VoxDetector::Attack::Fast
        : VoxDetector::Attack::Average;
    return s;
}

QStringList LogHeaderLines(const VokeySettings& s)
{
    QStringList lines {
        QStringLiteral("--------------Parameters ----------------"),
        QStringLiteral("Configuration File ") + s.IniFile,
        QStringLiteral("LOGGING=") + FlagText(s.Trace),
        QStringLiteral("LOGFILE=") + s.LogFile,
        QStringLiteral("PORTNRO=") + s.ComPort,
        QStringLiteral("COMBAUD=") + s.BaudRateText,
        QStringLiteral("GAIN=") + QString::number(s.Gain),
        QStringLiteral("DELAY=") + QString::number(s.Delay),
        QStringLiteral("DEVICE=") + QString::number(s.InputDevice),
        QStringLiteral("TXTIMEOUT=") + QString::number(s.TxTimeout),
        QString(41, u'-'),
    };
    if (s.Attack == VoxDetector::Attack::Fast)
        lines.insert(lines.size() - 1, QStringLiteral("ATTACK=FAST"));
    return lines;
}

void StartLog(TLog& log, const VokeySettings& settings)
{
    log.SetFileName(settings.LogPath());
    // Switching the log on empties its file: never let that be the settings file.
    log.SetEnabled(settings.Trace && !SameFile(settings.LogPath(), settings.IniFile));
    for (const QString& line : LogHeaderLines(settings))
        log.WriteLine(1, line);
}

void WriteINI(VokeySettings& s)
{
    if (s.IniFile.isEmpty())
        s.IniFile = WorkDirFrom(QDir::currentPath()) + DefaultIniName;
    QList<ProfileEntry> entries {
        { QStringLiteral("COMPORT"), s.ComPort },
        { QStringLiteral("BAUDRATE"), QString::number(BaudSettingFromSpeed(s.BaudRate)) },
        { QStringLiteral("DEVICE"), QString::number(s.InputDevice) },
        { QStringLiteral("DEVICENAME"), s.DeviceName },
        { QStringLiteral("TRACE"), s.Trace ? QStringLiteral("YES") : QStringLiteral("NOT") },
        { QStringLiteral("LOGFILE"), s.LogFile },
        { QStringLiteral("GAIN"), QString::number(s.Gain) },
        { QStringLiteral("DELAY"), QString::number(s.Delay) },
        { QStringLiteral("TXTIMEOUT"), QString::number(s.TxTimeout) },
    };
    const QString attackKey = QStringLiteral("ATTACK");
    const bool fast = s.Attack == VoxDetector::Attack::Fast;
    if (fast || !ReadProfileString(s.IniFile, Section, attackKey, QString()).isEmpty())
        entries.append({ attackKey, fast ? QStringLiteral("FAST") : QStringLiteral("AVERAGE") });
    WriteProfileStrings(s.IniFile, Section, entries);
}

int SpeedFromBaudSetting(int baudSetting)
{
    return SupportedSpeedOr4800(baudSetting);
}

int BaudSettingFromSpeed(int speed)
{
    return SupportedSpeedOr4800(speed);
}
