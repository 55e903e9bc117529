#pragma once
// Where the main window's three columns come from. Each region's view plugs in here: replace the
// placeholder in Columns.cpp with a call that makes the view (SidebarView, PlaylistBoardView,
// ProgramPanelView) from the context, keeping the column's objectName ("sidebar", "board",
// "programColumn") on the widget returned.
#include <QWidget>

#include <functional>

#include "Ui/Program/ProgramPreview.hpp"

namespace ombry::ui {

class Preferences;
class DialogService;
class WindowRegistry;
class PointerState;
class FileReveal;
class UpdateControls;

// What a view of the main window is made with.
struct ViewContext {
    AppState& state;
    StateSignals& stateSignals;
    Preferences& preferences;
    DialogService& dialogs;
    WindowRegistry& windows;
    PointerState& pointer;
    // The program picture (the GL stage view in the application, none in widget tests).
    ProgramPreview::PictureFactory picture;
    // Shows files in the file manager; none does nothing.
    FileReveal* reveal = nullptr;
    // "Check for Updates…" of the settings and the menus; none: no updater.
    UpdateControls* updates = nullptr;
};

struct ColumnFactories {
    using Factory = std::function<QWidget*(ViewContext& context, QWidget* parent)>;
    Factory sidebar;
    Factory board;
    Factory programColumn;
};

// The columns the application shows.
ColumnFactories defaultColumns();
// A named, empty column (until its view exists).
QWidget* placeholderColumn(const char* objectName, QWidget* parent);

}  // namespace ombry::ui
