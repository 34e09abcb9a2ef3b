#pragma once

#include <QString>

// True when a path from the product description stays below the directory it is taken
// relative to: not absolute and without a ".." component ("\\" counts as a separator),
// and names a file at all (no NUL character). The updater applies it to every path it
// reads; the release tool refuses a file whose name fails it.
bool isContainedRelativePath(const QString& path);

// The first folder on the way from root to the file at relativePath that is a symbolic
// link (relative to root), or an empty text. Writing through such a folder would write
// wherever the link points.
QString linkedFolderOnTheWay(const QString& root, const QString& relativePath);
