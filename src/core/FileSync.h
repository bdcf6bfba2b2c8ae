#pragma once

#include <QString>

// Makes the directory entry of a file that was just renamed into place durable, so that
// the rename itself survives a power loss. Failures are ignored: the data is already safe.
void SyncParentDirectory(const QString& filePath);
