#pragma once

#include <QLabel>
#include <QString>

// A label that opens its URL in the desktop's browser when clicked, with any button.
// Only web links (http, https) are opened: the banner's URL comes from the network.
class UrlClickLabel : public QLabel
{
    Q_OBJECT

public:
    explicit UrlClickLabel(QWidget* parent = nullptr);

    void setUrl(const QString& url);
    QString url() const { return target; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString target;
};
