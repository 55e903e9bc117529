#pragma once
// The main window's toolbar: the project menu, the media search, Add Media, then at the right the
// connection pills (while someone is connected), the resolution and frame-rate pickers and the output pill.
#include <QFrame>
#include <QPointer>
#include <QToolButton>

#include "Ui/Shell/Columns.hpp"
#include "Ui/Widgets/Popover.hpp"

class QAction;
class QLineEdit;
class QMainWindow;
class QMenu;
class QToolBar;

namespace ombry::ui {

class OmbryCommands;
class GlassMenuPicker;
class OutputStatusPill;
class RemotePill;
class CompanionPill;

// The project's name, cut in the middle to the width the window gives it, over the project commands.
class ProjectMenuItem final : public QToolButton {
public:
    ProjectMenuItem(ViewContext& context, OmbryCommands& commands, QWidget* parent = nullptr);
    QMenu* projectMenu() const { return menu_; }
    QMenu* recentMenu() const { return recent_; }

private:
    void refresh();
    void fillRecent();
    ViewContext& context_;
    OmbryCommands& commands_;
    QMenu* menu_ = nullptr;
    QMenu* recent_ = nullptr;
};

class AddMediaItem final : public QToolButton {
public:
    explicit AddMediaItem(ViewContext& context, QWidget* parent = nullptr);
};

// The board's filter text, written on every edit.
class SearchMediaField final : public QFrame {
public:
    explicit SearchMediaField(ViewContext& context, QWidget* parent = nullptr);
    QLineEdit* field() const { return field_; }

private:
    void refresh();
    AppState& state_;
    QLineEdit* field_ = nullptr;
};

// The resolution or frame-rate picker with its "Custom…" tip below it.
class StageFormatItem final : public QWidget {
public:
    enum class Kind { resolution, frameRate };
    StageFormatItem(Kind kind, ViewContext& context, QWidget* parent = nullptr);
    GlassMenuPicker* picker() const { return picker_; }
    // The open tip; none while closed.
    Popover* tip() const { return tip_; }
    void showCustom();

private:
    void refresh();
    Kind kind_;
    ViewContext& context_;
    GlassMenuPicker* picker_ = nullptr;
    QPointer<Popover> tip_;
};

class MainWindowRoot final : public QObject {
public:
    MainWindowRoot(ViewContext& context, QMainWindow& window, OmbryCommands& commands);

    QToolBar* toolbar() const { return toolbar_; }
    ProjectMenuItem* projectMenu() const { return project_; }
    SearchMediaField* search() const { return search_; }
    AddMediaItem* addMedia() const { return addMedia_; }
    StageFormatItem* resolution() const { return resolution_; }
    StageFormatItem* frameRate() const { return frameRate_; }
    OutputStatusPill* outputPill() const { return output_; }
    // The toolbar entries of the connection pills (shown only while their count is at least 1).
    QAction* remoteEntry() const { return remoteEntry_; }
    QAction* companionEntry() const { return companionEntry_; }

private:
    void refresh();
    ViewContext& context_;
    QToolBar* toolbar_ = nullptr;
    ProjectMenuItem* project_ = nullptr;
    SearchMediaField* search_ = nullptr;
    AddMediaItem* addMedia_ = nullptr;
    StageFormatItem* resolution_ = nullptr;
    StageFormatItem* frameRate_ = nullptr;
    OutputStatusPill* output_ = nullptr;
    QAction* remoteEntry_ = nullptr;
    QAction* companionEntry_ = nullptr;
};

}  // namespace ombry::ui
