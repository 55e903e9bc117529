#pragma once
#include <QObject>
#include <QScreen>

#include <map>

#include "Render/DisplayOutputs.hpp"

namespace ombry::ui {

// The application's screens. Each QScreen gets a display id when first seen, never reused in the process.
class QtScreenProvider final : public QObject, public ScreenProvider {
public:
    QtScreenProvider();
    std::vector<DisplayScreen> screens() const override;
    QScreen* screen(DisplayId id) const;
    DisplayId idOf(QScreen* screen) const;

private:
    void watch(QScreen* screen);
    void changed();

    mutable std::map<QScreen*, DisplayId> ids_;
    mutable DisplayId next_ = 1;
};

}  // namespace ombry::ui
