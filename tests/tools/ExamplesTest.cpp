// The images in examples/ are what zandrel-mkimage writes today: a change of the image
// format or of the tool shows here, and examples/make-examples.sh writes them anew.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Examples, AreWhatMkimageWritesToday) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess process;
    process.start(QStringLiteral("bash"), {QStringLiteral(EXAMPLES_DIR "/make-examples.sh"),
                                           QStringLiteral(MKIMAGE_PATH), out.path()});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    const QStringList made = QDir(out.path()).entryList({QStringLiteral("*.hex")}, QDir::Files);
    const QStringList shipped =
        QDir(QStringLiteral(EXAMPLES_DIR)).entryList({QStringLiteral("*.hex")}, QDir::Files);
    EXPECT_EQ(made, shipped);
    for (const QString& name : made) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray expected = contents(QStringLiteral(EXAMPLES_DIR "/") + name);
        EXPECT_FALSE(expected.isEmpty());
        EXPECT_TRUE(contents(out.filePath(name)) == expected);
    }
}

} // namespace
