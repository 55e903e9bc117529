#pragma once
// The small popover of a playlist section's header that sets how the playlist plays: its transition,
// advancing when a clip ends or every N seconds, and looping. It keeps no copy of the playlist: every draw
// reads it by id, every change re-reads it and writes back a copy with one field changed.
#include <QWidget>

#include <optional>
#include <string>

#include "App/AppState.hpp"

class QComboBox;
class QLabel;
class QLineEdit;

namespace ombry::ui {

class RefreshGate;
class StateSignals;
class Switch;

namespace tip_rules {
// The picker's rows: Default, Cut, Fade, Slide, Zoom.
int transitionRow(const std::optional<TransitionType>& stored);
std::optional<TransitionType> transitionForRow(int row);
// The interval the field commits: at least 1 s, at most a day; not a number stores 1.
double committedInterval(double value);
// What the number field shows: the interval, or 10 while there is none, with no fraction digits.
QString intervalText(const std::optional<double>& stored);

// The copy written for each control; every other field as found.
Group withTransition(Group g, int row);
Group withAdvanceOnEnd(Group g, bool on);
Group withAdvanceEvery(Group g, bool on);
Group withInterval(Group g, double value);
Group withLoop(Group g, bool on);
}  // namespace tip_rules

class PlaylistPlaybackTipView final : public QWidget {
    Q_OBJECT
public:
    PlaylistPlaybackTipView(AppState& state, StateSignals& stateSignals, std::string groupId, QWidget* parent = nullptr);
    void refresh();
    const std::string& groupId() const { return groupId_; }

private:
    // Looks the playlist up now and writes what `change` makes of it; nothing when it is gone.
    void write(const std::function<Group(Group)>& change);

    AppState& state_;
    std::string groupId_;
    RefreshGate* gate_;
    QWidget* body_;
    QComboBox* transition_;
    Switch* onEnd_;
    Switch* every_;
    QLineEdit* seconds_;
    Switch* loop_;
};

}  // namespace ombry::ui
