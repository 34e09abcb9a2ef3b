#include "composedtaskspecification.h"
#include "taskspecification.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using Log = QStringList;

// A leaf whose end the test decides. It logs what happens to it into a shared log.
class ScriptedTask : public TaskSpecification
{
    Q_OBJECT

public:
    enum class OnStart { Wait, FinishAtOnce };

    ScriptedTask(const QString& name, Log* log, QObject* parent, qreal weight = 1.0)
        : TaskSpecification(parent, weight), name(name), log(log)
    {
    }

    OnStart onStart = OnStart::Wait;
    bool honoursUserCancel = false;
    bool abortsOnSibling = false;
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;

    void execute() override
    {
        state = Running;
        *log << "start " + name;
        if (onStart == OnStart::FinishAtOnce)
            end(QStringLiteral("finish"));
        *log << "returned " + name;
    }

    void userCanceled() override
    {
        TaskSpecification::userCanceled();
        if (honoursUserCancel && state == Running)
            end(QStringLiteral("user"));
    }

    void handleOtherTaskCancelled(TaskSpecification* other) override
    {
        *log << name + " told of " + other->objectName();
        if (abortsOnSibling)
            end(QStringLiteral("error"));
    }

    void timeTick(quint64& d, quint64& t, quint64& s, bool& dl) override
    {
        d = done;
        t = total;
        s = speed;
        dl = downloading;
    }

    void advance(qreal fraction) { setProgress(fraction); }

    void end(const QString& how)
    {
        *log << name + " " + how;
        if (how == QLatin1String("finish"))
            finish();
        else if (how == QLatin1String("error"))
            errorCancel();
        else
            userCancel();
    }

    QString name;
    Log* log; // not owned
};

// A composite over sub-tasks that the test adds before execute().
class TestComposite : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    TestComposite(int maxParallel, qreal weight, QObject* parent) : ComposedTaskSpecification(maxParallel, weight, parent)
    {
    }
    void execute() override { executeSubTasks(); }
};

QString endName(TaskState state)
{
    switch (state) {
    case Finished:
        return QStringLiteral("finished");
    case ErrorCanceled:
        return QStringLiteral("error");
    case UserCanceled:
        return QStringLiteral("user");
    default:
        return QStringLiteral("not ended");
    }
}

// Lets every queued start run.
void drainEvents()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::sendPostedEvents();
}

} // namespace

class TasksTest : public QObject
{
    Q_OBJECT

private slots:
    void finishReportsFullWeightThenFinished();
    void resetOnFreshTaskStillEmitsZero();
    void errorCancelKeepsProgress();
    void otherTaskCancelledOnlyReachesRunningSiblings();
    void endingTwiceIsIgnored();
    void userCanceledOnPlainTaskEndsNothing();

    void composite_data();
    void composite();
    void cancellationTravelsDownNestedComposites();
    void progressMultipliesDownTheTree();
    void timeTickSumsKnownSizesOnly();
    void resetRunsTheSameSubTasksAgain();
    void rebuiltCompositeRunsAgainAfterFailure();
};

void TasksTest::finishReportsFullWeightThenFinished()
{
    Log log;
    ScriptedTask task(QStringLiteral("A"), &log, nullptr, 0.25);
    QStringList order;
    connect(&task, &TaskSpecification::updateProgress, this, [&](qreal p) { order << QString::number(p); });
    connect(&task, &TaskSpecification::finished, this, [&](TaskSpecification* t) {
        QCOMPARE(t, &task);
        order << QStringLiteral("finished");
    });
    task.execute();
    task.end(QStringLiteral("finish"));
    QCOMPARE(order, QStringList({"0.25", "finished"}));
    QCOMPARE(task.getState(), Finished);
}

void TasksTest::resetOnFreshTaskStillEmitsZero()
{
    Log log;
    ScriptedTask task(QStringLiteral("A"), &log, nullptr, 0.5);
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);
    task.reset();
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toReal(), 0.0);
    QCOMPARE(task.getState(), NotStarted);
}

void TasksTest::errorCancelKeepsProgress()
{
    Log log;
    ScriptedTask task(QStringLiteral("A"), &log, nullptr, 1.0);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    task.advance(0.1);
    task.end(QStringLiteral("error"));
    QCOMPARE(task.getProgress(), 0.1);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(canceled.at(0).at(0).value<TaskSpecification*>(), &task);
    QCOMPARE(task.getState(), ErrorCanceled);
}

void TasksTest::otherTaskCancelledOnlyReachesRunningSiblings()
{
    Log log;
    TestComposite parent(2, 1.0, nullptr);
    auto* running = new ScriptedTask(QStringLiteral("R"), &log, &parent);
    auto* idle = new ScriptedTask(QStringLiteral("I"), &log, &parent);
    idle->setObjectName(QStringLiteral("I"));
    running->execute();
    log.clear();

    // The parent's signal reaches every sub-task's onOtherTaskCancelled.
    parent.addSubTask(running);
    parent.addSubTask(idle);
    emit parent.otherTaskCancelled(running); // itself: ignored
    emit parent.otherTaskCancelled(idle);    // not running: ignored by idle, told to R
    QCOMPARE(log, QStringList({"R told of I"}));
}

void TasksTest::endingTwiceIsIgnored()
{
    Log log;
    ScriptedTask task(QStringLiteral("A"), &log, nullptr);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    task.end(QStringLiteral("finish"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ended again"));
    task.end(QStringLiteral("error"));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(canceled.count(), 0);
    QCOMPARE(task.getState(), Finished);

    task.reset();
    task.execute();
    task.end(QStringLiteral("error"));
    QCOMPARE(canceled.count(), 1);
}

void TasksTest::userCanceledOnPlainTaskEndsNothing()
{
    Log log;
    ScriptedTask task(QStringLiteral("A"), &log, nullptr);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    task.userCanceled();
    QVERIFY(task.isCancelRequested());
    QCOMPARE(task.getState(), Running);
    QCOMPARE(canceled.count(), 0);
}

// Each row: the limit of parallel sub-tasks, the sub-tasks ("A", or "A!" for one that
// finishes inside execute(), "A^" for one that honours a user cancel, "A~" for one that
// aborts when a sibling is cancelled), the test's actions in order ("B:error" ends B,
// "cancel" asks the composite to stop, "widen N" raises its limit), the expected log and
// the composite's end.
void TasksTest::composite_data()
{
    QTest::addColumn<int>("maxParallel");
    QTest::addColumn<QStringList>("children");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<int>("expectedEnd");

    QTest::newRow("no sub-tasks finish at once") << 1 << QStringList() << QStringList() << QStringList() << int(Finished);

    QTest::newRow("one at a time, in order")
        << 1 << QStringList({"A", "B", "C"}) << QStringList({"A:finish", "B:finish", "C:finish"})
        << QStringList({"start A", "returned A", "A finish", "start B", "returned B", "B finish", "start C",
                        "returned C", "C finish"})
        << int(Finished);

    QTest::newRow("two at a time, each end starts one more")
        << 2 << QStringList({"A", "B", "C", "D", "E"})
        << QStringList({"B:finish", "A:finish", "C:finish", "E:finish", "D:finish"})
        << QStringList({"start A", "returned A", "start B", "returned B", "B finish", "start C", "returned C",
                        "A finish", "start D", "returned D", "C finish", "start E", "returned E", "E finish",
                        "D finish"})
        << int(Finished);

    QTest::newRow("a task ending inside execute does not start the next from there")
        << 1 << QStringList({"A!", "B!"}) << QStringList()
        << QStringList({"start A", "A finish", "returned A", "start B", "B finish", "returned B"}) << int(Finished);

    QTest::newRow("failure while a sibling runs waits for it and starts nothing")
        << 2 << QStringList({"A", "B", "C"}) << QStringList({"A:error", "B:finish"})
        << QStringList({"start A", "returned A", "start B", "returned B", "A error", "B told of A", "B finish"})
        << int(ErrorCanceled);

    QTest::newRow("cancellation is announced once")
        << 3 << QStringList({"A", "B", "C"}) << QStringList({"A:error", "B:error", "C:finish"})
        << QStringList({"start A", "returned A", "start B", "returned B", "start C", "returned C", "A error",
                        "B told of A", "C told of A", "B error", "C finish"})
        << int(ErrorCanceled);

    QTest::newRow("a sibling that aborts on the news ends the composite")
        << 2 << QStringList({"A", "B~"}) << QStringList({"A:error"})
        << QStringList({"start A", "returned A", "start B", "returned B", "A error", "B told of A", "B error"})
        << int(ErrorCanceled);

    QTest::newRow("an error outweighs a user cancellation")
        << 2 << QStringList({"A", "B"}) << QStringList({"A:user", "B:error"})
        << QStringList({"start A", "returned A", "start B", "returned B", "A user", "B told of A", "B error"})
        << int(ErrorCanceled);

    QTest::newRow("user cancel while an ignoring sub-task runs")
        << 1 << QStringList({"A", "B"}) << QStringList({"cancel", "A:finish"})
        << QStringList({"start A", "returned A", "A finish"}) << int(UserCanceled);

    QTest::newRow("a raised limit starts more at once")
        << 1 << QStringList({"A", "B", "C"}) << QStringList({"widen 3", "A:finish", "B:finish", "C:finish"})
        << QStringList({"start A", "returned A", "start B", "returned B", "start C", "returned C", "A finish",
                        "B finish", "C finish"})
        << int(Finished);

    // Each running sub-task hears of the user's cancel itself, not as a sibling's failure.
    QTest::newRow("user cancel honoured by the running sub-tasks")
        << 2 << QStringList({"A^", "B^~", "C^"}) << QStringList({"cancel"})
        << QStringList({"start A", "returned A", "start B", "returned B", "A user", "B user"}) << int(UserCanceled);
}

void TasksTest::composite()
{
    QFETCH(int, maxParallel);
    QFETCH(QStringList, children);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, expectedLog);
    QFETCH(int, expectedEnd);

    Log log;
    TestComposite composite(maxParallel, 0.5, nullptr);
    QMap<QString, ScriptedTask*> byName;
    for (const QString& child : children) {
        const QString name = child.left(1);
        auto* task = new ScriptedTask(name, &log, &composite, 1.0 / children.size());
        task->setObjectName(name);
        task->onStart = child.endsWith('!') ? ScriptedTask::OnStart::FinishAtOnce : ScriptedTask::OnStart::Wait;
        task->honoursUserCancel = child.contains('^');
        task->abortsOnSibling = child.contains('~');
        byName.insert(name, task);
        composite.addSubTask(task);
    }
    QSignalSpy finished(&composite, &TaskSpecification::finished);
    QSignalSpy canceled(&composite, &TaskSpecification::canceled);

    composite.execute();
    drainEvents();
    for (const QString& action : actions) {
        if (action == QLatin1String("cancel")) {
            composite.userCanceled();
        } else if (action.startsWith(QLatin1String("widen "))) {
            composite.raiseMaxParallel(action.section(' ', 1).toInt());
        } else {
            ScriptedTask* task = byName.value(action.section(':', 0, 0));
            QVERIFY2(task && task->getState() == Running, qPrintable("not running: " + action));
            task->end(action.section(':', 1));
        }
        drainEvents();
    }

    QCOMPARE(log, expectedLog);
    QCOMPARE(endName(composite.getState()), endName(TaskState(expectedEnd)));
    QCOMPARE(finished.count() + canceled.count(), 1);
    for (const ScriptedTask* task : std::as_const(byName))
        QVERIFY2(task->getState() != Running, qPrintable(task->name + " left running"));
    if (expectedEnd == Finished)
        QVERIFY(qFuzzyCompare(composite.getProgress(), 0.5));
}

void TasksTest::cancellationTravelsDownNestedComposites()
{
    Log log;
    TestComposite root(2, 1.0, nullptr);
    auto* failing = new ScriptedTask(QStringLiteral("A"), &log, &root, 0.5);
    failing->setObjectName(QStringLiteral("A"));
    auto* nested = new TestComposite(1, 0.5, &root);
    auto* inner = new ScriptedTask(QStringLiteral("N"), &log, nested);
    inner->abortsOnSibling = true;
    nested->addSubTask(inner);
    root.addSubTask(failing);
    root.addSubTask(nested);
    QSignalSpy canceled(&root, &TaskSpecification::canceled);

    root.execute();
    drainEvents();
    failing->end(QStringLiteral("error"));
    drainEvents();

    QCOMPARE(log, QStringList({"start A", "returned A", "start N", "returned N", "A error", "N told of A", "N error"}));
    QCOMPARE(nested->getState(), ErrorCanceled);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(root.getState(), ErrorCanceled);
}

void TasksTest::progressMultipliesDownTheTree()
{
    Log log;
    TestComposite composite(2, 0.4, nullptr);
    auto* first = new ScriptedTask(QStringLiteral("A"), &log, &composite, 0.5);
    auto* second = new ScriptedTask(QStringLiteral("B"), &log, &composite, 0.5);
    composite.addSubTask(first);
    composite.addSubTask(second);
    QSignalSpy progress(&composite, &TaskSpecification::updateProgress);

    first->advance(0.6);
    QCOMPARE(first->getProgress(), 0.3);
    QVERIFY(qFuzzyCompare(progress.last().at(0).toReal(), 0.12));
    second->advance(1.0);
    QVERIFY(qFuzzyCompare(composite.getProgress(), 0.32));
}

void TasksTest::timeTickSumsKnownSizesOnly()
{
    Log log;
    TestComposite composite(2, 1.0, nullptr);
    auto* known = new ScriptedTask(QStringLiteral("A"), &log, &composite, 0.5);
    known->done = 100;
    known->total = 400;
    known->speed = 50;
    known->downloading = true;
    auto* unknown = new ScriptedTask(QStringLiteral("B"), &log, &composite, 0.5);
    unknown->done = 30;
    unknown->speed = 10;
    composite.addSubTask(known);
    composite.addSubTask(unknown);

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    composite.timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(100));
    QCOMPARE(total, quint64(400));
    QCOMPARE(speed, quint64(60));
    QVERIFY(downloading);

    // The outputs are added to; only downloading is set afresh.
    known->downloading = false;
    composite.timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(200));
    QCOMPARE(total, quint64(800));
    QCOMPARE(speed, quint64(120));
    QVERIFY(!downloading);
}

void TasksTest::resetRunsTheSameSubTasksAgain()
{
    Log log;
    TestComposite composite(1, 1.0, nullptr);
    auto* task = new ScriptedTask(QStringLiteral("A"), &log, &composite);
    composite.addSubTask(task);
    composite.execute();
    drainEvents();
    task->end(QStringLiteral("error"));
    drainEvents();
    QCOMPARE(composite.getState(), ErrorCanceled);

    composite.reset();
    QCOMPARE(composite.getState(), NotStarted);
    QCOMPARE(task->getState(), NotStarted);
    QCOMPARE(composite.getProgress(), 0.0);
    composite.execute();
    drainEvents();
    task->end(QStringLiteral("finish"));
    drainEvents();
    QCOMPARE(composite.getState(), Finished);
    QCOMPARE(log.count(QStringLiteral("start A")), 2);
}

// Composites that rebuild their sub-tasks reset only the base task (clearSubTasks, then
// TaskSpecification::reset); the next run must not inherit the previous cancellation.
void TasksTest::rebuiltCompositeRunsAgainAfterFailure()
{
    class Rebuilding : public TestComposite
    {
    public:
        Rebuilding(Log* log) : TestComposite(1, 1.0, nullptr), log(log) {}
        void execute() override
        {
            addSubTask(current = new ScriptedTask(QStringLiteral("A"), log, this));
            executeSubTasks();
        }
        void reset() override
        {
            clearSubTasks();
            TaskSpecification::reset();
        }
        Log* log;
        ScriptedTask* current = nullptr;
    };

    Log log;
    Rebuilding composite(&log);
    composite.execute();
    drainEvents();
    composite.current->end(QStringLiteral("error"));
    drainEvents();
    QCOMPARE(composite.getState(), ErrorCanceled);

    composite.reset();
    composite.execute();
    drainEvents();
    QCOMPARE(log.count(QStringLiteral("start A")), 2);
    composite.current->end(QStringLiteral("finish"));
    drainEvents();
    QCOMPARE(composite.getState(), Finished);
}

QTEST_GUILESS_MAIN(TasksTest)
#include "tst_tasks.moc"
