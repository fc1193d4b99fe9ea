#pragma once
// The lossy quality preview: the JPEG or WebP encoder's settings, each change encoded into a test
// file in the session folder and shown in the main window's view with its size; "Save" copies the
// test file to the destination the save dialog chose.
#include "fileio/lossy_preview.h"
#include "gui/pointer_form.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace jx {

// The quality bars: a position change updates the captions, a release renders.
class TMyTrackBar;

class TLossyForm : public TPointerform {
    Q_OBJECT
public:
    explicit TLossyForm(TJXMainForm* owner);

    // Shows the dialog for the page (0 JPEG, 1 WebP) and the destination file. A file there now
    // counts as one the user chose to replace; one that appears later is asked about at Save.
    void ShowFor(int tag, const QString& destination);

    void SetDefaults();
    void RenderPreview();
    void SaveClick();
    void DefaultQualityClick();
    // Any encoder choice: the groups it governs follow, then the preview renders.
    void SettingChange();
    void MatteClick();

    TLossySettings Settings() const;
    QString SizeText() const;
    QString TestFile() const { return QString::fromStdString(testFile_); }

    QSlider* JpegQuality() const { return jpegQuality_; }
    QSlider* ChromaBar() const { return chromaBar_; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* e) override;
    void FormClose() override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    QSlider* Bar(int max, int value);
    void UpdateCaptions(QSlider* changed);
    void SetControlsEnabled(bool enabled);
    void RecolourMatte();
    static int Checked(const std::vector<QRadioButton*>& group);

    int tag_ = 0;
    QString destination_;
    bool replaceChosen_ = false;
    std::string testFile_;
    bool rendering_ = false;
    bool closeAfterRender_ = false;
    bool shown_ = false;
    TBackgroundMode savedBackground_ = TBackgroundMode::Grid;

    QTabWidget* pages_;
    QGroupBox *jpegQualityGroup_, *chromaQ_, *webpQualityGroup_, *alphaQualityGroup_, *cs_, *chroma_, *ss_;
    QSlider *jpegQuality_, *chromaBar_, *webpQuality_, *alphaQuality_;
    std::vector<QRadioButton*> csItems_, chromaItems_, ssItems_;
    QCheckBox* progressive_;
    QComboBox* quantTable_;
    QComboBox* webpPreset_;
    QPushButton* matteButton_;
    QLabel *jpegSize_, *webpSize_;
    QPushButton *saveButton_, *cancelButton_, *defaultQualityButton_;
};

}  // namespace jx
