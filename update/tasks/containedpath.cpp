#include "containedpath.h"

#include <QStringList>

bool isContainedRelativePath(const QString& path)
{
    QString normalized = path;
    normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (normalized.isEmpty() || normalized.startsWith(QLatin1Char('/')) || normalized.contains(QChar(0)))
        return false;
    return !normalized.split(QLatin1Char('/')).contains(QLatin1String(".."));
}
