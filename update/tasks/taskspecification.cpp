#include "taskspecification.h"

#include <QDebug>

TaskSpecification::TaskSpecification(QObject* parent, qreal parentProgressRange)
    : QObject(parent), parentProgressRange(parentProgressRange)
{
}

void TaskSpecification::setParentProgressRange(qreal range)
{
    parentProgressRange = range;
}

void TaskSpecification::reset()
{
    cancelRequested = false;
    state = NotStarted;
    setProgress(0.0);
}

void TaskSpecification::timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading)
{
    downloadDone = 0;
    downloadTotal = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::userCanceled()
{
    cancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification*) {}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification* other)
{
    if (other != this && state == Running)
        handleOtherTaskCancelled(other);
}

void TaskSpecification::setProgress(qreal fraction)
{
    progress = fraction * parentProgressRange;
    emit updateProgress(progress);
}

bool TaskSpecification::tryEnd(TaskState endState)
{
    if (state == Finished || state == ErrorCanceled || state == UserCanceled) {
        // Ending twice would make a parent count this task twice and start extra sub-tasks.
        qWarning("%s ended again (state %d -> %d); ignored", metaObject()->className(), int(state), int(endState));
        return false;
    }
    state = endState;
    return true;
}

void TaskSpecification::finish()
{
    if (!tryEnd(Finished))
        return;
    setProgress(1.0);
    emit finished(this);
}

void TaskSpecification::errorCancel()
{
    if (tryEnd(ErrorCanceled))
        emit canceled(this);
}

void TaskSpecification::userCancel()
{
    if (tryEnd(UserCanceled))
        emit canceled(this);
}
