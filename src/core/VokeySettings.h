#pragma once

#include "VoxDetector.h"

#include <QString>
#include <QStringList>

class TLog;

// The program's settings as kept in its configuration file (section "SETTINGS").
// Defaults are those of a file without the keys.
struct VokeySettings {
    QString WorkDir; // current directory at start, ending in "/"
    QString IniFile; // full path of the configuration file
    int InputDevice = -1; // capture device; -1 is the system default
    // Name of the capture device chosen (empty for the default): device numbers shift when a
    // USB sound interface comes or goes, names do not.
    QString DeviceName;
    QString ComPort = QStringLiteral("COM1"); // serial device name, letter case kept
    int BaudRate = 4800; // serial speed in bit/s as read (before SpeedFromBaudSetting)
    QString BaudRateText = QStringLiteral("4800"); // what the log header shows for it
    QString LogFile = QStringLiteral("VOKEY.LOG"); // as configured; relative to WorkDir
    bool Trace = true; // logging on or off
    int Gain = 1; // keying threshold, 0..100
    int Delay = 1; // release delay in 50 ms units, 0..100
    // Longest continuous transmission in seconds; 0 switches the time-out off.
    int TxTimeout = DefaultTxTimeout;
    static constexpr int DefaultTxTimeout = 300;
    // How transmit starts (ATTACK): AVERAGE, the default, or FAST.
    VoxDetector::Attack Attack = VoxDetector::Attack::Average;

    // The log's full path: LogFile as it stands when absolute, else under WorkDir.
    QString LogPath() const;
};

inline constexpr int SliderMinimum = 0;
inline constexpr int SliderMaximum = 100;

// `currentDir` with a "/" at the end.
QString WorkDirFrom(const QString& currentDir);

// `name` when it is an absolute path, otherwise `workDir` + `name`.
QString ResolveAgainst(const QString& workDir, const QString& name);

// The configuration file: argument 2 when argument 1 is "-F" or "-f", else "VOKEY.INI", in
// both cases resolved against `workDir`. `arguments` starts with the program, as
// QCoreApplication::arguments() does.
QString ConfigPathFromArguments(const QStringList& arguments, const QString& workDir);
// Takes "--audio-file PATH" (or "--audio-file=PATH") out of the arguments and returns the
// path; empty when there is none.
QString TakeAudioFile(QStringList& arguments);
// Takes "--audio-loop" from the command line: the WAV file plays over and over. True when
// it was there.
bool TakeAudioLoop(QStringList& arguments);

// Reads DEVICE, DEVICENAME, COMPORT, BAUDRATE, LOGFILE, TRACE, GAIN, DELAY, TXTIMEOUT and
// ATTACK. Values that are not usable fall back as the key table says (TXTIMEOUT: anything but
// a whole number from 0 up gives 300; ATTACK: anything but FAST, in any letter case, is
// AVERAGE); nothing fails.
VokeySettings ReadINI(const QString& configPath, const QString& workDir);

// The settings block that starts each run's log (eleven lines; twelve with ATTACK=FAST).
QStringList LogHeaderLines(const VokeySettings& settings);

// Names the log after the settings, switches it on or off (on empties it) and writes the
// header block. A log file that is the configuration file itself is never switched on.
void StartLog(TLog& log, const VokeySettings& settings);

// Writes COMPORT, BAUDRATE, DEVICE, DEVICENAME, TRACE, LOGFILE, GAIN, DELAY and TXTIMEOUT,
// in that order, then ATTACK when it is FAST or the file has the key already (a file that
// never chose the fast attack stays as it was), to IniFile, all in one atomic replacement of
// the file. BaudRate here is the serial
// port's current speed; it is stored as BaudSettingFromSpeed gives it. An empty IniFile is
// first set to VOKEY.INI in the current directory. Throws EIniWrite.
void WriteINI(VokeySettings& settings);

// Speed the serial port runs at for a stored BAUDRATE: 1200, 2400, 4800, 9600 or 19200 as
// they are, every other value 4800.
int SpeedFromBaudSetting(int baudSetting);

// Value stored in BAUDRATE for the serial port's speed: the same five speeds as they are,
// every other speed (14400, 38400 and above, 110 to 600, custom) 4800.
int BaudSettingFromSpeed(int speed);
