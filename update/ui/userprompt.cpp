#include "userprompt.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

bool UserPrompt::headless()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void UserPrompt::showError(QWidget* parent, const QString& title, const QString& text)
{
    // Nobody could answer a box: say on standard error what it would have shown, and go on.
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
