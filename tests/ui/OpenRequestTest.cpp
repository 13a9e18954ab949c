// Which file the user asks for on the command line and by a drop.

#include <QDir>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
