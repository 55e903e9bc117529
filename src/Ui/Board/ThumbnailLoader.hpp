#pragma once
// Card thumbnails, decoded on a worker and handed back to the GUI thread: a card asks, shows its gradient
// while the picture is on its way, and is repainted when it arrives. Keyed by clip id and thumbnail time,
// so a new thumbnail replaces the old one once it is ready. At most `capBytes` of pixels, least recently
// used first out. GUI thread, except the decoding. A card asks for its picture already fitted or cropped to
// its thumbnail box with the box's rounded corners, so painting it costs one unscaled copy.
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace ombry::ui {

// A picture made ready for a box of `pixels` device pixels: scaled to fill it (cropped) or to fit inside
// it (the rest transparent), with its corners rounded by `radius` device pixels.
struct ThumbnailShape {
    QSize pixels;
    bool fill = false;
    double radius = 0;
    double devicePixelRatio = 1;
};

class ThumbnailLoader final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t defaultCapBytes = std::size_t(96) << 20;
    static ThumbnailLoader& shared();

    explicit ThumbnailLoader(std::filesystem::path folder, std::size_t capBytes = defaultCapBytes,
                             QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    // "<id>-<whole ms>"; none without a usable thumbnail time.
    static std::optional<std::string> key(const std::string& id, std::optional<double> thumbAt);
    // The picture when it is ready; otherwise a null image, and the load is started (once) so that
    // `requester` is repainted when it arrives. A missing file is asked for again at the next request.
    QImage image(const std::string& id, std::optional<double> thumbAt, QWidget* requester);
    // The same, shaped for a box on the worker; a picture of exactly `shape.pixels`.
    QImage image(const std::string& id, std::optional<double> thumbAt, const ThumbnailShape& shape, QWidget* requester);
    // Blocks until every started load has been handed back (tests and benchmarks).
    void waitForIdle();
    std::size_t bytes() const { return bytes_; }
    int loadsStarted() const { return loadsStarted_; }

signals:
    void loaded(const QString& key);

private:
    void deliver(const std::string& key, QImage image);
    QImage lookup(const std::string& id, std::optional<double> thumbAt, const std::optional<ThumbnailShape>& shape,
                  QWidget* requester);
    struct Entry {
        std::string key;
        QImage image;
    };
    std::filesystem::path folder_;
    std::size_t capBytes_;
    std::size_t bytes_ = 0;
    std::list<Entry> entries_;  // most recent first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
    std::unordered_map<std::string, QList<QPointer<QWidget>>> waiting_;
    QThreadPool pool_;
    int loadsStarted_ = 0;
    int inFlight_ = 0;
};

}  // namespace ombry::ui
