#include "Ui/Board/ThumbnailLoader.hpp"

#include <QCoreApplication>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "Engine/Library/Store.hpp"

namespace ombry::ui {

namespace {
// Twice the large card: sharp on a 2x screen, bounded in memory.
constexpr int maxWidth = 544;

QImage decode(const std::filesystem::path& file) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && size.width() > maxWidth)
        reader.setScaledSize(QSize(maxWidth, std::max(1, size.height() * maxWidth / size.width())));
    QImage image = reader.read();
    if (!image.isNull() && image.format() != QImage::Format_ARGB32_Premultiplied && !image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB32);
    return image;
}

// The picture scaled into (or over) the box and clipped to its rounded rectangle, transparent elsewhere.
QImage shaped(const QImage& picture, const ThumbnailShape& shape) {
    if (picture.isNull() || shape.pixels.isEmpty()) return {};
    const QSize scaled = QSizeF(picture.size())
                             .scaled(QSizeF(shape.pixels), shape.fill ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio)
                             .toSize()
                             .expandedTo(QSize(1, 1));
    const QImage smooth = picture.scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage out(shape.pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(out.rect()), shape.radius, shape.radius);
    p.setClipPath(outline);
    QRect target(QPoint(), scaled);
    target.moveCenter(out.rect().center());
    p.drawImage(target.topLeft(), smooth);
    p.end();
    out.setDevicePixelRatio(shape.devicePixelRatio);
    return out;
}
}  // namespace

ThumbnailLoader& ThumbnailLoader::shared() {
    static auto* loader = new ThumbnailLoader(Store::thumbnailDir(), defaultCapBytes, QCoreApplication::instance());
    return *loader;
}

ThumbnailLoader::ThumbnailLoader(std::filesystem::path folder, std::size_t capBytes, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), capBytes_(capBytes) {
    pool_.setMaxThreadCount(2);
}

ThumbnailLoader::~ThumbnailLoader() {
    pool_.clear();
    pool_.waitForDone();
}

std::optional<std::string> ThumbnailLoader::key(const std::string& id, std::optional<double> thumbAt) {
    if (!thumbAt || !std::isfinite(*thumbAt) || std::abs(*thumbAt) > 9.0e15) return std::nullopt;
    return id + "-" + std::to_string(static_cast<long long>(std::trunc(*thumbAt)));
}

QImage ThumbnailLoader::image(const std::string& id, std::optional<double> thumbAt, QWidget* requester) {
    return lookup(id, thumbAt, std::nullopt, requester);
}

QImage ThumbnailLoader::image(const std::string& id, std::optional<double> thumbAt, const ThumbnailShape& shape,
                              QWidget* requester) {
    if (shape.pixels.isEmpty()) return {};
    return lookup(id, thumbAt, shape, requester);
}

QImage ThumbnailLoader::lookup(const std::string& id, std::optional<double> thumbAt,
                               const std::optional<ThumbnailShape>& shape, QWidget* requester) {
    auto k = key(id, thumbAt);
    if (!k || !Store::isSafeFileName(id)) return {};
    if (shape)
        *k += "@" + std::to_string(shape->pixels.width()) + "x" + std::to_string(shape->pixels.height()) +
              (shape->fill ? "f" : "") + "r" + std::to_string(std::lround(shape->radius * 100));
    if (auto it = index_.find(*k); it != index_.end()) {
        entries_.splice(entries_.begin(), entries_, it->second);
        return it->second->image;
    }
    auto [wait, fresh] = waiting_.try_emplace(*k);
    if (requester && !wait->second.contains(requester)) wait->second.append(requester);
    if (!fresh) return {};
    ++loadsStarted_;
    ++inFlight_;
    const std::filesystem::path file = folder_ / (id + ".jpg");
    // The destructor waits for the workers, and a posted delivery dies with its receiver.
    ThumbnailLoader* self = this;
    pool_.start([self, file, key = *k, shape] {
        QImage picture = shape ? shaped(decode(file), *shape) : decode(file);
        QMetaObject::invokeMethod(
            self, [self, key, picture = std::move(picture)]() mutable { self->deliver(key, std::move(picture)); },
            Qt::QueuedConnection);
    });
    return {};
}

void ThumbnailLoader::deliver(const std::string& key, QImage image) {
    --inFlight_;
    const auto waiters = waiting_.extract(key);
    if (image.isNull()) return;  // looked for again next time
    const auto size = std::size_t(image.sizeInBytes());
    entries_.push_front({key, std::move(image)});
    index_[key] = entries_.begin();
    bytes_ += size;
    while (bytes_ > capBytes_ && entries_.size() > 1) {
        bytes_ -= std::size_t(entries_.back().image.sizeInBytes());
        index_.erase(entries_.back().key);
        entries_.pop_back();
    }
    if (!waiters.empty())
        for (const auto& w : waiters.mapped())
            if (w) w->update();
    emit loaded(QString::fromStdString(key));
}

void ThumbnailLoader::waitForIdle() {
    while (inFlight_ > 0) {
        pool_.waitForDone();
        QCoreApplication::sendPostedEvents(this);
    }
}

}  // namespace ombry::ui
