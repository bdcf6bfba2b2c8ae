#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `data` so that a crash or a full disk leaves either the
// old or the new file, never a part of one: the data goes to a temporary file beside it,
// is flushed to disk, and is then renamed over the old file. A symbolic link is followed
// and stays a link. The old file's permissions (and, where allowed, owner) are kept; a new
// file gets the usual mode for the process's umask. A file the user may not write, or one
// without any write permission, is refused and stays as it was. Returns false with `error`
// set.
//
// (QSaveFile is not used: it reports success when the disk fills while it flushes.)
bool ReplaceFileAtomically(const QString& path, const QByteArray& data, QString* error);

// Opens `path` for writing at its end (or emptied first, with `truncate`), creating a regular
// file when there is none. Anything else (a pipe, a device, a directory) is refused without
// being opened for writing, so that opening never blocks and never touches a device. Returns
// the descriptor, or -1.
int OpenRegularFileForWriting(const QString& path, bool truncate);
