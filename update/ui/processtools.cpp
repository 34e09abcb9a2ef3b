#include "processtools.h"

#include "configuration.h"

#include <QDir>
#include <QProcess>

void ProcessTools::startVx5Client()
{
    const QDir root(Configuration::getAppRootPath());
    QProcess::startDetached(root.filePath(Configuration::getClientBinaryName()), QStringList(), root.path());
}
