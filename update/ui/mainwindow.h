#pragma once

#include "updatelog.h"
#include <QWidget>

#include <functional>
#include <memory>

class Configuration;
class SingleInstanceChecker;
class Ui_MainWindow;
class UpdateEngine;
class UserPrompt;

// The updater's window: what is installed from which channel, news, banner, progress,
// download statistics, a log, and the buttons. It turns the engine's signals into what
// the user sees; the engine does the work.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    using ExitFunction = std::function<void(int)>;

    // The exit code of an update that failed or was cancelled with no one to restart it.
    static constexpr int unattendedFailureExitCode = 3;

    explicit MainWindow(Configuration& configuration);
    ~MainWindow() override;

    void setUIToConfigSpecs();
    void setNews();
    // True when another updater of this installation was found running (and told to come
    // to the front) while this one started: the program is to end.
    bool handedOver() const;

    // Test seams: who answers the message boxes, and what ends the program (by default
    // QCoreApplication::exit). Never changed in production.
    void setPromptForTests(std::unique_ptr<UserPrompt> prompt);
    void setExitFunctionForTests(ExitFunction function);

    UpdateEngine* updateEngine() const { return engine; }

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onFatalConfigError(const QString& errorMessage);
    void onFatalError(const QString& errorMessage);
    void onError(const QString& errorMessage);
    void onAutoStartUpdate();
    void on_startButton_clicked();
    void onAppendText(const QString& text);
    void onProgressUpdate(qreal doneFrac);
    void onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onOtherInstanceActivate(const QString& message);
    void onBannerFound(const QByteArray& bannerImage, const QString& clickUrl);
    void onDetailsPressed();
    void on_changelogButton_clicked();

private:
    std::unique_ptr<Ui_MainWindow> ui; // the form's widgets
    Configuration* configuration;     // not owned
    UpdateEngine* engine;             // owned (child)
    SingleInstanceChecker* instances; // owned (child)
    std::unique_ptr<UserPrompt> prompt;
    ExitFunction exitFunction;
    UpdateLog log;
    bool updateFinishedFlag = false;
    bool closeRequested = false;
};
