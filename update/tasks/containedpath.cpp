#include "containedpath.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

bool isContainedRelativePath(const QString& path)
{
    QString normalized = path;
    normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (normalized.isEmpty() || normalized.startsWith(QLatin1Char('/')) || normalized.contains(QChar(0)))
        return false;
    return !normalized.split(QLatin1Char('/')).contains(QLatin1String(".."));
}

QString linkedFolderOnTheWay(const QString& root, const QString& relativePath)
{
    const QStringList parts = QDir::cleanPath(relativePath).split(QLatin1Char('/'));
    QString path;
    for (int i = 0; i + 1 < parts.size(); ++i) { // the folders, not the file
        path += (i == 0 ? QString() : QStringLiteral("/")) + parts.at(i);
        if (QFileInfo(root + QLatin1Char('/') + path).isSymLink())
            return path;
    }
    return QString();
}
