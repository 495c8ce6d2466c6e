#include "common/blockingwait.h"
#include "platform/updateplatform.h"
#include "testsupport.h"
#include "update/appupdateerror.h"
#include "update/bundleseal.h"
#include "updatefixtures.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// packaging/linux/make-release and install-user.sh, run as a release manager and a user would.
class TestMakeRelease : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    static QString script(const QString &name) {
        return qEnvironmentVariable("TORVEL_SOURCE_DIR") + QStringLiteral("/packaging/linux/") + name;
    }
    int run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
        process.waitForFinished(60000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private Q_SLOTS:
    void releasesAndInstallsASealedBundle() {
        const QString key = UpdateFixtures::makeKey(path(QStringLiteral("key.pem")));
        const QByteArray publicKey = BundleSeal::publicKeyOf(key);
        // A program built with the key carries its public half.
        const QString binary = TestSupport::writeScript(
            path(QStringLiteral("program")), QStringLiteral("# ") + QString::fromLatin1(publicKey.toBase64()));
        const QString plain = TestSupport::writeScript(path(QStringLiteral("plain")), QStringLiteral("exit 0"));
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QStringList arguments{QStringLiteral("--key"),     key,
                                    QStringLiteral("--version"), QStringLiteral("1.4.0"),
                                    QStringLiteral("--build"),   QStringLiteral("14"),
                                    QStringLiteral("--url"),     QStringLiteral("https://updates.torvel.example/dl/"),
                                    QStringLiteral("--out"),     path(QStringLiteral("out"))};
        QCOMPARE(run(script(QStringLiteral("make-release")), arguments + QStringList{QStringLiteral("--binary"), plain},
                     environment),
                 1);
        QCOMPARE(run(script(QStringLiteral("make-release")),
                     arguments + QStringList{QStringLiteral("--binary"), binary}, environment),
                 0);

        const QString base = path(QStringLiteral("out/TorvelDownloader-1.4.0-linux-")) + UpdatePlatform::architecture();
        QFile document(path(QStringLiteral("out/update.json")));
        QVERIFY(document.open(QIODevice::ReadOnly));
        const AppUpdateManifest manifest = AppUpdateManifest::decode(document.readAll());
        AppUpdateManifest expected =
            UpdateFixtures::manifestFor(base + QStringLiteral(".zip"),
                                        QUrl(QStringLiteral("https://updates.torvel.example/dl/") +
                                             QFileInfo(base).fileName() + QStringLiteral(".zip")),
                                        QStringLiteral("1.4.0"), 14);
        expected.dmgURL = QUrl(expected.zipURL.toString().replace(QStringLiteral(".zip"), QStringLiteral(".tar.gz")));
        expected.minimumSystemVersion = UpdatePlatform::systemVersion();
        QCOMPARE(manifest, expected);

        BlockingWait::wait(
            ArchiveExtractor::extractInBackground(base + QStringLiteral(".zip"), path(QStringLiteral("x"))));
        const QString bundle = path(QStringLiteral("x/Torvel Downloader.app"));
        AppUpdateService::Configuration configuration;
        configuration.publicKey = publicKey;
        AppUpdateService(configuration).validateApplication(bundle, manifest);
        configuration.publicKey = BundleSeal::publicKeyOf(UpdateFixtures::makeKey(path(QStringLiteral("other.pem"))));
        try {
            AppUpdateService(configuration).validateApplication(bundle, manifest);
            QFAIL("a bundle sealed by another key was accepted");
        } catch (const AppUpdateError &error) {
            QCOMPARE(error.payload(), QStringLiteral("El sello del paquete no es válido."));
        }

        // Installed by hand from the tar.gz, in a home of its own.
        QProcessEnvironment home = environment;
        home.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        home.remove(QStringLiteral("XDG_DATA_HOME"));
        home.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")); // no desktop database tools needed
        QCOMPARE(run(script(QStringLiteral("install-user.sh")), {base + QStringLiteral(".tar.gz")}, home), 0);
        const QString installed = path(QStringLiteral("home/.local/opt/Torvel Downloader.app"));
        QCOMPARE(QFileInfo(path(QStringLiteral("home/.local/bin/torvel-downloader"))).symLinkTarget(),
                 installed + QStringLiteral("/bin/torvel-downloader"));
        QCOMPARE(ApplicationInfo::fromBundle(installed).version, QStringLiteral("14"));
        BundleSeal::verify(installed, publicKey);
    }
};

QTEST_GUILESS_MAIN(TestMakeRelease)
#include "tst_makerelease.moc"
