#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSlider>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <unistd.h>

#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"
#include "gui/preview.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

class MaskCropWindowTest : public MainWindowTest {
protected:
    QAction* Button(const char* name) { return form_->MainToolBar()->findChild<QAction*>(name); }
    jx::TMaskCropView& Modes() { return form_->MaskCrop(); }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QWidget* view = form_->ImageView();
        QMouseEvent e(type, at, view->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(view, &e);
    }
    void Drag(QPoint from, QPoint to) {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        Mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        Mouse(QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }
    void KeyUp(Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyRelease(form_->ImageScroll(), k, m); }
};

TEST_F(MaskCropWindowTest, MaskModeStrokeIsOneUndoStateWithItsOverlay) {
    Button("EditMaskButton")->trigger();  // no image: refused
    EXPECT_FALSE(Button("EditMaskButton")->isChecked());
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Button("CropButton")->trigger();
    Button("EditMaskButton")->trigger();  // crop is down: refused
    EXPECT_FALSE(Modes().MaskMode());
    Button("CropButton")->trigger();
    Button("EditMaskButton")->trigger();
    ASSERT_TRUE(Modes().MaskMode());
    const QImage copy = form_->ImageView()->Bitmap().copy();  // halved where unpainted

    QTest::keyClicks(Modes().BrushStrengthEdit(), "3a00");
    EXPECT_EQ(Modes().BrushStrengthEdit()->text(), "255");
    EXPECT_EQ(Modes().BrushStrengthBar()->value(), 255);
    Modes().BrushStrengthBar()->setValue(32);
    EXPECT_EQ(Modes().BrushStrengthEdit()->text(), "32");
    Modes().BrushMenu()->actions()[0]->trigger();  // "3x3"
    EXPECT_EQ(Modes().BrushImage(), 9);

    const int before = form_->UndoStore().Count();
    Drag(QPoint(10, 10), QPoint(20, 10));
    EXPECT_EQ(form_->UndoStore().Count(), before + 1);
    const jx::EngineState& s = form_->State();
    EXPECT_EQ(s.QualityMask[9][9], 28);
    EXPECT_EQ(s.QualityMask[9][19], 28);
    EXPECT_EQ(s.QualityMask[20][20], 0);
    EXPECT_EQ(form_->ImageView()->Bitmap().pixel(20, 20), copy.pixel(20, 20));
    EXPECT_NE(form_->ImageView()->Bitmap().pixel(9, 9), copy.pixel(9, 9));

    KeyUp(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(s.QualityMask[9][9], 0);
    EXPECT_TRUE(Modes().MaskMode());
    EXPECT_EQ(form_->ImageView()->Bitmap().pixel(9, 9), copy.pixel(9, 9));

    Drag(QPoint(5, 5), QPoint(5, 5));
    Button("ClearMaskButton")->trigger();  // "Clear mask" is a state of its own
    EXPECT_EQ(s.QualityMask[4][4], 0);
    KeyUp(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(s.QualityMask[4][4], 28);

    KeyUp(Qt::Key_Escape);
    EXPECT_FALSE(Modes().MaskMode());
    EXPECT_FALSE(Button("EditMaskButton")->isChecked());
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(MaskCropWindowTest, LargeBrushIsPaintedInTheView) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Button("EditMaskButton")->trigger();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), form_->ImageView()->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(form_->ImageView(), &enter);
    EXPECT_FALSE(Modes().BrushFootprint());
    EXPECT_EQ(form_->ImageView()->cursor().shape(), Qt::BitmapCursor);
    for (int i = 0; i < 3; ++i) form_->ImageView()->ZoomStep('+');  // 128 pixels a side
    EXPECT_TRUE(Modes().BrushFootprint());
    EXPECT_EQ(form_->ImageView()->cursor().shape(), Qt::CrossCursor);
    form_->ImageView()->ZoomStep('-');
    EXPECT_FALSE(Modes().BrushFootprint());
}

TEST_F(MaskCropWindowTest, RubberBandCropsOnEnterAndDoubleClickAndUndoes) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    KeyUp(Qt::Key_Return);  // Crop is up: nothing
    Button("CropButton")->trigger();
    KeyUp(Qt::Key_Return);  // nothing drawn yet: refused, crop mode stays
    EXPECT_EQ(messages_.size(), 1);
    EXPECT_TRUE(Button("CropButton")->isChecked());

    Drag(QPoint(20, 24), QPoint(4, 2));  // bottom-right to top-left
    EXPECT_EQ(Modes().Selection(), (jx::TCropRect{4, 2, 20, 24}));
    const QImage& v = form_->ImageView()->Bitmap();
    EXPECT_EQ(qRed(v.pixel(0, 0)), qRed(jx::RenderImage(form_->State()).pixel(0, 0)) / 2);
    EXPECT_EQ(v.pixel(10, 10), jx::RenderImage(form_->State()).pixel(10, 10));

    const int before = form_->UndoStore().Count();
    const auto top = form_->State().SourceImage[2][4];
    KeyUp(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_FALSE(Button("CropButton")->isChecked());
    ASSERT_EQ(form_->State().ImageWidth(), 16);
    ASSERT_EQ(form_->State().ImageHeight(), 22);
    EXPECT_EQ(form_->State().SourceImage[0][0].R, top.R);
    EXPECT_EQ(form_->UndoStore().Count(), before + 1);
    EXPECT_EQ(form_->StatusPanels().Text(1), "Dimension: 16x22");

    KeyUp(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form_->State().ImageWidth(), 32);

    Button("CropButton")->trigger();
    Drag(QPoint(1, 1), QPoint(9, 9));
    QTest::mouseDClick(form_->ImageView(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form_->State().ImageWidth(), 8);

    Button("CropButton")->trigger();
    KeyUp(Qt::Key_Escape);
    EXPECT_FALSE(Button("CropButton")->isChecked());
    EXPECT_EQ(messages_.size(), 1) << messages_.join("\n").toStdString();
}

TEST_F(MaskCropWindowTest, AutoCropRemovesAFrame) {
    QImage framed(30, 20, QImage::Format_RGB32);
    framed.fill(qRgb(10, 200, 30));
    for (int y = 4; y < 16; ++y)
        for (int x = 3; x < 27; ++x) framed.setPixel(x, y, qRgb(x * 8, y * 12, 90));
    const QString file = QString::fromStdString((base_ / "framed.bmp").string());
    ASSERT_TRUE(framed.save(file));
    form_->OpenImage(file);
    Button("AutoCropButton")->trigger();
    EXPECT_EQ(form_->State().ImageWidth(), 24);
    EXPECT_EQ(form_->State().ImageHeight(), 12);
    Button("AutoCropButton")->trigger();  // no border left
    EXPECT_EQ(form_->State().ImageWidth(), 24);
    EXPECT_EQ(form_->UndoStore().Count(), 2);
}

}  // namespace
