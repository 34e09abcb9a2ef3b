#include "userprompt.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

// Without a screen (the offscreen platform) nobody could answer a box: the updater says
// on standard error what it would have shown, and goes on.
bool headless()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

} // namespace

void UserPrompt::showError(QWidget* parent, const QString& title, const QString& text)
{
    if (headless()) {
        std::fprintf(stderr, "update: %s: %s\n", qPrintable(title), qPrintable(text));
        std::fflush(stderr);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool UserPrompt::askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    if (headless())
        return false;
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::RichText);
    return box.exec() == QMessageBox::Yes;
}
