#pragma once
// The single secondary windows ("settings", "properties"): made on first use, then shown and raised again.
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>

namespace ombry::ui {

class WindowRegistry {
public:
    using Factory = std::function<QWidget*()>;
    // Where a window of this id comes from; replaces an earlier factory.
    void define(const QString& id, Factory factory) { factories_[id] = std::move(factory); }
    // Shows the window of this id, made by its factory the first time (centred on the main window's
    // screen), raised and activated afterwards. Null for an id without a factory.
    QWidget* open(const QString& id);
    // The window when it exists.
    QWidget* window(const QString& id) const;
    void closeAll();

private:
    std::map<QString, Factory> factories_;
    std::map<QString, QPointer<QWidget>> windows_;
};

}  // namespace ombry::ui
