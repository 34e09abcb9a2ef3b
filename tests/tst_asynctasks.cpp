#include "asynctaskspecification.h"
#include "slowfileoptaskspecification.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <thread>

namespace {

// A body that waits until the test lets it go, reports progress, and returns a set result.
class GatedFunc : public ASyncFunc
{
    Q_OBJECT

public:
    GatedFunc(QSemaphore* gate, bool result, qreal progressToReport)
        : gate(gate), result(result), progressToReport(progressToReport)
    {
    }
    bool run() override
    {
        if (gate)
            gate->acquire();
        if (progressToReport > 0)
            emit progress(progressToReport);
        emit message(QStringLiteral("body ran"));
        return result;
    }

private:
    QSemaphore* gate; // not owned
    bool result;
    qreal progressToReport;
};

class GatedTask : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    GatedTask(qreal weight) : ASyncTaskSpecification(nullptr, weight) {}
    QSemaphore* gate = nullptr;
    bool result = true;
    qreal progressToReport = 0;

protected:
    ASyncFunc* createFunction() override { return new GatedFunc(gate, result, progressToReport); }
};

// A slow file operation whose body only returns a set result.
class FakeFileOp : public SlowFileOpSpecification
{
    Q_OBJECT

public:
    FakeFileOp(RollbackDataList* journal, QSemaphore* gate, bool result)
        : SlowFileOpSpecification(QStringLiteral("fake op failed"), journal, QStringLiteral("/src"),
                                  QStringLiteral("/target"), nullptr, 1.0),
          gate(gate), result(result)
    {
    }

protected:
    ASyncFunc* createFunction() override { return new GatedFunc(gate, result, 0); }

private:
    QSemaphore* gate;
    bool result;
};

bool waitForEnd(const TaskSpecification& task)
{
    return QTest::qWaitFor([&task] { return task.getState() != Running; }, 10000);
}

// Lets the gate open from another thread after a while, so a blocking call in this
// thread can wait for the body.
std::thread openLater(QSemaphore& gate)
{
    return std::thread([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gate.release();
    });
}

} // namespace

class AsyncTasksTest : public QObject
{
    Q_OBJECT

private slots:
    void progressIsScaledByWeight();
    void falseWithoutErrorEndsErrorCanceled();
    void lateResultAfterResetIsDropped();
    void userCancelDoesNotChangeTheOutcome();
    void slowFileOpJournalsSuccessOnce();
    void slowFileOpFailureLogsOnce();
    void slowFileOpResultAfterResetRecordsNothing();
};

void AsyncTasksTest::progressIsScaledByWeight()
{
    GatedTask task(0.2);
    task.progressToReport = 0.5;
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);
    task.execute();
    QCOMPARE(task.getState(), Running);
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), Finished);
    QVERIFY(progress.count() >= 2);
    QVERIFY(qFuzzyCompare(progress.at(0).at(0).toReal(), 0.1));
    QVERIFY(qFuzzyCompare(progress.last().at(0).toReal(), 0.2));
}

void AsyncTasksTest::falseWithoutErrorEndsErrorCanceled()
{
    GatedTask task(1.0);
    task.result = false;
    QSignalSpy errors(&task, &TaskSpecification::error);
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), ErrorCanceled);
    QVERIFY(errors.isEmpty());
    QCOMPARE(log.count(), 1); // forwarded from the body, in the main thread
}

void AsyncTasksTest::lateResultAfterResetIsDropped()
{
    QSemaphore firstGate;
    QSemaphore secondGate;
    GatedTask task(1.0);
    task.gate = &firstGate;
    task.result = true;
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();

    std::thread opener = openLater(firstGate);
    task.reset(); // blocks until the first body has returned
    opener.join();
    QCOMPARE(task.getState(), NotStarted);

    // The second run fails; the first run's success must not end it.
    task.gate = &secondGate;
    task.result = false;
    task.execute();
    QTest::qWait(50);
    QCOMPARE(task.getState(), Running);
    QCOMPARE(log.count(), 0);
    secondGate.release();
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), ErrorCanceled);
    QCOMPARE(log.count(), 1);
}

void AsyncTasksTest::userCancelDoesNotChangeTheOutcome()
{
    QSemaphore gate;
    GatedTask task(1.0);
    task.gate = &gate;
    task.execute();
    task.userCanceled();
    gate.release();
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), Finished);
    QVERIFY(task.isCancelRequested());
}

void AsyncTasksTest::slowFileOpJournalsSuccessOnce()
{
    RollbackDataList journal;
    FakeFileOp task(&journal, nullptr, true);
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), Finished);
    QCOMPARE(journal.entries(), QList<RollbackData>{RollbackData(RollbackData::CreateFile, "/target")});

    FakeFileOp withoutJournal(nullptr, nullptr, true);
    withoutJournal.execute();
    QVERIFY(waitForEnd(withoutJournal));
    QCOMPARE(withoutJournal.getState(), Finished);
}

void AsyncTasksTest::slowFileOpFailureLogsOnce()
{
    RollbackDataList journal;
    FakeFileOp task(&journal, nullptr, false);
    QSignalSpy log(&task, &TaskSpecification::message);
    QSignalSpy errors(&task, &TaskSpecification::error);
    task.execute();
    QVERIFY(waitForEnd(task));
    QCOMPARE(task.getState(), ErrorCanceled);
    QCOMPARE(log.count(), 2);
    QCOMPARE(log.at(1).at(0).toString(), QStringLiteral("fake op failed"));
    QVERIFY(errors.isEmpty());
    QVERIFY(journal.entries().isEmpty());
}

void AsyncTasksTest::slowFileOpResultAfterResetRecordsNothing()
{
    QSemaphore gate;
    RollbackDataList journal;
    FakeFileOp task(&journal, &gate, true);
    task.execute();
    std::thread opener = openLater(gate);
    task.reset();
    opener.join();
    QTest::qWait(50);
    QCOMPARE(task.getState(), NotStarted);
    QVERIFY(journal.entries().isEmpty());
}

QTEST_GUILESS_MAIN(AsyncTasksTest)
#include "tst_asynctasks.moc"
