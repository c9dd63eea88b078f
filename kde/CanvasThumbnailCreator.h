// The KIO thumbnail plug-in for canvas files: Dolphin and KDE's file dialogs
// load it in their thumbnail worker. It draws in process with the thumbnail
// host's code, so a KDE thumbnail equals `quarn-thumbnail -s N` of the file.
#ifndef QUARN_KDE_CANVASTHUMBNAILCREATOR_H_
#define QUARN_KDE_CANVASTHUMBNAILCREATOR_H_

#include <QObject>
#include <QVariantList>

#include <KIO/ThumbnailCreator>

namespace quarn {

class CanvasThumbnailCreator : public KIO::ThumbnailCreator {
  Q_OBJECT

 public:
  CanvasThumbnailCreator(QObject* parent, const QVariantList& args);

  // The canvas at a local `request.url()` drawn with its padded content's
  // shape, the larger side fitted to the target size's box (each side 1 to
  // the thumbnailer's largest), as an ARGB32_Premultiplied image. A file
  // that is not local, not a canvas by its extension, unreadable,
  // undecodable or has nothing to draw is a failed result. Never throws.
  KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override;
};

}  // namespace quarn

#endif  // QUARN_KDE_CANVASTHUMBNAILCREATOR_H_
