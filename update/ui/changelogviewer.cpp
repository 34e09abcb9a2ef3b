#include "changelogviewer.h"

#include "configuration.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int initialWidth = 617;
constexpr int maxHeight = 500;
constexpr int lineMargin = 50;

} // namespace

ChangeLogViewer* ChangeLogViewer::m_instance = nullptr;
int ChangeLogViewer::attemptTimeoutMs = 2000;

void ChangeLogViewer::showRemoteChangeLogDialog(QWidget* parent, const QString& pathElement)
{
    if (!m_instance) {
        m_instance = new ChangeLogViewer(parent);
        m_instance->requestRemote(pathElement);
    }
    m_instance->show();
    m_instance->raise();
    m_instance->activateWindow();
}

ChangeLogViewer::ChangeLogViewer(QWidget* parent)
    : QDialog(parent, Qt::WindowSystemMenuHint), textEdit(new QTextEdit(this))
{
    setObjectName(QStringLiteral("ChangeLogViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Changelog"));
    textEdit->setObjectName(QStringLiteral("changeLogTextEdit"));
    textEdit->setReadOnly(true);
    textEdit->setAcceptRichText(false);
    textEdit->setLineWrapMode(QTextEdit::NoWrap);
    QFont font;
    font.setStyleHint(QFont::TypeWriter);
    textEdit->setFont(QFont(font.defaultFamily()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
    resize(initialWidth, maxHeight);
}

ChangeLogViewer::~ChangeLogViewer()
{
    if (m_instance == this)
        m_instance = nullptr;
}

QString ChangeLogViewer::text() const
{
    return textEdit->toPlainText();
}

void ChangeLogViewer::requestRemote(const QString& element)
{
    if (reply)
        return;
    textEdit->setPlainText(tr("Loading..."));
    if (!element.isEmpty())
        pathElement = element;
    QString base = getRemoteUrl();
    if (base.isEmpty()) {
        textEdit->setPlainText(tr("Failed to load changelog."));
        return;
    }
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    if (!networkManager)
        networkManager = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(base + pathElement + QLatin1String("/changelog_client.txt")));
    // A redirection is a failed attempt, as for every download of the updater.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    reply = networkManager->get(request);
    connect(reply, &QNetworkReply::finished, this, &ChangeLogViewer::onRequestFinished);
    if (!retryTimer) {
        retryTimer = new QTimer(this);
        retryTimer->setSingleShot(true);
        connect(retryTimer, &QTimer::timeout, this, &ChangeLogViewer::onRequestTimeout);
    }
    retryTimer->start(attemptTimeoutMs);
}

QString ChangeLogViewer::getRemoteUrl()
{
    if (!candidatesBuilt)
        collectCandidates();
    return getRandomMirror();
}

// The Alpha channel's address when update.ini names one; otherwise every mirror of
// mirrors.ini (also for Stable and Beta users, whose update.ini has no alpha value).
void ChangeLogViewer::collectCandidates()
{
    candidatesBuilt = true;
    const QDir root(Configuration::getAppRootPath());
    const QString updateIni = root.filePath(QStringLiteral("update.ini"));
    if (QFileInfo::exists(updateIni)) {
        const QString alpha = QSettings(updateIni, QSettings::IniFormat).value(QStringLiteral("Channel/alpha")).toString();
        if (!alpha.isEmpty()) {
            candidates << alpha;
            return;
        }
    }
    const QString mirrorsIni = root.filePath(QStringLiteral("mirrors.ini"));
    if (!QFileInfo::exists(mirrorsIni))
        return;
    QSettings mirrors(mirrorsIni, QSettings::IniFormat);
    QStringList names;
    const int count = mirrors.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < count; ++i) {
        mirrors.setArrayIndex(i);
        names << mirrors.value(QStringLiteral("mirror")).toString();
    }
    mirrors.endArray();
    for (const QString& name : std::as_const(names)) {
        const QString url = mirrors.value(name + QLatin1String("/url")).toString();
        if (!url.isEmpty())
            candidates << url;
    }
}

QString ChangeLogViewer::getRandomMirror()
{
    if (candidates.isEmpty())
        return QString();
    return candidates.takeAt(qsizetype(QRandomGenerator::global()->bounded(quint32(candidates.size()))));
}

void ChangeLogViewer::onRequestFinished()
{
    if (!reply)
        return;
    QNetworkReply* finished = reply;
    reply = nullptr;
    finished->deleteLater();
    const int status = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (finished->error() == QNetworkReply::NoError && status == 200) {
        const QString body = QString::fromUtf8(finished->readAll());
        if (!body.contains(QLatin1String("document has moved"))) {
            load(body);
            return;
        }
    }
    requestRemote(QString());
}

void ChangeLogViewer::onRequestTimeout()
{
    if (reply)
        reply->abort(); // ends in onRequestFinished with an error: the next candidate
}

void ChangeLogViewer::load(const QString& text)
{
    textEdit->setPlainText(text);
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(textEdit->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    int width = widest > 0 ? widest + lineMargin : initialWidth;
    int height = maxHeight;
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (available.isValid()) {
        height = qMin(available.height(), maxHeight);
        width = qMin(width, available.width());
    }
    resize(width, height);
}
