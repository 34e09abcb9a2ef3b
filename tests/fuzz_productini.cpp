// Fuzzing of product descriptions: mutants of a valid product ini (some signed with the
// test key, so that the list compilation sees them) go through a whole update of a
// scratch installation: product ini check, lists, downloads from an in-process mirror,
// installation, deletions. Whatever the mutant, the program must not crash, nothing may
// be written outside the installation and temporary directories, and each case must end
// in a clear failure with the installation as it was, or in a correct installation.
//
//   fuzz_productini [--cases N] [--seed S]     (CI runs a few hundred; more by hand)
#include "configuration.h"
#include "maintaskspecification.h"
#include "mirrors.h"
#include "mirrorserver.h"
#include "support/gzipfile.h"
#include "tomcryptutil.h"
#include "updatescene.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

const QString clientType = QStringLiteral("client_linux_amd64");

// Lines that take a path out of the installation or the temporary folder, in every
// spelling the settings reader decodes.
const QByteArray hostileLines[] = {
    "[files]\n../../outside/pwned.txt=MD5::SIZE\n",
    "[files]\na/../../../outside/pwned=MD5::SIZE\n",
    "[files]\n..%2F..%2Foutside%2Fpwned=MD5::SIZE\n",
    "[files]\n..\\..\\outside\\pwned=MD5::SIZE\n",
    "[..]\nreadme.txt=MD5::SIZE\n",
    "[../..]\nreadme.txt=MD5::SIZE\n",
    "[delete]\n../outside/sentinel.txt=\n",
    "[delete]\n../../outside/sentinel.txt=\n",
    "[files]\nx.gz=MD5::SIZE::MD5::SIZE::../../outside/evil\n",
    "[files]\nx.gz=MD5::SIZE::MD5::SIZE::/tmp/evil\n",
    "[files]\nhuge.bin=MD5::99999999999999999999\n",
    "[files]\nnot-on-the-mirror.bin=00000000000000000000000000000000::10\n",
    "[files]\nreadme.txt=MD5\n",
    "[files]\nreadme.txt=::::::::\n",
    "[files]\n=MD5::SIZE\n",
    "[delete]\nupdate=\n",
};

// Texts that say why an update did not finish; one must be in the log of a failed case.
const char* const failureTexts[] = {
    "Warning: product ini contains invalid line", "No files in product ini", "returned", "There are no (more) known",
    "Signature check failed", "Could not", "rolling back file updates", "timed out", "sent more than", "unable to",
    "Unable to create file",
};

class Fuzzer
{
public:
    explicit Fuzzer(quint32 seed) : random(seed) {}
    ~Fuzzer()
    {
        if (keyLoaded)
            rsa_free(&key);
    }

    bool setUp();
    bool runCase(int number);
    void summary(int cases) const;

private:
    QByteArray mutate(const QByteArray& ini);
    QByteArray signatureFor(const QByteArray& ini, QString* kind);
    bool checkInstallation(const QString& verifiedIni, QString* problem) const;

    QRandomGenerator random;
    UpdateScene scene;
    MirrorServer server;
    ClientTree older;
    QByteArray validIni;
    Rsa_key key{};
    bool keyLoaded = false;
    TreeSnapshot before;
    TreeSnapshot outsideBefore;
    QStringList scratchEntries; // what lies beside the installation and temporary folders
    QMap<QString, int> outcomes;
};

bool Fuzzer::setUp()
{
    older = olderClient();
    QString error;
    if (!scene.publish(100, older, &error) || !scene.publish(101, newerClient(), &error) || !server.listen()) {
        std::fprintf(stderr, "fuzz: set-up failed: %s\n", qPrintable(error));
        return false;
    }
    scene.serve(server);
    validIni = readAll(QDir(scene.mirrorDir()).filePath("101/" + clientType + ".ini"));
    crypt_init();
    load_key(&key, VX5_TEST_PRIVATE_KEY);
    keyLoaded = true;
    Configuration::setAppRootPathForTests(scene.installDir());
    QDir(QFileInfo(scene.installDir()).path()).mkpath("outside");
    writeFile(QFileInfo(scene.installDir()).dir().filePath("outside/sentinel.txt"), "must stay");
    outsideBefore = snapshot(QFileInfo(scene.installDir()).dir().filePath("outside"));
    scratchEntries = QDir(QFileInfo(scene.installDir()).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    return true;
}

QByteArray Fuzzer::mutate(const QByteArray& ini)
{
    QByteArray text = ini;
    const int steps = 1 + int(random.bounded(3));
    for (int step = 0; step < steps; ++step) {
        switch (random.bounded(6)) {
        case 0: { // a hostile line, with a real file's MD5 and size
            QByteArray line = hostileLines[random.bounded(int(std::size(hostileLines)))];
            const QByteArray readme = older.value("readme.txt");
            line.replace("MD5", QCryptographicHash::hash(readme, QCryptographicHash::Md5).toHex());
            line.replace("SIZE", QByteArray::number(readme.size()));
            text += '\n' + line;
            break;
        }
        case 1: // a byte changed
            if (!text.isEmpty())
                text[int(random.bounded(int(text.size())))] = char(random.bounded(256));
            break;
        case 2: { // a line dropped or doubled
            QList<QByteArray> lines = text.split('\n');
            const int at = int(random.bounded(int(lines.size())));
            if (random.bounded(2))
                lines.removeAt(at);
            else
                lines.insert(at, lines.at(at));
            text = lines.join('\n');
            break;
        }
        case 3: // cut
            text.truncate(int(random.bounded(int(text.size()) + 1)));
            break;
        case 4: // a very long key
            text += "\n[files]\n" + QByteArray(int(random.bounded(20000)), 'k') + "=0::0\n";
            break;
        default: // binary junk
            for (int n = int(random.bounded(64)); n > 0; --n)
                text.insert(int(random.bounded(int(text.size()) + 1)), char(random.bounded(256)));
            break;
        }
    }
    return text;
}

QByteArray Fuzzer::signatureFor(const QByteArray& ini, QString* kind)
{
    unsigned char signature[largestSignatureSize];
    unsigned long length = sizeof signature;
    switch (random.bounded(4)) {
    case 0:
    case 1:
        *kind = QStringLiteral("signed");
        sign_msg(&key, reinterpret_cast<const unsigned char*>(ini.constData()), ini.size(), signature, &length);
        return QByteArray(reinterpret_cast<const char*>(signature), int(length));
    case 2:
        *kind = QStringLiteral("the original's signature");
        return readAll(QDir(scene.mirrorDir()).filePath("101/" + clientType + ".ini.sig"));
    default:
        *kind = QStringLiteral("a cut signature");
        return readAll(QDir(scene.mirrorDir()).filePath("101/" + clientType + ".ini.sig")).left(int(random.bounded(128)));
    }
}

// Every file the verified product ini lists is installed with its MD5; no staged copy
// and no set-aside copy but the updater's own is left.
bool Fuzzer::checkInstallation(const QString& verifiedIni, QString* problem) const
{
    QSettings ini(verifiedIni, QSettings::IniFormat);
    const QDir install(scene.installDir());
    for (const QString& section : ini.childGroups()) {
        if (section == "delete")
            continue;
        ini.beginGroup(section);
        for (const QString& key : ini.allKeys()) {
            const QStringList parts = ini.value(key).toString().split("::");
            const bool packed = parts.size() == 5 && !parts.at(4).isEmpty();
            const QString path = install.filePath(packed ? parts.at(4) : key);
            const QString md5 = packed ? parts.at(2) : parts.at(0);
            const QByteArray content = readAll(path);
            if (QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex() != md5.toLower().toLatin1()) {
                *problem = QStringLiteral("%1 is not as listed").arg(path);
                return false;
            }
        }
        ini.endGroup();
    }
    for (const QString& path : snapshot(scene.installDir()).keys()) {
        const QString name = QFileInfo(path).fileName();
        if (name.startsWith("_new_") || (name.startsWith("_old_") && !Configuration::isSpecialFileName(name.mid(5)))) {
            *problem = QStringLiteral("%1 was left").arg(path);
            return false;
        }
    }
    return true;
}

bool Fuzzer::runCase(int number)
{
    // The installation of the older release, and a session that holds the mutant.
    QDir(scene.installDir()).removeRecursively();
    QDir(scene.tempDir()).removeRecursively();
    QDir().mkpath(scene.tempDir());
    scene.install(older, server.baseUrl() + "/m1");
    before = scene.installed();
    const QString session = QDir(scene.tempDir()).filePath("voxmere_temp_1");
    QDir().mkpath(session);
    const QByteArray mutant = mutate(validIni);
    QString signatureKind;
    const QByteArray signature = signatureFor(mutant, &signatureKind);
    const QString iniPath = QDir(session).filePath(clientType + ".ini");
    writeFile(iniPath, mutant);
    writeFile(iniPath + ".sig", signature);

    Configuration configuration;
    configuration.clientType = clientType;
    configuration.clientVersion = 101;
    configuration.tempDir = session;
    configuration.downloadConcurrency = 3;
    Mirrors mirrors(nullptr);
    mirrors.initDefault(QDir(scene.installDir()).filePath("mirrors.ini"), 101);
    mirrors.seedRandom(quint32(number));
    QNetworkAccessManager network;
    MainTaskSpecification update(&network, &mirrors, &configuration, nullptr, 1.0);
    QStringList log;
    QObject::connect(&update, &TaskSpecification::message, [&log](const QString& text) { log << text; });
    QObject::connect(&update, &TaskSpecification::error, [&log](const QString& text) { log << "error: " + text; });
    QEventLoop loop;
    QObject::connect(&update, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(&update, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QTimer ticks; // the engine's statistics tick: it also notices stalled downloads
    QObject::connect(&ticks, &QTimer::timeout, [&update] {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        update.timeTick(done, total, speed, downloading);
    });
    ticks.start(1000);
    update.execute();
    loop.exec();

    QString problem;
    const bool outsideIntact = snapshot(QFileInfo(scene.installDir()).dir().filePath("outside")) == outsideBefore &&
                               QDir(QFileInfo(scene.installDir()).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) ==
                                   scratchEntries;
    QString outcome;
    if (!outsideIntact) {
        problem = QStringLiteral("something was written outside the installation and temporary folders");
    } else if (update.getState() == Finished) {
        outcome = readAll(iniPath) == mutant ? QStringLiteral("mutant installed") : QStringLiteral("release installed");
        checkInstallation(iniPath, &problem);
    } else if (update.getState() == ErrorCanceled) {
        outcome = QStringLiteral("clear failure");
        const QString said = log.join('\n');
        if (std::none_of(std::begin(failureTexts), std::end(failureTexts), [&said](const char* text) {
                return said.contains(QLatin1String(text));
            }))
            problem = QStringLiteral("failed without saying why:\n") + said;
        else if (scene.installed() != before)
            problem = QStringLiteral("failed but changed the installation:\n") + differences(scene.installed(), before);
    } else {
        problem = QStringLiteral("did not end (state %1)").arg(int(update.getState()));
    }
    outcomes[outcome + " (" + signatureKind + ")"]++;
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "fuzz case %d: %s\nmutant (first 2000 bytes):\n%s\n", number, qPrintable(problem),
                     mutant.left(2000).constData());
        return false;
    }
    return true;
}

void Fuzzer::summary(int cases) const
{
    std::printf("%d fuzz cases, no crash, nothing written outside, each a clear failure or a correct installation:\n",
                cases);
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        std::printf("  %4d %s\n", it.value(), qPrintable(it.key()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cases = args.contains("--cases") ? args.value(args.indexOf("--cases") + 1).toInt() : 200;
    const quint32 seed = args.contains("--seed") ? args.value(args.indexOf("--seed") + 1).toUInt() : 20261208u;
    Fuzzer fuzzer(seed);
    if (!fuzzer.setUp())
        return 2;
    for (int n = 1; n <= cases; ++n) {
        if (!fuzzer.runCase(n))
            return 1;
    }
    fuzzer.summary(cases);
    return 0;
}
