#pragma once
// A settings pane's grouped form: titled sections of rows on a rounded surface, one column that scrolls,
// no Apply button. The panes of the media storage and uploads sections and the feedback form build on it.
#include <QLabel>
#include <QScrollArea>

#include <utility>

class QPushButton;
class QVBoxLayout;

namespace ombry::ui {

class PaneForm : public QScrollArea {
public:
    explicit PaneForm(QWidget* parent = nullptr);
    // A new section at the end: its header row (the title, then `headerExtra` at the far end), the box
    // whose layout the rows go into, and the footer under it when given. The section's widget is named
    // `objectName`.
    QVBoxLayout* addSection(const QString& objectName, const QString& title, QWidget* headerExtra = nullptr,
                            const QString& footer = {});
    QWidget* content() const { return content_; }
    // A titled section on its own, for a form that is made elsewhere: the section widget and its rows.
    static std::pair<QWidget*, QVBoxLayout*> makeSection(QWidget* parent, const QString& objectName, const QString& title,
                                                         QWidget* headerExtra = nullptr, const QString& footer = {});
    // The header label of a section made by addSection.
    QLabel* header(const QString& sectionName) const;

    // Styled texts of the forms.
    static QLabel* note(const QString& text, QWidget* parent, const QString& objectName = {});
    // One line (a row's label); notes wrap.
    static QLabel* plain(const QString& text, QWidget* parent, const QString& objectName = {});
    // An icon and its text in the warning orange; `caption` sets it in the caption size.
    static QWidget* warning(const QString& text, QWidget* parent, const QString& objectName, bool caption);
    static void setWarningText(QWidget* warning, const QString& text);

private:
    QWidget* content_ = nullptr;
    QVBoxLayout* column_ = nullptr;
};

// One line of text cut in the middle to the width it gets; the whole text is its tooltip.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
};

// A small push button with its accessible name, no keyboard focus stolen from the fields.
QPushButton* smallButton(const QString& text, const QString& objectName, QWidget* parent, bool destructive = false);

}  // namespace ombry::ui
