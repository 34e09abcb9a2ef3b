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

void FileSpecifications::clear()
{
    downloads.clear();
    replaces.clear();
    deletes.clear();
}
