#include "newsbanner.h"

#include "weblink.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QImage>
#include <QMouseEvent>
#include <QtMath>
#include <QPainter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTimerEvent>
#include <QUrl>

namespace {

constexpr int emptyHeight = 16;

// The news come from the update server or the command line: their markup is shown, but
// nothing they name is ever loaded (an image of "/dev/zero" would be read without end).
// An image gets a blank pixel: without an image from here, the document's image handler
// would read the named file itself.
class InertTextDocument : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl&) override
    {
        if (type != ImageResource)
            return QVariant();
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
};

void openWebLink(const QString& link)
{
    const QUrl url(link);
    if (isWebLink(url))
        QDesktopServices::openUrl(url);
}

} // namespace

NewsBanner::NewsBanner(QWidget* parent) : QWidget(parent), document(new InertTextDocument(this))
{
    setObjectName(QStringLiteral("NewsBanner"));
    setFixedHeight(emptyHeight);
    setMouseTracking(true);
}

void NewsBanner::setNews(const QString& html)
{
    newsUrl.clear();
    // Greedy: from the first "<!--" to the last "-->".
    static const QRegularExpression comment(QStringLiteral("<!--(.+)-->"),
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = comment.match(html);
    if (match.hasMatch()) {
        const QString captured = match.captured(1);
        const int equals = captured.indexOf(QLatin1Char('='));
        if (equals >= 0 && captured.left(equals) == QLatin1String("URL"))
            newsUrl = captured.mid(equals + 1);
    }
    document->setDocumentMargin(0);
    document->setHtml(html);
    paused = false;
    offset = width() - rightMargin;
    documentWidth = qCeil(document->idealWidth());
    documentHeight = qCeil(document->size().height());
    setFixedHeight(documentHeight);
    timer.start(scrollIntervalMs, this);
}

QString NewsBanner::anchorAt(const QPoint& point) const
{
    return document->documentLayout()->anchorAt(QPointF(point.x() - offset, point.y()));
}

void NewsBanner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (paused) {
        paused = false;
        timer.start(scrollIntervalMs, this);
    }
    offset -= step;
    update();
}

void NewsBanner::paintEvent(QPaintEvent*)
{
    if (paused)
        return;
    if (offset > width())
        offset = width() - rightMargin;
    QPainter painter(this);
    painter.translate(offset, (height() - documentHeight) / 2);
    document->drawContents(&painter);
    if (offset + documentWidth < -rightMargin) {
        // The text has left on the left: a blank pause, then the next pass.
        paused = true;
        offset = width() - rightMargin;
        timer.start(pauseMs, this);
    }
    setCursor(anchorAt(mapFromGlobal(QCursor::pos())).isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void NewsBanner::mousePressEvent(QMouseEvent* event)
{
    const QString link = anchorAt(event->position().toPoint());
    openWebLink(link.isEmpty() ? newsUrl : link);
    event->accept();
}
