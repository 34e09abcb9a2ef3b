#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

#include <memory>

class Ui_LuaConfigDialog;

// The dialog in which the user switches Lua modules (folders of "lua_plugin/" with an
// "init.lua") on and off. The choice is kept in "luaconfig.ini" in the client's
// configuration folder; when it changed, the Lua state restarts (once no script runs)
// and loads the modules anew.
class LuaConfigDialog : public QDialog
{
    Q_OBJECT

public:
    static LuaConfigDialog* m_instance; // the open dialog, or null

    static void showDialog(QWidget* parent);
    static void closeDialog();

    ~LuaConfigDialog() override;

    static QString getVX5ConfigPath();
    static QString getVX5PluginPath();
    // Module name → on, as stored.
    static QMap<QString, bool> loadConfig();
    // Writes the choice shown (and keeps that of modules not present now); true when the
    // selection differs from the one shown at opening. False also when the file could not
    // be written, which is reported.
    bool saveConfig();

private slots:
    void onAccepted();

private:
    explicit LuaConfigDialog(QWidget* parent);
    void collectLuaModules();

    std::unique_ptr<Ui_LuaConfigDialog> ui;
};

void openLuaConfigDialog(QWidget* parent);
void closeLuaConfigDialog();
