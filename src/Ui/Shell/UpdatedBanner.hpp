#pragma once
// "Updated to v<version>" after an update, with "What's New" when release notes are kept for exactly that
// version, and a dismiss button.
#include <QFrame>

#include <functional>
#include <optional>
#include <string>

class QPushButton;

namespace ombry::ui {

class Popover;

class UpdatedBanner final : public QFrame {
    Q_OBJECT
public:
    // `notes`: the notes document (UpdateNotes::document) for this version, if any.
    UpdatedBanner(const std::string& version, std::optional<std::string> notes, std::function<void()> dismiss,
                  QWidget* parent = nullptr);
    // Shows or hides the notes' popover below the button.
    void toggleNotes();
    Popover* notesPopover() const { return popover_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<std::string> notes_;
    QPushButton* whatsNew_ = nullptr;
    Popover* popover_ = nullptr;
};

}  // namespace ombry::ui
