#pragma once
#include <QApplication>
#include <QImage>
#include <QString>
#include <set>

// One QApplication for the whole test program (the platform comes from QT_QPA_PLATFORM).
inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "jx_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

inline QString SuiteFile(const char* name) { return QString(JX_TEST_DATA_DIR "/pngsuite/png/") + name; }

inline int DistinctColors(const QImage& image) {
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    std::set<QRgb> colors;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) colors.insert(img.pixel(x, y));
    return static_cast<int>(colors.size());
}
