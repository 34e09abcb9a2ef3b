#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Makes sure only one updater runs for one installation and one user. The first one
// listens on a local socket named after its program path and the user's home directory,
// in the user's own runtime directory and accessible to the user only; a later one
// connects, sends "#" (come to the front) and ends.
class SingleInstanceChecker : public QObject
{
    Q_OBJECT

public:
    static constexpr int waitMs = 1000;

    // Tells a running updater the message; true if one took it.
    static bool checkExistingInstance(const QString& message);

    // Listens for later starts. When the name is taken: if an updater answers there, it
    // has been told to come to the front and handedOver() is true; otherwise the name is
    // a leftover of a crashed updater, and it is removed and taken over.
    explicit SingleInstanceChecker(QObject* parent);

    static QString getLocalServerName();
    // Where the socket lies: the runtime directory followed by the name.
    static QString getLocalServerPath();

    bool isListening() const;
    bool handedOver() const { return otherInstanceRuns; }

signals:
    void otherInstanceActivate(QString message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    QLocalServer* server;           // owned (child)
    QLocalSocket* client = nullptr; // owned while set (deleted later)
    bool otherInstanceRuns = false;
};
