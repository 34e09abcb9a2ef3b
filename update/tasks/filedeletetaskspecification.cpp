#include "filedeletetaskspecification.h"

#include <QFile>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(bool strict, const QString& path, QObject* parent,
                                                         qreal parentProgressRange)
    : FastFileOpTaskSpecification(path, nullptr, parent, parentProgressRange), strict(strict)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    const bool removed = QFile(fileName).remove();
    if (!strict || removed)
        return true;
    emit message(QStringLiteral("Could not delete '%1'").arg(fileName));
    return false;
}
