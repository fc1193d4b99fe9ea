#pragma once
#include <functional>

#include "gui/pointer_form.h"

class QGroupBox;
class QLabel;
class QTimer;

namespace jx {

// "About": the program's name and version, credits and links. Fades in from transparent.
class TAboutForm : public TPointerform {
    Q_OBJECT
public:
    explicit TAboutForm(TJXMainForm* mainForm);

    static QString GetFileVersion();

    // Opens a link's target through the desktop; tests replace it.
    std::function<void(const QString&)> OpenLink;

    void FormShow();
    void FadeInStep();

    QLabel* VersionLabel = nullptr;
    QGroupBox* ContentGroup = nullptr;
    // The credits of the tool-bar icons.
    QLabel* IconCredits = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void FormClose() override;

private:
    QTimer* fadeInTimer_;
    int fadeAlpha_ = 0;
};

}  // namespace jx
