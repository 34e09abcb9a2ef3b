#pragma once

#include <QDialog>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QTextEdit;
class QTimer;

// A non-modal dialog with the changelog of the version to install, fetched over HTTP
// from the Alpha channel's address or from the mirrors, one at a time in random order,
// each given one attempt of 2 seconds. Only a 200 answer counts; redirections are not
// followed. The text is shown as it is (never as HTML), in a monospaced font.
class ChangeLogViewer : public QDialog
{
    Q_OBJECT

public:
    static ChangeLogViewer* m_instance; // the open viewer, or null
    // How long one attempt may take. Tests shorten it; production never changes it.
    static int attemptTimeoutMs;

    static void showRemoteChangeLogDialog(QWidget* parent, const QString& pathElement);

    ~ChangeLogViewer() override;

    void requestRemote(const QString& pathElement);
    QString getRemoteUrl();
    QString getRandomMirror();
    void load(const QString& text);
    QString text() const;

private slots:
    void onRequestFinished();
    void onRequestTimeout();

private:
    explicit ChangeLogViewer(QWidget* parent);
    void collectCandidates();

    QTextEdit* textEdit;                             // owned (child)
    QNetworkAccessManager* networkManager = nullptr; // owned (child), made on first use
    QNetworkReply* reply = nullptr;                  // owned while set (deleted later)
    QTimer* retryTimer = nullptr;                    // owned (child), made on first use
    QStringList candidates;
    bool candidatesBuilt = false;
    QString pathElement;
};
