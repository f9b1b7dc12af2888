// What tavreg and tavdesigner write is there whole or not at all: targets that are not files are
// refused, a full disk or standard output fails with one line, a link is written through.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "designer.h"
#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/outputfiles.h"
#include "tav/tav32reg.h"

namespace {

// tavreg, quiet, with its standard output appended to `out` (none: discarded).
tavtest::TProgramResult QuietTavreg(const QStringList& args, const QString& out = {}) {
    return tavtest::Tavreg(args + QStringList{"--quiet"}, {},
                           out.isEmpty() ? QProcess::nullDevice() : out);
}

const QStringList kFit = {"--db",  tavtest::SampleDb(), "--table", "sales", "--y", "PROFIT", "--x",
                          "STORES"};

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(TavregWrites, TargetsThatAreNotFilesOrNamedTwiceAreRefusedBeforeAnything) {
    QTemporaryDir tmp;
    const QString d = tmp.path(), db = d + "/in.db";
    ASSERT_TRUE(QFile::copy(tavtest::SampleDb(), db));
    ASSERT_EQ(mkfifo(QFile::encodeName(d + "/fifo").constData(), 0600), 0);
    QDir(d).mkdir("folder");
    tavtest::WriteFile((d + "/file").toStdString(), "x");
    const QStringList onCopy = {"--db", db, "--table", "sales", "--y", "PROFIT", "--x", "STORES"};
    const struct {
        QStringList args;
        QString out;
        int exitCode;
        std::string message;
    } cases[] = {
        {kFit + QStringList{"--pdf", "/dev/null"}, {}, 2, "'/dev/null' is a character device"},
        {kFit + QStringList{"--pdf", d + "/fifo"}, {}, 2, "is a FIFO, not a file"},
        {kFit + QStringList{"--pdf", d + "/folder"}, {}, 2, "is a folder, not a file"},
        {kFit + QStringList{"--plots", d + "/file"}, {}, 2, "is a file, not a folder"},
        {kFit + QStringList{"--pdf", d + "/p/ecdf.png", "--plots", d + "/p"},
         {},
         2,
         "--plots '" + d.toStdString() + "/p/ecdf.png' is named twice in this run (also by --pdf)"},
        {onCopy + QStringList{"--json"}, db, 2, "standard output is the database"},
        {kFit + QStringList{"--json"}, "/dev/full", 1,
         "Cannot write standard output: No space left on device"},
        {kFit + QStringList{"--summary", "--json"},
         {},
         2,
         "--json and --summary would both write to standard output"},
        {onCopy + QStringList{"--json=" + db},
         {},
         2,
         "is the database: an output never replaces an input"},
    };
    for (const auto& c : cases) {
        const tavtest::TProgramResult r = QuietTavreg(c.args, c.out);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromStdString(c.message))) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(Entries(d), (QStringList{"fifo", "file", "folder", "in.db"}));
    EXPECT_EQ(QFileInfo(db).size(), QFileInfo(tavtest::SampleDb()).size());

    // Through a link: the file it names is written, with its mode, and the link stays.
    tavtest::WriteFile((d + "/real.pdf").toStdString(), "old");
    ASSERT_EQ(chmod(QFile::encodeName(d + "/real.pdf").constData(), 0640), 0);
    ASSERT_TRUE(QFile::link("real.pdf", d + "/link.pdf"));
    EXPECT_EQ(QuietTavreg(kFit + QStringList{"--pdf", d + "/link.pdf"}).exitCode, 0);
    EXPECT_TRUE(QFileInfo(d + "/link.pdf").isSymLink());
    QFile real(d + "/real.pdf");
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    EXPECT_TRUE(real.readAll().startsWith("%PDF"));
    ASSERT_EQ(stat(QFile::encodeName(d + "/real.pdf").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Outputs that name a file go there; standard output keeps the one left to it.
    const QString out = d + "/out";
    ASSERT_EQ(QuietTavreg(kFit + QStringList{"--json=" + d + "/fit.json",
                                             "--summary=" + d + "/fit.txt", "--sql-expression"},
                          out)
                  .exitCode,
              0);
    const auto text = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    EXPECT_TRUE(text(d + "/fit.json").startsWith("{\n    \"regressions\": ["));
    EXPECT_TRUE(text(d + "/fit.txt").startsWith("Regression: table sales"));
    EXPECT_TRUE(text(out).startsWith("-41.82") && !text(out).contains("Regression"));
}

// A file system of 64 KiB, filled but for a few bytes: needs root to mount it.
class FullDisk : public testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 ||
            mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "needs root to mount a small tmpfs";
        mounted_ = true;
        tavtest::WriteFile(Path("old").toStdString(), "previous");
        QFile filler(Path("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(512, 'f')) == 512 && filler.flush()) {
        }
    }
    void TearDown() override {
        if (mounted_) umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    QString Path(const QString& name) const { return dir_.path() + "/" + name; }
    void ExpectUnchanged() const {
        EXPECT_EQ(Entries(dir_.path()), (QStringList{"filler", "old"}));
        QFile old(Path("old"));
        EXPECT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), "previous");
    }

  private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

TEST_F(FullDisk, EveryOutputFailsWithOneLineAndChangesNothing) {
    const QStringList outputs[] = {{"--pdf", Path("old")},
                                   {"--plots", Path("")},
                                   {"--diagnostics", Path("")},
                                   {"--json"},
                                   {"--summary=" + Path("old")}};
    for (const QStringList& output : outputs) {
        const tavtest::TProgramResult r =
            QuietTavreg(kFit + output, output[0] == "--json" ? Path("out") : QString());
        QFile::remove(Path("out"));  // standard output fails; the shell made its file
        EXPECT_EQ(r.exitCode, 1) << output.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("No space left on device")) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        ExpectUnchanged();
    }
}

TEST_F(FullDisk, DesignerSaveKeepsTheFormFile) {
    tav::Register();
    tavtest::TMessageRecorder messages;
    tav::TDesignerWindow w;
    ASSERT_TRUE(w.NewForm());
    w.AddComponent("TTAVQuery");
    EXPECT_FALSE(w.SaveAs(Path("old")));
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_NE(messages.Texts()[0].find("No space left on device"), std::string::npos);
    EXPECT_TRUE(w.Modified());
    ExpectUnchanged();
}

TEST(OutputFiles, AFailedCommitPutsBackWhatItReplaced) {
    QTemporaryDir tmp;
    const QString a = tmp.path() + "/a", b = tmp.path() + "/b";
    tavtest::WriteFile(a.toStdString(), "old a");
    {
        tav::TOutputFiles files;
        files.Write(a, "--a", "new a");
        files.Write(b, "--b", "new b");
        ASSERT_TRUE(QDir().mkdir(b));  // made after the check: the second rename fails
        EXPECT_THROW(files.Commit(), tav::Exception);
    }
    QFile file(a);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old a");
    EXPECT_EQ(Entries(tmp.path()), (QStringList{"a", "b"}));
}
