#pragma once
// Creating and restyling playlists: the editor form (name, nine colours, twelve symbols), the popover that
// holds it for an edit, and the new-playlist popover with its "New" and "From Library" tabs.
// PlaylistEditorPresenter opens them whenever AppState.playlistEditor asks for one.
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "App/AppState.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Widgets/Popover.hpp"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace ombry::ui {

class RefreshGate;
class StateSignals;

namespace editor_rules {
inline constexpr std::array<const char*, 9> colours{"#5f6670", "#7596b8", "#6fb495", "#c2a064", "#9b8fc4",
                                                    "#cd7f7f", "#5fb0c9", "#c98f5f", "#7fb88f"};
inline constexpr std::array<const char*, 12> icons{"list.bullet", "music.note", "film", "photo", "star", "flag",
                                                  "bolt", "globe", "flame", "heart", "mic", "sparkles"};
struct Form {
    std::string name;
    std::string color = "#5f6670";
    std::string icon = "list.bullet";
    bool operator==(const Form&) const = default;
};
QString title(const PlaylistEditorTarget& target);
QString confirmTitle(const PlaylistEditorTarget& target);
// Create needs a name that is not blank (spaces and tabs trimmed); Save never waits.
bool canConfirm(const PlaylistEditorTarget& target, const std::string& name);
// The form as it opens: the defaults for create, the playlist's values for edit.
Form load(const AppState& state, const PlaylistEditorTarget& target);
// Create: the playlist, then each seed added in order, then it alone selected. Edit: restyled.
void save(AppState& state, const PlaylistEditorTarget& target, const Form& form);
// "1 item", "0 items".
QString clipCount(std::size_t n);
}  // namespace editor_rules

class PlaylistEditorForm final : public QWidget {
    Q_OBJECT
public:
    PlaylistEditorForm(AppState& state, PlaylistEditorTarget target, QWidget* parent = nullptr);
    const editor_rules::Form& form() const { return form_; }
    const PlaylistEditorTarget& target() const { return target_; }
    // Create or Save, when allowed; then finished.
    void confirm();

signals:
    void finished();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void sync();
    AppState& state_;
    PlaylistEditorTarget target_;
    editor_rules::Form form_;
    QLineEdit* name_;
    QButtonGroup* colours_;
    QButtonGroup* icons_;
    QPushButton* confirm_;
};

// The form for an edit target, in a popover at the playlist's sidebar row.
class PlaylistEditorSheet final : public Popover {
    Q_OBJECT
public:
    PlaylistEditorSheet(AppState& state, PlaylistEditorTarget target, QWidget* parent);
    PlaylistEditorForm* form() const { return form_; }

private:
    PlaylistEditorForm* form_;
};

// The saved playlists of every project, to bring one back or delete it (after a confirmation).
class SavedPlaylistPicker final : public QWidget {
    Q_OBJECT
public:
    SavedPlaylistPicker(AppState& state, StateSignals& stateSignals, DialogService& dialogs, QWidget* parent = nullptr);
    void refresh();
    QScrollArea* list() const { return list_; }

signals:
    void imported();

private:
    AppState& state_;
    DialogService& dialogs_;
    RefreshGate* gate_;
    QWidget* empty_;
    QScrollArea* list_;
    QWidget* rows_;
    QVBoxLayout* rowsLayout_;
};

class NewPlaylistPopover final : public Popover {
    Q_OBJECT
public:
    enum class Tab { created, saved };
    NewPlaylistPopover(AppState& state, StateSignals& stateSignals, DialogService& dialogs, PlaylistEditorTarget target,
                       QWidget* parent = nullptr);
    void setTab(Tab tab);
    Tab tab() const { return tab_; }
    PlaylistEditorForm* form() const;
    SavedPlaylistPicker* picker() const;

private:
    AppState& state_;
    StateSignals& signals_;
    DialogService& dialogs_;
    PlaylistEditorTarget target_;
    Tab tab_ = Tab::saved;
    QButtonGroup* tabs_;
    QVBoxLayout* body_;
    QWidget* page_ = nullptr;
};

// Opens the editor AppState.playlistEditor asks for at the anchor of its target (global coordinates): an
// edit in the sheet beside the playlist's row, a create in the new-playlist popover under the plus button.
// An anchor that gives none (no row of that playlist) opens nothing and leaves the target set; without an
// anchor function both open at the window. Closing clears the target only while it still holds its own.
class PlaylistEditorPresenter final : public QObject {
    Q_OBJECT
public:
    using Anchor = std::function<std::optional<QRect>(const PlaylistEditorTarget&)>;
    PlaylistEditorPresenter(AppState& state, StateSignals& stateSignals, DialogService& dialogs, QWidget* window,
                            Anchor anchor);
    QWidget* open() const { return open_; }

private:
    void follow();
    AppState& state_;
    StateSignals& signals_;
    DialogService& dialogs_;
    QWidget* window_;
    Anchor anchor_;
    std::optional<PlaylistEditorTarget> shown_;
    QPointer<QWidget> open_;
};

}  // namespace ombry::ui
