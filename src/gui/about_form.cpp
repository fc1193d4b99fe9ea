#include "gui/about_form.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <functional>

#include "platform/version.h"

namespace jx {
namespace {

struct TCredit {
    const char* text;
    const char* link;  // empty: plain text
};

// The outside tools the program runs, and where they come from.
const TCredit kCredits[] = {
    {"PNG optimisation: quillox (part of this program)", ""},
    {"advdef from AdvanceCOMP", "https://www.advancemame.it/comp-readme"},
    {"cjpeg from libjpeg-turbo", "https://libjpeg-turbo.org/"},
    {"cwebp and dwebp from libwebp", "https://developers.google.com/speed/webp"},
    {"Qt", "https://www.qt.io/"},
};

}  // namespace

TAboutForm::TAboutForm(TJXMainForm* mainForm)
    : TPointerform(mainForm, "About", kPlain), fadeInTimer_(new QTimer(this)) {
    setObjectName("AboutForm");
    auto* top = new QVBoxLayout(this);
    ContentGroup = new QGroupBox;
    ContentGroup->installEventFilter(this);
    auto* g = new QVBoxLayout(ContentGroup);
    VersionLabel = new QLabel;
    VersionLabel->setObjectName("VersionLabel");
    QFont f = VersionLabel->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    VersionLabel->setFont(f);
    g->addWidget(VersionLabel);
    for (const TCredit& c : kCredits) {
        auto* label = new QLabel(c.text);
        if (*c.link) {
            label->setText(QString("<a href=\"%1\">%2</a>").arg(c.link, QString(c.text).toHtmlEscaped()));
            label->setCursor(Qt::PointingHandCursor);
            label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
            connect(label, &QLabel::linkActivated, this, [this](const QString& url) {
                if (OpenLink) OpenLink(url);
            });
        }
        g->addWidget(label);
    }
    IconCredits = new QLabel;
    IconCredits->setObjectName("IconCredits");
    IconCredits->setWordWrap(true);
    IconCredits->setText("Icons: drawn for this program (the brushes from its own brush weights); no outside "
                         "artwork is used.");
    g->addWidget(IconCredits);
    top->addWidget(ContentGroup);

    OpenLink = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    fadeInTimer_->setInterval(10);
    connect(fadeInTimer_, &QTimer::timeout, this, &TAboutForm::FadeInStep);
    setWindowOpacity(0.0);
}

QString TAboutForm::GetFileVersion() { return QString::fromUtf8(VersionText()); }

void TAboutForm::showEvent(QShowEvent* e) {
    FormShow();
    TPointerform::showEvent(e);
}

void TAboutForm::FormShow() {
    VersionLabel->setText("Mirelda version " + GetFileVersion());
    fadeAlpha_ = 0;
    setWindowOpacity(0.0);
    fadeInTimer_->start();
}

void TAboutForm::FadeInStep() {
    fadeAlpha_ += 16;
    if (fadeAlpha_ >= 240) {
        fadeAlpha_ = 255;
        fadeInTimer_->stop();
    }
    setWindowOpacity(fadeAlpha_ / 255.0);
}

void TAboutForm::FormClose() {
    // The next show fades in again.
    fadeInTimer_->stop();
    fadeAlpha_ = 0;
    setWindowOpacity(0.0);
}

void TAboutForm::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) close();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    // A click anywhere on the body closes; a click on a link opens it instead.
    if (watched == ContentGroup && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        close();
        return true;
    }
    return TPointerform::eventFilter(watched, event);
}

}  // namespace jx
