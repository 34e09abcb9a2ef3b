#pragma once

class QUrl;

// Links that come from the network (the banner service, the news text) are opened or
// fetched only when they are web addresses: http or https with a host. Anything else
// (file:, custom schemes, relative text) is no link.
bool isWebLink(const QUrl& url);
