#pragma once

#include <QObject>
#include <QString>

enum TaskState {
    NotStarted = 0,
    Running = 1,
    Finished = 2,
    ErrorCanceled = 3,
    UserCanceled = 4
};

// One step of an update. A task is started by execute(), reports progress in its
// parent's units (its local fraction done times its weight), writes detail-log lines,
// and ends exactly once: finish(), errorCancel() or userCancel().
class TaskSpecification : public QObject
{
    Q_OBJECT

public:
    TaskSpecification(QObject* parent, qreal parentProgressRange);

    void setParentProgressRange(qreal range);
    qreal getParentProgressRange() const { return parentProgressRange; }
    qreal getProgress() const { return progress; }
    TaskState getState() const { return state; }
    bool isCancelRequested() const { return cancelRequested; }

public slots:
    virtual void execute() = 0;
    virtual void reset();
    // Download statistics, asked once a second. The base reports nothing.
    virtual void timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading);
    // The user asks the task to stop. The base only records the request.
    virtual void userCanceled();
    // A sibling was cancelled while this task runs. The base ignores it.
    virtual void handleOtherTaskCancelled(TaskSpecification* other);

signals:
    void finished(TaskSpecification* task);
    void canceled(TaskSpecification* task);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void message(QString message);
    void otherTaskCancelled(TaskSpecification* task);

protected slots:
    void onOtherTaskCancelled(TaskSpecification* other);

protected:
    // Sets progress to fraction (0.0 to 1.0) times the weight and emits it.
    void setProgress(qreal fraction);
    void setState(TaskState newState) { state = newState; }

    void finish();
    void errorCancel();
    void userCancel();

    bool cancelRequested = false;
    qreal parentProgressRange;
    qreal progress = 0.0;
    TaskState state = NotStarted;

private:
    // Guards the three ways of ending: a task that has ended stays ended until reset().
    bool tryEnd(TaskState endState);
};
