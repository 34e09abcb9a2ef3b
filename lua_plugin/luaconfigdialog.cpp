#include "luaconfigdialog.h"

#include "luahelpers.h"
#include "luamodules.h"
#include "luastate.h"
#include "ui_luaconfigdialog.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>

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
    return hostFolderPath(vx5Functions.getConfigPath);
}

QString LuaConfigDialog::getVX5PluginPath()
{
    return hostFolderPath(vx5Functions.getPluginPath);
}

void LuaConfigDialog::collectLuaModules()
{
    const QMap<QString, bool> stored = loadConfig();
    for (const QString& name : luaModuleNames()) { // the modules the loader loads
        auto* item = new QListWidgetItem(name, ui->luaModulesListWidget);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        const bool on = stored.value(name, true); // a module nobody switched off is on
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        item->setData(Qt::UserRole, on);
    }
}

QMap<QString, bool> LuaConfigDialog::loadConfig()
{
    return storedModuleChoices();
}

bool LuaConfigDialog::saveConfig()
{
    // Modules that are not there now (a folder moved away for a while) keep their choice.
    QMap<QString, bool> remembered = loadConfig();
    const QString configFilePath = luaConfigFilePath();
    QSettings settings(configFilePath, QSettings::IniFormat);
    settings.remove(luaModulesGroup);
    settings.beginWriteArray(luaModulesGroup);
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
    if (configFilePath.isEmpty() || settings.status() != QSettings::NoError) {
        const QString text = tr("Could not write %1; the modules stay as they are.").arg(configFilePath);
        std::printf("LUA_PLUGIN: %s\n", qPrintable(text));
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::warning(parentWidget(), windowTitle(), text);
        return false;
    }
    return changed;
}

void LuaConfigDialog::onAccepted()
{
    if (saveConfig())
        restartLua();
}

void openLuaConfigDialog(QWidget* parent)
{
    LuaConfigDialog::showDialog(parent);
}

void closeLuaConfigDialog()
{
    LuaConfigDialog::closeDialog();
}
