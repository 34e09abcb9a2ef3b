#pragma once

#include <QString>

// True when a path from the product description stays below the directory it is taken
// relative to: not absolute and without a ".." component ("\\" counts as a separator),
// and names a file at all (no NUL character). The updater applies it to every path it
// reads; the release tool refuses a file whose name fails it.
bool isContainedRelativePath(const QString& path);
