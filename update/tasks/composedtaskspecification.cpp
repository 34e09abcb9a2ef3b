#include "composedtaskspecification.h"

#include <algorithm>

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallel, qreal parentProgressRange, QObject* parent)
    : TaskSpecification(parent, parentProgressRange), maxParallel(maxParallel)
{
    // Queued: a sub-task that ends inside its own execute() must not start its successor
    // from within that call.
    connect(this, &ComposedTaskSpecification::startNextTask, this, &ComposedTaskSpecification::onStartNextTask,
            Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    clearSubTasks();
}

void ComposedTaskSpecification::addSubTask(TaskSpecification* subTask)
{
    allTasks.append(subTask);
    pendingTasks.append(subTask);
    connectSignals(subTask);
    onUpdateProgress(0);
}

void ComposedTaskSpecification::connectSignals(TaskSpecification* subTask)
{
    connect(subTask, &TaskSpecification::finished, this, &ComposedTaskSpecification::onSubTaskFinished);
    connect(subTask, &TaskSpecification::canceled, this, &ComposedTaskSpecification::onSubTaskCanceled);
    connect(subTask, &TaskSpecification::error, this, &TaskSpecification::error);
    connect(subTask, &TaskSpecification::updateProgress, this, &ComposedTaskSpecification::onUpdateProgress);
    connect(subTask, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, subTask, &ComposedTaskSpecification::onOtherTaskCancelled);
}

void ComposedTaskSpecification::executeSubTasks()
{
    state = Running;
    // A new run: subclasses that rebuild their sub-tasks reset only the base task, so a
    // cancellation or end of the previous run must not stop this one.
    cancelPropagated = false;
    doneReported = false;
    const int n = std::min(int(pendingTasks.size()), maxParallel);
    if (n == 0) {
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

void ComposedTaskSpecification::raiseMaxParallel(int limit)
{
    const int more = limit - maxParallel;
    if (more <= 0)
        return;
    maxParallel = limit;
    if (state == Running && !doneReported) {
        for (int i = 0; i < more; ++i)
            emit startNextTask();
    }
}

void ComposedTaskSpecification::onStartNextTask()
{
    if (!pendingTasks.isEmpty() && !cancelPropagated && !cancelRequested) {
        TaskSpecification* next = pendingTasks.takeFirst();
        runningTasks.append(next);
        next->execute();
        return;
    }
    if (runningTasks.isEmpty())
        reportDoneOnce();
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification* task)
{
    runningTasks.removeOne(task);
    doneTasks.append(task);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification* task)
{
    runningTasks.removeOne(task);
    doneTasks.append(task);
    // A user's cancel reaches every running sub-task itself: told of a sibling's end as well,
    // they would end as failed, and the update with them.
    if (!cancelPropagated && !cancelRequested) {
        cancelPropagated = true;
        emit otherTaskCancelled(task);
    }
    if (runningTasks.isEmpty())
        reportDoneOnce();
}

void ComposedTaskSpecification::reportDoneOnce()
{
    if (doneReported)
        return;
    doneReported = true;
    subtasksDone();
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (getStateFromSubTasks()) {
    case Finished:
        finish();
        break;
    case UserCanceled:
        userCancel();
        break;
    default:
        // An error, or sub-tasks left unstarted after a sibling's cancellation.
        errorCancel();
        break;
    }
}

TaskState ComposedTaskSpecification::getStateFromSubTasks() const
{
    bool userCancelSeen = false;
    bool allFinished = true;
    for (const TaskSpecification* task : allTasks) {
        const TaskState taskState = task->getState();
        if (taskState == ErrorCanceled)
            return ErrorCanceled;
        if (taskState == UserCanceled)
            userCancelSeen = true;
        if (taskState != Finished)
            allFinished = false;
    }
    if (userCancelSeen)
        return UserCanceled;
    if (allFinished)
        return Finished;
    if (cancelRequested)
        return UserCanceled;
    if (cancelPropagated)
        return ErrorCanceled;
    return Running;
}

void ComposedTaskSpecification::clearSubTasks()
{
    for (TaskSpecification* task : std::as_const(allTasks)) {
        disconnect(task, nullptr, this, nullptr);
        task->deleteLater();
    }
    allTasks.clear();
    pendingTasks.clear();
    runningTasks.clear();
    doneTasks.clear();
}

void ComposedTaskSpecification::reset()
{
    for (TaskSpecification* task : std::as_const(allTasks))
        task->reset();
    pendingTasks = allTasks;
    runningTasks.clear();
    doneTasks.clear();
    cancelPropagated = false;
    doneReported = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed,
                                         bool& downloading)
{
    downloading = false;
    for (TaskSpecification* task : std::as_const(allTasks)) {
        quint64 taskDone = 0;
        quint64 taskTotal = 0;
        quint64 taskSpeed = 0;
        bool taskDownloading = false;
        task->timeTick(taskDone, taskTotal, taskSpeed, taskDownloading);
        if (taskDownloading)
            downloading = true;
        speed += taskSpeed;
        // Downloads of unknown size would distort the total.
        if (taskTotal != 0) {
            downloadDone += taskDone;
            downloadTotal += taskTotal;
        }
    }
}

void ComposedTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != Running)
        return;
    // A copy: a sub-task may end, and this task with it, while being told.
    const QList<TaskSpecification*> tasks = allTasks;
    for (TaskSpecification* task : tasks)
        task->userCanceled();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::endFromSubTaskReport(TaskSpecification* reportingSubTask, TaskState endState)
{
    reportingSubTask->reset();
    runningTasks.removeOne(reportingSubTask);
    doneReported = true; // ended here, not by the sub-tasks
    if (endState == UserCanceled)
        userCancel();
    else
        errorCancel();
}

bool ComposedTaskSpecification::endIfCancelRequested(TaskSpecification* reportingSubTask)
{
    if (!cancelRequested)
        return false;
    endFromSubTaskReport(reportingSubTask, UserCanceled);
    return true;
}

void ComposedTaskSpecification::onUpdateProgress(qreal)
{
    qreal sum = 0.0;
    for (const TaskSpecification* task : std::as_const(allTasks))
        sum += task->getProgress();
    setProgress(sum);
}
