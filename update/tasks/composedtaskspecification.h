#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of sub-tasks: runs them in the order added, at most maxParallel at a
// time, sums their progress, forwards their errors and log lines, tells running
// sub-tasks once when a sibling was cancelled, and ends when none runs any more.
// Subclasses create the sub-tasks in execute() and call executeSubTasks().
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    ComposedTaskSpecification(int maxParallel, qreal parentProgressRange, QObject* parent);
    // Schedules the sub-tasks for deletion; emits nothing.
    ~ComposedTaskSpecification() override;

    void addSubTask(TaskSpecification* subTask);
    void executeSubTasks();
    // Lets more sub-tasks run at once; running, it starts the ones the new limit allows.
    void raiseMaxParallel(int limit);
    TaskState getStateFromSubTasks() const;
    void clearSubTasks();

    const QList<TaskSpecification*>& subTasks() const { return allTasks; }

public slots:
    void reset() override;
    void timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;

protected slots:
    // Called once when no sub-task runs and none will start; ends this task.
    virtual void subtasksDone();

protected:
    virtual void connectSignals(TaskSpecification* subTask);
    // Ends this task from inside a sub-task's report (a failed check): the sub-task is
    // reset so that it settles nothing more, and this task ends with endState.
    void endFromSubTaskReport(TaskSpecification* reportingSubTask, TaskState endState);
    // Before a retry decided in a sub-task's report: the user's cancel wins over it. When
    // one was asked for, this task ends UserCanceled that way and the result is true.
    bool endIfCancelRequested(TaskSpecification* reportingSubTask);

    QList<TaskSpecification*> allTasks; // owned (QObject children, deleted by clearSubTasks)
    QList<TaskSpecification*> pendingTasks; // not owned: views into allTasks
    QList<TaskSpecification*> runningTasks;
    QList<TaskSpecification*> doneTasks;
    int maxParallel;
    bool cancelPropagated = false;
    bool doneReported = false;

signals:
    void startNextTask();

private slots:
    void onStartNextTask();
    void onUpdateProgress(qreal doneFrac);
    void onSubTaskFinished(TaskSpecification* task);
    void onSubTaskCanceled(TaskSpecification* task);

private:
    void reportDoneOnce();
};
