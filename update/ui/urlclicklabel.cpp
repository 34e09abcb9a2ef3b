#include "urlclicklabel.h"

#include "weblink.h"

#include <QDesktopServices>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget* parent) : QLabel(parent) {}

void UrlClickLabel::setUrl(const QString& url)
{
    target = url;
}

void UrlClickLabel::mousePressEvent(QMouseEvent*)
{
    const QUrl url(target);
    if (isWebLink(url))
        QDesktopServices::openUrl(url);
}
