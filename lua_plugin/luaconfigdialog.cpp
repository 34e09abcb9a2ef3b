#include "luaconfigdialog.h"

#include "luahelpers.h"
#include "ui_luaconfigdialog.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>

namespace {

const QString configFile = QStringLiteral("luaconfig.ini");
const QString modulesGroup = QStringLiteral("Modules");

// The host's path, or "" when it does not fit (a cut path would name another folder).
QString hostPath(HostPathGetter getter)
{
    char path[hostPathSize];
    return getHostPath(getter, path) ? QString::fromLocal8Bit(path) : QString();
}

QString configFilePath()
{
    return LuaConfigDialog::getVX5ConfigPath() + configFile;
}

} // namespace

LuaConfigDialog* LuaConfigDialog::m_instance = nullptr;

void LuaConfigDialog::showDialog(QWidget* parent)
{
    if (!m_instance)
        m_instance = new LuaConfigDialog(parent);
    m_instance->show();
}

void LuaConfigDialog::closeDialog()
{
    delete m_instance;
}

LuaConfigDialog::LuaConfigDialog(QWidget* parent) : QDialog(parent), ui(new Ui_LuaConfigDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    collectLuaModules();
    connect(this, &QDialog::accepted, this, &LuaConfigDialog::onAccepted);
}

LuaConfigDialog::~LuaConfigDialog()
{
    if (m_instance == this)
        m_instance = nullptr;
}

QString LuaConfigDialog::getVX5ConfigPath()
{
    return hostPath(vx5Functions.getConfigPath);
}

QString LuaConfigDialog::getVX5PluginPath()
{
    return hostPath(vx5Functions.getPluginPath);
}

void LuaConfigDialog::collectLuaModules()
{
    const QDir folder(getVX5PluginPath() + QLatin1String("lua_plugin/"));
    const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    const QMap<QString, bool> stored = loadConfig();
    for (const QString& name : names) {
        if (!QFileInfo::exists(folder.filePath(name + QLatin1String("/init.lua"))))
            continue;
        auto* item = new QListWidgetItem(name, ui->luaModulesListWidget);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        const bool on = stored.value(name, true); // a module nobody switched off is on
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        item->setData(Qt::UserRole, on);
    }
}

QMap<QString, bool> LuaConfigDialog::loadConfig()
{
    QMap<QString, bool> modules;
    QSettings settings(configFilePath(), QSettings::IniFormat);
    const int count = settings.beginReadArray(modulesGroup);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        const QString on = settings.value(QStringLiteral("on")).toString();
        const QString off = settings.value(QStringLiteral("off")).toString();
        if (!on.isEmpty())
            modules.insert(on, true);
        else if (!off.isEmpty())
            modules.insert(off, false);
    }
    settings.endArray();
    return modules;
}

bool LuaConfigDialog::saveConfig()
{
    // Modules that are not there now (a folder moved away for a while) keep their choice.
    QMap<QString, bool> remembered = loadConfig();
    QSettings settings(configFilePath(), QSettings::IniFormat);
    settings.remove(modulesGroup);
    settings.beginWriteArray(modulesGroup);
    bool changed = false;
    int index = 0;
    const auto write = [&settings, &index](const QString& name, bool on) {
        settings.setArrayIndex(index++);
        settings.setValue(on ? QStringLiteral("on") : QStringLiteral("off"), name);
    };
    for (int row = 0; row < ui->luaModulesListWidget->count(); ++row) {
        const QListWidgetItem* item = ui->luaModulesListWidget->item(row);
        const bool on = item->checkState() == Qt::Checked;
        changed = changed || on != item->data(Qt::UserRole).toBool();
        write(item->text(), on);
        remembered.remove(item->text());
    }
    for (auto it = remembered.cbegin(); it != remembered.cend(); ++it)
        write(it.key(), it.value());
    settings.endArray();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        const QString text = tr("Could not write %1; the modules stay as they are.").arg(configFilePath());
        std::printf("LUA_PLUGIN: %s\n", qPrintable(text));
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::warning(parentWidget(), windowTitle(), text);
        return false;
    }
    return changed;
}

void LuaConfigDialog::onAccepted()
{
    if (saveConfig()) {
        closeLua();
        initLua();
    }
}

void openLuaConfigDialog(QWidget* parent)
{
    LuaConfigDialog::showDialog(parent);
}

void closeLuaConfigDialog()
{
    LuaConfigDialog::closeDialog();
}
