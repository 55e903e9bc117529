#pragma once
// The small caption heading a section: the text in capitals, semibold, letter-spaced, in the secondary colour.
#include <QLabel>

namespace ombry::ui {

class SectionLabel final : public QLabel {
    Q_OBJECT
public:
    explicit SectionLabel(const QString& text, QWidget* parent = nullptr);
};

}  // namespace ombry::ui
