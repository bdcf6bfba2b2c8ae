#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Reading the value lines of rigctld's extended answers, and writing raw CAT bytes in the
// form its raw-command request takes.
namespace RigctldReply {

// "PTT: n" of \get_ptt; any non-zero n (1, or 2/3 for mic/data keying) is transmit.
std::optional<int> ptt(const QList<QByteArray>& lines);

// Maker and model from \dump_caps ("Mfg name:" and "Model name:"), e.g. "Hamlib Dummy".
QString rigType(const QList<QByteArray>& lines);
// The maker alone ("Mfg name:"), e.g. "Yaesu".
QString maker(const QList<QByteArray>& lines);

// Bytes as "\0xNN\0xNN..." for \send_cmd_rx.
QByteArray encodeRaw(const QByteArray& bytes);

// Hamlib's text for an "RPRT n" code, e.g. "Invalid parameter (RPRT -1)".
QString errorText(int code);

// The radio's answer to \send_cmd_rx: binary answers come as "\0xNN..." followed by their
// count, text answers as the text itself; either may carry a "Reply:" label.
QByteArray rawReply(const QList<QByteArray>& lines);

}
