#include <gtest/gtest.h>

#include <QTimer>

#include "gui/main_form.h"
#include "gui/pointer_form.h"
#include "gui_app.h"

namespace {

using jx::TPointerform;

TEST(FadeRule, StrictlyInsideFadesOutElseIn) {
    const QRect main(100, 100, 800, 600);
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(300, 300, 200, 100)), -1);
    // Touching an edge counts as outside.
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(100, 300, 200, 100)), 1);
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(700, 300, 200, 100)), 1);
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(300, 600, 200, 100)), 1);
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(699, 599, 200, 100)), -1);
    // Larger than the main window: never translucent.
    EXPECT_EQ(TPointerform::FadeDirectionFor(main, QRect(150, 150, 900, 700)), 1);
}

TEST(FadeSteps, ThirtyOneStepsToTheFloorAndBack) {
    GuiApp();
    jx::TJXMainForm form(nullptr, "");
    form.setGeometry(100, 100, 900, 700);
    form.show();
    form.FirstShow("");
    TPointerform d(&form, "Tool", TPointerform::kFades);
    d.resize(200, 100);
    d.show();
    d.FadeTimer()->stop();
    // Drive the timer by hand from fully opaque towards translucent.
    for (int i = 0; i < 31; ++i) d.FadeStep();  // the direction is whatever the position gave
    d.move(form.frameGeometry().center());
    d.StartFade();
    d.FadeTimer()->stop();
    ASSERT_EQ(d.Direction(), -1);
    int steps = 0;
    while (d.Alpha() > TPointerform::kFadedAlpha && steps < 100) {
        d.FadeStep();
        ++steps;
    }
    EXPECT_EQ(d.Alpha(), 224);
    d.FadeStep();
    EXPECT_EQ(d.Alpha(), 224);

    d.move(form.frameGeometry().topLeft() - QPoint(50, 50));
    d.StartFade();
    d.FadeTimer()->stop();
    ASSERT_EQ(d.Direction(), 1);
    steps = 0;
    while (d.Alpha() < 255 && steps < 100) {
        d.FadeStep();
        ++steps;
    }
    EXPECT_EQ(steps, 31);
    EXPECT_EQ(d.Alpha(), 255);
}

TEST(ToolDialogs, FollowTheMainWindowWhenItMoves) {
    GuiApp();
    jx::TJXMainForm form(nullptr, "");
    form.setGeometry(100, 100, 900, 700);
    form.show();
    form.FirstShow("");
    TPointerform d(&form, "Tool", TPointerform::kFades);
    form.RegisterToolDialog(&d);
    d.move(300, 300);
    d.show();
    const QPoint before = d.pos();
    form.move(form.pos() + QPoint(40, 25));
    EXPECT_EQ(d.pos(), before + QPoint(40, 25));
}

TEST(ToolDialogs, OwnedByTheMainWindow) {
    GuiApp();
    jx::TJXMainForm form(nullptr, "");
    TPointerform d(&form, "Tool", TPointerform::kPlain);
    EXPECT_EQ(d.parentWidget(), &form);
    EXPECT_TRUE(d.isWindow());
    EXPECT_EQ(d.Alpha(), 255);
}

}  // namespace
