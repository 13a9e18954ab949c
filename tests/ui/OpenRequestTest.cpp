// Which file the user asks for on the command line and by a drop.

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "TempDir.h"
#include "ui/OpenRequest.h"

namespace {

struct ArgumentsCase {
    QStringList arguments;
    std::optional<QString> file;  // relative names are taken against the current folder
};

TEST(OpenRequest, FileFromArgumentsIsTheFirstMadeAbsolute) {
    const QString here = QDir::currentPath();
    const ArgumentsCase cases[] = {
        {{"kelvane"}, std::nullopt},
        {{}, std::nullopt},
        {{"kelvane", ""}, std::nullopt},
        {{"kelvane", "/data/ダンプ.syx"}, "/data/ダンプ.syx"},
        {{"kelvane", "bank a.SYX", "other.syx"}, here + "/bank a.SYX"},
        {{"kelvane", "../up/./x.ex"}, here + "/../up/./x.ex"},
    };
    for (const auto& c : cases) {
        const auto file = ui::FileFromArguments(c.arguments);
        const std::optional<std::string> expected =
            c.file ? std::optional<std::string>(c.file->toStdString()) : std::nullopt;
        EXPECT_EQ(file, expected) << c.arguments.join(' ').toStdString();
    }
}

struct DropCase {
    QList<QUrl> urls;
    std::optional<std::string> file;
};

TEST(OpenRequest, DroppedFileIsTheFirstLocalFile) {
    const DropCase cases[] = {
        {{}, std::nullopt},
        {{QUrl("file:///a/one.syx"), QUrl("file:///a/two.syx")}, "/a/one.syx"},
        {{QUrl("https://example.org/x.syx"), QUrl("file:///a/%E3%83%80%E3%83%B3%E3%83%97.ex")}, "/a/ダンプ.ex"},
        {{QUrl("https://example.org/x.syx")}, std::nullopt},
    };
    for (const auto& c : cases) {
        QMimeData data;
        data.setUrls(c.urls);
        EXPECT_EQ(ui::DroppedFile(data), c.file) << c.urls.size();
    }
    QMimeData textOnly;
    textOnly.setText("/a/one.syx");
    EXPECT_EQ(ui::DroppedFile(textOnly), std::nullopt);
}

// Names from old archives are Shift_JIS bytes, which Qt shows with replacement characters and
// cannot give back: each way a name reaches the window finds the file by its real bytes.
TEST(OpenRequest, NamesThatAreNotUtf8AreFoundByTheirBytes) {
    testsupport::TempDir dir;
    const std::string folder = dir.Path().string() + "/\x83\x66\x81\x5B\x83\x5E";  // "データ" in Shift_JIS
    const std::string file = folder + "/\x83\x5F\x83\x93\x83\x76.syx";           // "ダンプ.syx"
    std::filesystem::create_directory(folder);
    std::ofstream(file) << "";
    const QString shown = QFile::decodeName(QByteArray::fromStdString(file));
    ASSERT_NE(QFile::encodeName(shown).toStdString(), file) << "Qt gives these bytes back after all";

    EXPECT_EQ(ui::NativePath(shown), file) << "the file dialog's choice";
    EXPECT_EQ(ui::FileFromArguments({"kelvane", shown}), file);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(shown)});
    EXPECT_EQ(ui::DroppedFile(data), file);
    // A file that is not there keeps the name Qt gave, in its real folder, for the loader to report.
    EXPECT_EQ(ui::NativePath(shown + "x"), folder + "/" + QFile::encodeName(shown.section(u'/', -1) + "x").toStdString());
}

}  // namespace
