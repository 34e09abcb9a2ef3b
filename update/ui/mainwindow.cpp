#include "mainwindow.h"

#include "changelogviewer.h"
#include "configuration.h"
#include "processtools.h"
#include "singleinstancechecker.h"
#include "updateengine.h"
#include "userprompt.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPixmap>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

const QString makerSite = QStringLiteral("https://www.voxmere.com/");
constexpr int autoClientStartMs = 1000;
constexpr int bannerWidth = 468;
constexpr int bannerHeight = 60;

} // namespace

MainWindow::MainWindow(Configuration& configuration)
    : ui(new Ui_MainWindow), configuration(&configuration), engine(new UpdateEngine(configuration, this)),
      prompt(new UserPrompt),
      exitFunction([](int code) { QCoreApplication::exit(code); })
{
    Q_INIT_RESOURCE(update_res);
    connect(engine, &UpdateEngine::error, this, &MainWindow::onError);
    connect(engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(engine, &UpdateEngine::updateProgress, this, &MainWindow::onProgressUpdate);
    connect(engine, &UpdateEngine::downloadProgress, this, &MainWindow::onDownloadProgress);
    connect(engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);
    connect(engine, &UpdateEngine::bannerFound, this, &MainWindow::onBannerFound);

    ui->setupUi(this);
    // Queued: runs after the toggle has shown the log.
    connect(ui->detailsButton, &QPushButton::clicked, this, &MainWindow::onDetailsPressed, Qt::QueuedConnection);
    ui->voxmereLabel->setUrl(makerSite);
    ui->outputTextEdit->hide();
    onDownloadProgress(0, 0, 0, false);

    instances = new SingleInstanceChecker(this);
    connect(instances, &SingleInstanceChecker::otherInstanceActivate, this, &MainWindow::onOtherInstanceActivate);
    connect(&configuration, &Configuration::fatalError, this, &MainWindow::onFatalConfigError);
    engine->getBanner();
}

MainWindow::~MainWindow() = default;

bool MainWindow::handedOver() const
{
    return instances->handedOver();
}

void MainWindow::setPromptForTests(std::unique_ptr<UserPrompt> replacement)
{
    prompt = std::move(replacement);
}

void MainWindow::setExitFunctionForTests(ExitFunction function)
{
    exitFunction = std::move(function);
}

void MainWindow::setUIToConfigSpecs()
{
    const QStringList channels{tr("Stable"), tr("Beta"), tr("Alpha")};
    const QString channel = channels.value(int(configuration->updateChannel));
    QString text;
    // The version label may come from the command line or the server: never markup.
    if (!configuration->versionName.isEmpty())
        text = QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">") +
               tr("Update to Voxmere %1").arg(configuration->versionName.toHtmlEscaped()) + QStringLiteral("</div>");
    text += QStringLiteral("<div style=\"margin-top:8px\">") +
            tr("You are currently on <strong>%1 channel</strong>.").arg(channel) + QStringLiteral("</div>");
    ui->versionLabel->setText(text);
    if (configuration->startMode == 1)
        ui->startButton->setEnabled(false);
}

void MainWindow::setNews()
{
    ui->newsBanner->setNews(configuration->news);
}

void MainWindow::on_startButton_clicked()
{
    if (updateFinishedFlag) {
        ProcessTools::startVx5Client();
        close();
        return;
    }
    if (engine->busy())
        return;
    if (engine->initialize()) {
        ui->startButton->setEnabled(false);
        engine->startUpdate();
    }
}

void MainWindow::onAutoStartUpdate()
{
    on_startButton_clicked();
}

void MainWindow::onAppendText(const QString& text)
{
    log.append(text);
    // Without a screen the log is the only account of what happened.
    if (UserPrompt::headless()) {
        std::printf("update: %s\n", qPrintable(text));
        std::fflush(stdout);
    }
    // The log follows new lines, unless the user has scrolled up to read.
    QScrollBar* scrollBar = ui->outputTextEdit->verticalScrollBar();
    const bool following = scrollBar->value() == scrollBar->maximum();
    // As plain text: log lines carry server texts, URLs and paths.
    QTextCursor cursor(ui->outputTextEdit->document());
    cursor.movePosition(QTextCursor::End);
    if (!ui->outputTextEdit->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    if (following)
        scrollBar->setValue(scrollBar->maximum());
}

void MainWindow::onProgressUpdate(qreal doneFrac)
{
    ui->totalProgressBar->setValue(int(doneFrac * 1000));
}

void MainWindow::onDownloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading)
{
    for (QWidget* label : {static_cast<QWidget*>(ui->totalSizeLabel), static_cast<QWidget*>(ui->totalTotalSizeLabel),
                           static_cast<QWidget*>(ui->downloadSpeedLabel), static_cast<QWidget*>(ui->label_6)})
        label->setVisible(downloading);
    if (!downloading)
        return;
    ui->totalSizeLabel->setText(tr("%1 KB").arg(downloadDone / 1000));
    ui->totalTotalSizeLabel->setText(tr("%1 KB").arg(downloadTotal / 1000));
    ui->downloadSpeedLabel->setText(tr("%1 KB/s").arg(speed / 1000));
}

void MainWindow::onUpdateFinished()
{
    updateFinishedFlag = true;
    if (configuration->startMode == 1 && !ChangeLogViewer::m_instance) {
        QTimer::singleShot(autoClientStartMs, this, &MainWindow::on_startButton_clicked);
        return;
    }
    ui->startButton->setText(tr("Start Voxmere"));
    ui->startButton->setEnabled(true);
    ui->startButton->setFocus();
}

void MainWindow::onUpdateCanceled()
{
    if (closeRequested) {
        exitFunction(0);
        return;
    }
    updateFinishedFlag = false;
    engine->reset();
    ui->startButton->setText(tr("Restart"));
    ui->startButton->setEnabled(true);
    onAppendText(tr("Update cancelled"));
    ui->totalProgressBar->setValue(0);
    prompt->showError(this, tr("Update"),
                      tr("Update cancelled. Push \"Details\" to check reasons.") + QLatin1Char(' ') +
                          (UpdateLog::path().isEmpty() ? QString() : tr("The log is kept in %1.").arg(UpdateLog::path())));
    if (prompt->unattended())
        exitFunction(unattendedFailureExitCode);
}

void MainWindow::onError(const QString& errorMessage)
{
    onAppendText(errorMessage);
    prompt->showError(this, tr("Error"), errorMessage);
}

void MainWindow::onFatalError(const QString& errorMessage)
{
    prompt->showError(this, tr("Error"), errorMessage);
    exitFunction(2);
}

void MainWindow::onFatalConfigError(const QString& errorMessage)
{
    prompt->showError(nullptr, tr("Error"), errorMessage);
    exitFunction(configuration->failureExitCode);
}

void MainWindow::onOtherInstanceActivate(const QString& message)
{
    if (message != QLatin1String("#"))
        return;
    raise();
    activateWindow();
}

void MainWindow::onBannerFound(const QByteArray& bannerImage, const QString& clickUrl)
{
    QPixmap pixmap;
    if (!pixmap.loadFromData(bannerImage))
        return;
    const QUrl url(clickUrl);
    ui->banner->setToolTip(
        tr("Click to open \"%1://%2\"").arg(url.scheme().toHtmlEscaped(), url.host().toHtmlEscaped()));
    ui->banner->setUrl(clickUrl);
    ui->banner->setPixmap(pixmap.scaled(bannerWidth, bannerHeight));
}

void MainWindow::onDetailsPressed()
{
    if (ui->outputTextEdit->isVisible())
        ui->outputTextEdit->verticalScrollBar()->setValue(ui->outputTextEdit->verticalScrollBar()->maximum());
}

void MainWindow::on_changelogButton_clicked()
{
    ChangeLogViewer::showRemoteChangeLogDialog(this, QString::number(configuration->clientVersion));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!engine->busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeRequested)
        return;
    if (prompt->askYesNo(this, tr("Question"), tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"))) {
        closeRequested = true;
        engine->cancelUpdate();
    }
}
