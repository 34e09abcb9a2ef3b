#pragma once

#include <QBasicTimer>
#include <QString>
#include <QWidget>

class QTextDocument;

// One line of HTML news scrolling from right to left, 0.5 pixel every 10 ms, with a blank
// pause of 3 seconds between passes. A click on a link opens it; a click elsewhere opens
// the news's own address, given as an HTML comment "<!--URL=address-->". Only web links
// (http, https) are opened. The news never load a resource (images, style sheets).
class NewsBanner : public QWidget
{
    Q_OBJECT

public:
    static constexpr int scrollIntervalMs = 10;
    static constexpr int pauseMs = 3000;
    static constexpr qreal step = 0.5;
    static constexpr int rightMargin = 10;

    explicit NewsBanner(QWidget* parent = nullptr);

    void setNews(const QString& html);
    // The link target under a point of the widget; empty if none.
    QString anchorAt(const QPoint& point) const;
    QString clickUrl() const { return newsUrl; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QTextDocument* document; // owned (child)
    qreal offset = 0;
    int documentWidth = 0;
    int documentHeight = 0;
    bool paused = false;
    QBasicTimer timer;
    QString newsUrl;
};
