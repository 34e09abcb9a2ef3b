#pragma once

#include "taskspecification.h"

#include <QRunnable>

// The body of a slow step: run() does the whole work once on a thread of the global
// thread pool and reports only through its signals, which reach the task queued.
class ASyncFunc : public QObject
{
    Q_OBJECT

public:
    ASyncFunc() = default;

    // Runs the body and emits runResult with its outcome.
    void execute();

public slots:
    virtual bool run() = 0;

signals:
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    void progress(qreal progress);
};

// Carries one body into the thread pool; the pool deletes the runnable, which deletes
// the body.
class ASyncRun : public QRunnable
{
public:
    explicit ASyncRun(ASyncFunc* function);
    ~ASyncRun() override;
    void run() override;

private:
    ASyncFunc* function; // owned
};

// A task whose work runs on the global thread pool. Subclasses build a fresh body per
// run in createFunction() and may look at its results in runDone().
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    ASyncTaskSpecification(QObject* parent, qreal parentProgressRange);

public slots:
    void execute() override;
    // Waits until the global thread pool is idle, so no body of this task still runs.
    void reset() override;

protected:
    virtual ASyncFunc* createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc* function);
    // In the main thread, with the body's result: ends a running task; a result that
    // arrives after a reset or an end is dropped.
    virtual void runDone(bool res);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);
};
