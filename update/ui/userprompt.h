#pragma once

#include <QString>

class QWidget;

// Everything in the updater that waits on a person: error boxes and the one question.
// The window asks through this; tests put in answers of their own. On the offscreen
// platform (no screen) errors go to standard error and the question is answered No.
class UserPrompt
{
public:
    virtual ~UserPrompt() = default;
    // A critical message box with an OK button. The text is shown as plain text: it may
    // come from a server or the command line.
    virtual void showError(QWidget* parent, const QString& title, const QString& text);
    // A question with Yes and No (the text is the updater's own, rich text); true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& title, const QString& text);

    // True when no one can answer: the window then ends the program after a failed update
    // instead of waiting on "Restart".
    virtual bool unattended() const { return headless(); }

    // True on the offscreen platform, where no one sees a window.
    static bool headless();
};
