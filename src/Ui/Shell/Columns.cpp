#include "Ui/Shell/Columns.hpp"

#include <QVBoxLayout>

#include "Ui/Board/PlaylistBoardView.hpp"

namespace ombry::ui {

QWidget* placeholderColumn(const char* objectName, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(QString::fromLatin1(objectName));
    return w;
}

QWidget* makeProgramColumn(ViewContext& context, QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setObjectName(QStringLiteral("programColumn"));
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    layout->addWidget(new ProgramPreview(context.state, context.stateSignals, context.picture, column));
    layout->addStretch(1);
    return column;
}

ColumnFactories defaultColumns() {
    ColumnFactories f;
    f.sidebar = [](ViewContext&, QWidget* parent) { return placeholderColumn("sidebar", parent); };
    f.board = [](ViewContext& context, QWidget* parent) { return new PlaylistBoardView(context, parent); };
    f.programColumn = [](ViewContext& context, QWidget* parent) { return makeProgramColumn(context, parent); };
    return f;
}

}  // namespace ombry::ui
