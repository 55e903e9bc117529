#include "Ui/Shell/Columns.hpp"

#include "Ui/Program/ProgramPanelView.hpp"

#include "Ui/Board/PlaylistBoardView.hpp"
#include "Ui/Sidebar/SidebarView.hpp"

namespace ombry::ui {

QWidget* placeholderColumn(const char* objectName, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(QString::fromLatin1(objectName));
    return w;
}

ColumnFactories defaultColumns() {
    ColumnFactories f;
    f.sidebar = [](ViewContext& context, QWidget* parent) -> QWidget* { return new SidebarView(context, parent); };
    f.board = [](ViewContext& context, QWidget* parent) { return new PlaylistBoardView(context, parent); };
    f.programColumn = [](ViewContext& context, QWidget* parent) -> QWidget* {
        return new ProgramPanelView(context, parent);
    };
    return f;
}

}  // namespace ombry::ui
