#include "core/estate/Pool.h"
#include "core/report/StructureOutput.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// The pool with workers that fail as no real one can be made to here: one that crashes, one that
// talks nonsense, one that cannot be started. Each takes only its file with it.
class PoolTest : public QObject
{
    Q_OBJECT

    struct Counting : Estate::PoolProgress
    {
        qsizetype total = -1;
        QStringList begun;
        QStringList ended;
        void found(qsizetype count) override { total = count; }
        void started(const Estate::Job &job) override { begun << job.relative; }
        void finished(const Estate::Job &job, const Estate::Outcome &) override { ended << job.relative; }
    };

    QTemporaryDir work;

    QList<Estate::Job> jobs(const QStringList &names)
    {
        QList<Estate::Job> list;
        for (const QString &name : names) {
            Estate::Job job;
            job.path = work.filePath(name + QStringLiteral(".mdb"));
            job.relative = name + QStringLiteral(".mdb");
            job.folder = work.filePath(QStringLiteral("out"));
            job.namedAs = job.path;
            job.formats = {StructureOutput::Format::Json};
            list << job;
        }
        return list;
    }

    Estate::PoolSettings shell(int jobs)
    {
        // Answers every job as documented, but dies on one named "crash" and talks nonsense on
        // one named "nonsense".
        return {QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("while IFS= read -r line; do case \"$line\" in *crash*) kill -SEGV $$;; "
                                "*nonsense*) echo 'not an answer';; *) echo "
                                "'{\"status\":\"documented\",\"unread\":[]}';; esac; done")},
                jobs};
    }

private slots:
    void aWorkerThatDiesTakesOnlyItsFile()
    {
        const QList<Estate::Job> list =
            jobs({QStringLiteral("a"), QStringLiteral("crash"), QStringLiteral("b"), QStringLiteral("nonsense"),
                  QStringLiteral("c"), QStringLiteral("crash2")});
        Counting progress;
        const QList<Estate::Outcome> outcomes = Estate::documentAll(list, shell(2), progress);
        QCOMPARE(progress.total, 6);
        QCOMPARE(progress.ended.size(), 6);
        QCOMPARE(progress.begun.size(), 6);
        QCOMPARE(outcomes.size(), 6);
        for (const int i : {0, 2, 4})
            QCOMPARE(outcomes[i].status, Estate::Outcome::Status::Documented);
        for (const int i : {1, 3, 5}) {
            QCOMPARE(outcomes[i].status, Estate::Outcome::Status::Failed);
            QVERIFY(outcomes[i].error);
            QCOMPARE(outcomes[i].error->kind, Estate::ErrorKind::Damaged);
            // The index learns of it from the document the pool writes in the worker's place.
            const QJsonObject document = QJsonDocument::fromJson([&] {
                                             QFile file(StructureOutput::fileName(StructureOutput::Format::Json,
                                                                                  list[i].folder, list[i].namedAs));
                                             return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                                         }())
                                             .object();
            QCOMPARE(document.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString(),
                     outcomes[i].error->message);
        }
        QVERIFY(outcomes[1].error->message.contains(QStringLiteral("crashed")));
        QVERIFY(outcomes[3].error->message.contains(QStringLiteral("cannot be understood")));
    }

    void aWorkerThatCannotStartFailsEveryFileButEnds()
    {
        Counting progress;
        const QList<Estate::Outcome> outcomes =
            Estate::documentAll(jobs({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")}),
                                {work.filePath(QStringLiteral("no-such-program")), {}, 2}, progress);
        QCOMPARE(outcomes.size(), 3);
        for (const Estate::Outcome &outcome : outcomes) {
            QVERIFY(outcome.error);
            QVERIFY2(outcome.error->message.contains(QStringLiteral("could not be started")),
                     qPrintable(outcome.error->message));
        }
    }
};

QTEST_GUILESS_MAIN(PoolTest)
#include "tst_pool.moc"
