#include "asynctaskspecification.h"

#include <QCoreApplication>
#include <QThreadPool>

void ASyncFunc::execute()
{
    emit runResult(run());
}

ASyncRun::ASyncRun(ASyncFunc* function) : function(function)
{
    setAutoDelete(true);
}

ASyncRun::~ASyncRun()
{
    delete function;
}

void ASyncRun::run()
{
    function->execute();
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, qreal parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
{
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc* function = createFunction();
    connectDefaultSignals(function);
    QThreadPool::globalInstance()->start(new ASyncRun(function), 0);
    // The result can only arrive later, through the event loop.
    state = Running;
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone();
    // What the finished body emitted may still wait in the event queue; it belongs to the
    // abandoned run and must not end (or log into) the next one.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    TaskSpecification::reset();
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc* function)
{
    connect(function, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult, Qt::QueuedConnection);
    connect(function, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(function, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(function, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress, Qt::QueuedConnection);
}

void ASyncTaskSpecification::runDone(bool res)
{
    if (state != Running)
        return;
    if (res)
        finish();
    else
        errorCancel();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal progress)
{
    if (state == Running)
        setProgress(progress);
}
