#include "kde/CanvasThumbnailCreator.h"

#include <KPluginFactory>
#include <QImage>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>

#include "quicklook/QuarnThumbnail/ThumbnailHost.h"

namespace quarn {

CanvasThumbnailCreator::CanvasThumbnailCreator(QObject* parent, const QVariantList& args)
    : KIO::ThumbnailCreator(parent, args) {}

KIO::ThumbnailResult CanvasThumbnailCreator::create(const KIO::ThumbnailRequest& request) {
  // An exception must not reach the worker: it would end every other
  // thumbnail the worker was going to make.
  try {
    const QUrl url = request.url();
    if (!url.isLocalFile()) return KIO::ThumbnailResult::fail();
    const auto side = [](int wanted) { return std::clamp(wanted, 1, ThumbnailHost::kMaxSide); };
    const QSize target = request.targetSize();
    const ThumbnailHost::Surface surface =
        ThumbnailHost::draw(std::filesystem::path(url.toLocalFile().toStdString()),
                            {side(target.width()), side(target.height()), true});
    if (!surface) return KIO::ThumbnailResult::fail();

    // Cairo's ARGB32 is Qt's ARGB32_Premultiplied (native-endian, alpha
    // premultiplied); only the row strides may differ.
    const int width = cairo_image_surface_get_width(surface.get());
    const int height = cairo_image_surface_get_height(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || pixels == nullptr) return KIO::ThumbnailResult::fail();
    for (int y = 0; y < height; ++y) {
      std::memcpy(image.scanLine(y), pixels + static_cast<std::ptrdiff_t>(y) * stride,
                  static_cast<std::size_t>(width) * 4);
    }
    return KIO::ThumbnailResult::pass(image);
  } catch (const std::exception&) {
    return KIO::ThumbnailResult::fail();
  }
}

}  // namespace quarn

K_PLUGIN_CLASS_WITH_JSON(quarn::CanvasThumbnailCreator, "quarnthumbnail.json")

#include "CanvasThumbnailCreator.moc"
