// Canvas thumbnails through KDE's own stack: KIO::filePreview asks the
// thumbnail worker, which finds the build's plug-in by its metadata. Runs
// offscreen in a private home, so no setting or cache of the user's is read
// or written. Run it under a session bus of its own (dbus-run-session).
#include <stdlib.h>

#include <KFileItem>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <KIO/PreviewJob>
#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

// What came back for each file: the picture, or a null image for a failure.
std::map<std::string, QImage> previews(const std::vector<fs::path>& files, int size) {
  KFileItemList items;
  for (const auto& file : files) {
    items.append(KFileItem(QUrl::fromLocalFile(QString::fromStdString(file.string()))));
  }
  std::map<std::string, QImage> results;
  // The plug-ins Dolphin enables until the user picks some.
  const QStringList plugins = KIO::PreviewJob::defaultPlugins();
  KIO::PreviewJob* job = KIO::filePreview(items, QSize(size, size), &plugins);
  QEventLoop loop;
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&](const KFileItem& item, const QPixmap& preview) {
                     results[item.localPath().toStdString()] = preview.toImage();
                   });
  QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem& item) {
    results[item.localPath().toStdString()] = QImage();
  });
  QObject::connect(job, &KJob::result, &loop, &QEventLoop::quit);
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
  return results;
}

std::string canvas(std::string_view elements) {
  return R"({"elements":[)" + std::string(elements) + "]}";
}

TEST(KioThumbnailTest, EqualsTheThumbnailProgramPixelForPixel) {
  test::TempDir dir;
  const struct {
    fs::path file;
    int size;
  } rows[] = {
      {fs::path(QUARN_SOURCE_DIR) / "examples/Board.kcv", 256},
      // Wide and short: the picture keeps the canvas's shape, not the square.
      {dir.write("wide.kcv", canvas(R"({"id":"a","type":"ellipse","x":0,"y":0,"width":600,)"
                                    R"("height":40,"text":"Wide"})")),
       128},
      {dir.write("tall.QCV", canvas(R"({"id":"a","type":"diamond","x":0,"y":0,"width":50,)"
                                    R"("height":300})")),
       256},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file.string() + " at " + std::to_string(row.size));
    const fs::path expected = dir / (row.file.filename().string() + ".png");
    const auto made =
        test::run(test::binary("quarn-thumbnail") + " -s " + std::to_string(row.size) + " '" +
                  row.file.string() + "' '" + expected.string() + "'");
    ASSERT_EQ(made.status, 0) << made.err;
    const QImage want =
        QImage(QString::fromStdString(expected.string())).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(want.isNull());
    auto results = previews({row.file}, row.size);
    ASSERT_EQ(results.count(row.file.string()), 1u) << "no answer from KIO";
    const QImage got = results[row.file.string()].convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(got.isNull()) << "KIO reported a failure";
    ASSERT_EQ(got.size(), want.size());
    int differing = 0;
    for (int y = 0; y < want.height(); ++y) {
      for (int x = 0; x < want.width(); ++x) differing += got.pixel(x, y) != want.pixel(x, y);
    }
    EXPECT_EQ(differing, 0);
  }
}

TEST(KioThumbnailTest, UndecodableCanvasFails) {
  test::TempDir dir;
  // The good canvas beside it shows the failure comes from the plug-in.
  const fs::path good = dir.write("good.kcv", canvas(R"({"id":"a","type":"rectangle","x":0,)"
                                                     R"("y":0,"width":50,"height":50})"));
  const fs::path broken = dir.write("broken.kcv", R"({"elements":[{"id":)");
  const auto results = previews({good, broken}, 128);
  ASSERT_EQ(results.size(), 2u) << "no answer from KIO";
  EXPECT_FALSE(results.at(good.string()).isNull());
  EXPECT_TRUE(results.at(broken.string()).isNull());
}

// A private home, configuration, cache and data folder that knows the canvas
// type, set before Qt or KIO reads any of them.
fs::path makePrivateHome() {
  std::string pattern = (fs::temp_directory_path() / "quarn-kio-XXXXXX").string();
  const fs::path root = ::mkdtemp(pattern.data());
  for (const char* name : {"home", "config", "cache", "data/mime/packages", "runtime"}) {
    fs::create_directories(root / name);
  }
  fs::permissions(root / "runtime", fs::perms::owner_all);
  fs::copy_file(fs::path(QUARN_SOURCE_DIR) / "data/quarn-canvas.xml",
                root / "data/mime/packages/quarn-canvas.xml");
  ::setenv("HOME", (root / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", "/usr/share", 1);
  ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("QT_PLUGIN_PATH", QUARN_BINARY_DIR "/plugins", 1);
  const std::string update = "update-mime-database '" + (root / "data/mime").string() + "'";
  if (std::system(update.c_str()) != 0) std::exit(1);
  return root;
}

}  // namespace
}  // namespace quarn

int main(int argc, char** argv) {
  const std::filesystem::path home = quarn::makePrivateHome();
  ::testing::InitGoogleTest(&argc, argv);
  int status = 0;
  {
    QGuiApplication app(argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return status;
}
