#pragma once
#include <set>

#include "App/ViewModels.hpp"

namespace ombry {

// What the project and saved-playlist operations need of the application state, which implements it.
class AppServices {
public:
    virtual ~AppServices() = default;
    // The sidebar selection. Setting a different set also empties the clip selection.
    virtual const std::set<SidebarItem>& selection() const = 0;
    virtual void setSelection(std::set<SidebarItem> selection) = 0;
    // Starts background probing and thumbnails for clips that lack them; returns at once.
    virtual void probeMissing() = 0;
};

}  // namespace ombry
