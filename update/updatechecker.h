#pragma once

#include "updatechannel.h"
#include "updateserver.h"

#include <QList>
#include <QPair>
#include <QString>

// Asks the update server for the latest version of every channel and for the news text:
// two small UDP request/reply exchanges on one socket, blocking the calling thread.
class UpdateChecker
{
public:
    static constexpr int receiveTimeoutSeconds = 5;
    static constexpr int channelListMaxBytes = 511;
    static constexpr int newsMaxBytes = 4095;

    explicit UpdateChecker(const UpdateServer& server = UpdateServer::fromEnvironment());

    // One query attempt; true when both replies arrived. Each attempt starts from an
    // empty channel list, so a retry never mixes in entries of an earlier reply.
    bool checkUpdate();

    // (version number text, version label) of the channel, or two empty strings.
    QPair<QString, QString> getClientVersionByChannel(UpdateChannel channel) const;

    // Splits a channel list reply: entries at ",", number and label at the first "#".
    static QList<QPair<QString, QString>> parseChannelList(const QString& text);

    QList<QPair<QString, QString>> channelList;
    QString newsText;

private:
    UpdateServer server;
};
