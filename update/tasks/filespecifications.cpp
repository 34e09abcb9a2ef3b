#include "filespecifications.h"

#include "configuration.h"

#include <QFileInfo>

QString FileReplaceSpecification::destFileName(const QString& prefix) const
{
    const QString path = pureDestFilePath();
    if (prefix.isEmpty())
        return path;
    const QFileInfo info(path);
    const QString directory = info.path();
    const QString renamed = prefix + info.fileName();
    return directory == QLatin1String(".") ? renamed : directory + QLatin1Char('/') + renamed;
}

QString FileReplaceSpecification::oldDestFileName() const
{
    return destFileName(Configuration::getSpecialFileRenamePrefix());
}

bool isContainedRelativePath(const QString& path)
{
    QString normalized = path;
    normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (normalized.isEmpty() || normalized.startsWith(QLatin1Char('/')) || normalized.contains(QChar(0)))
        return false;
    return !normalized.split(QLatin1Char('/')).contains(QLatin1String(".."));
}

void FileSpecifications::clear()
{
    downloads.clear();
    replaces.clear();
    deletes.clear();
}
