// The shared widgets, offscreen.
#include <QSignalSpy>

#include "UiTestSupport.hpp"
#include "Ui/Widgets/Chip.hpp"
#include "Ui/Widgets/FlowGridLayout.hpp"
#include "Ui/Widgets/Popover.hpp"
#include "Ui/Widgets/Switch.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui_test {
namespace {

TEST(Widgets, SwitchTogglesOnClickAndTakesNoFocus) {
    ui::Switch s;
    s.show();
    QSignalSpy toggled(&s, &QAbstractButton::toggled);
    QTest::mouseClick(&s, Qt::LeftButton);
    EXPECT_TRUE(s.isChecked());
    QTest::mouseClick(&s, Qt::LeftButton);
    EXPECT_FALSE(s.isChecked());
    EXPECT_EQ(toggled.count(), 2);
    EXPECT_EQ(s.focusPolicy(), Qt::NoFocus);
}

TEST(Widgets, ChipMakesRoomForItsSymbol) {
    ui::Chip plain(QStringLiteral("LIVE"));
    ui::Chip withSymbol(QStringLiteral("LIVE"));
    withSymbol.setSymbol("bolt.fill");
    EXPECT_GT(withSymbol.sizeHint().width(), plain.sizeHint().width());
    EXPECT_EQ(plain.sizeHint().height(), 20);
    EXPECT_EQ(plain.focusPolicy(), Qt::NoFocus);
}

TEST(Widgets, PopoverClosesOnEscape) {
    QWidget host;
    host.resize(400, 300);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    ui::Popover pop(&host);
    pop.resize(120, 80);
    QSignalSpy closed(&pop, &ui::Popover::closed);
    pop.showAt(QRect(host.mapToGlobal(QPoint(100, 100)), QSize(40, 20)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pop));
    EXPECT_EQ(pop.pos().y(), host.mapToGlobal(QPoint(100, 100)).y() + 20 + 6);
    QTest::keyClick(&pop, Qt::Key_Escape);
    QTRY_VERIFY(!pop.isVisible());
    EXPECT_EQ(closed.count(), 1);
}

TEST(Widgets, FlowGridWrapsItemsOfOneWidth) {
    QWidget host;
    auto* grid = new ui::FlowGridLayout(&host, 10);
    grid->setItemWidth(100);
    std::vector<QWidget*> items;
    for (int i = 0; i < 5; ++i) {
        auto* w = new QWidget(&host);
        w->setFixedHeight(50);
        grid->addWidget(w);
        items.push_back(w);
    }
    host.resize(330, 200);
    host.show();
    grid->activate();
    EXPECT_EQ(items[2]->geometry(), QRect(220, 0, 100, 50));
    EXPECT_EQ(items[3]->geometry(), QRect(0, 60, 100, 50));
    EXPECT_EQ(grid->heightForWidth(330), 110);
    EXPECT_EQ(grid->heightForWidth(100), 5 * 50 + 4 * 10);
}

TEST(Widgets, SymbolsDrawFromTheIconFont) {
    ASSERT_TRUE(ui::symbols::available()) << "fonts-material-design-icons-iconfont is not installed";
    const QImage drawn = ui::symbols::pixmap("play.fill", 24, Qt::white).toImage();
    int lit = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) lit += qAlpha(drawn.pixel(x, y)) > 128;
    EXPECT_GT(lit, 50);
    const QImage none = ui::symbols::pixmap("no.such.symbol", 24, Qt::white).toImage();
    for (int y = 0; y < none.height(); ++y)
        for (int x = 0; x < none.width(); ++x) ASSERT_EQ(qAlpha(none.pixel(x, y)), 0);
}

}  // namespace
}  // namespace ombry::ui_test
