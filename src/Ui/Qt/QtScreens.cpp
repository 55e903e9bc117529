#include "Ui/Qt/QtScreens.hpp"

#include <QGuiApplication>

namespace ombry::ui {

QtScreenProvider::QtScreenProvider() {
    for (QScreen* s : QGuiApplication::screens()) watch(s);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        watch(s);
        changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this](QScreen* s) {
        ids_.erase(s);
        changed();
    });
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { changed(); });
}

void QtScreenProvider::watch(QScreen* s) {
    idOf(s);
    connect(s, &QScreen::geometryChanged, this, [this] { changed(); });
    connect(s, &QScreen::physicalDotsPerInchChanged, this, [this] { changed(); });
}

void QtScreenProvider::changed() {
    if (onScreensChanged) onScreensChanged();
}

DisplayId QtScreenProvider::idOf(QScreen* s) const {
    auto it = ids_.find(s);
    if (it != ids_.end()) return it->second;
    return ids_[s] = next_++;
}

QScreen* QtScreenProvider::screen(DisplayId id) const {
    for (QScreen* s : QGuiApplication::screens())
        if (idOf(s) == id) return s;
    return nullptr;
}

std::vector<DisplayScreen> QtScreenProvider::screens() const {
    std::vector<DisplayScreen> list;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* s : QGuiApplication::screens()) {
        // The model tells displays apart better than the connector; the connector when there is none.
        const QString model = (s->manufacturer() + ' ' + s->model()).trimmed();
        const QRect g = s->geometry();
        list.push_back({idOf(s), (model.isEmpty() ? s->name() : model).toStdString(),
                        {g.x(), g.y(), g.width(), g.height()}, s->devicePixelRatio(), s == primary});
    }
    return list;
}

}  // namespace ombry::ui
