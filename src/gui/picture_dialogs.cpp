#include "gui/picture_dialogs.h"

#include "fileio/picture_formats.h"

#include <QApplication>
#include <algorithm>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>
#include <QDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/main_form.h"

namespace jx {
namespace {

const char* const kLevels[] = {"Fast", "Normal", "Slow", "Very slow", "External script"};

QImage ToImage(const TPreviewImage& p) {
    QImage img(p.Width, p.Height, QImage::Format_RGB32);
    for (int32_t y = 0; y < p.Height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const uint8_t* s = p.Bgra.data() + size_t(y) * size_t(p.Width) * 4;
        for (int32_t x = 0; x < p.Width; ++x, s += 4) row[x] = qRgb(s[2], s[1], s[0]);
    }
    return img;
}

}  // namespace

QStringList PictureNameFilters(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const int paren = desc.indexOf('(');
        if (paren > 0) desc = desc.left(paren).trimmed();
        QStringList pats;
        for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            pats << p.trimmed();
            if (p.trimmed().toUpper() != p.trimmed()) pats << p.trimmed().toUpper();
        }
        out << desc + " (" + pats.join(' ') + ")";
    }
    return out;
}

TMyOpenPictureDialog::TMyOpenPictureDialog(TJXMainForm* owner, const QString& pipeFilter)
    : QFileDialog(owner), owner_(owner) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Without a filter of its own it lists what the picture registry can load.
    setNameFilters(PictureNameFilters(
        pipeFilter.isEmpty() ? QString::fromStdString(GraphicFilter(PictureFormats())) : pipeFilter));
    picturePanel_ = new QWidget(this);
    picturePanel_->setObjectName("PicturePanel");
    picturePanel_->setFixedWidth(200);
    auto* v = new QVBoxLayout(picturePanel_);
    v->setContentsMargins(6, 6, 6, 6);
    auto* top = new QHBoxLayout;
    pictureLabel_ = new QLabel("Picture:");
    pictureLabel_->setObjectName("PictureLabel");
    previewButton_ = new QToolButton;
    previewButton_->setObjectName("PreviewButton");
    previewButton_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    previewButton_->setToolTip("Preview");
    previewButton_->setEnabled(false);
    top->addWidget(pictureLabel_, 1);
    top->addWidget(previewButton_);
    v->addLayout(top);
    paintPanel_ = new QLabel("(None)");
    paintPanel_->setObjectName("PaintPanel");
    paintPanel_->setAlignment(Qt::AlignCenter);
    paintPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    paintPanel_->setMinimumHeight(160);
    v->addWidget(paintPanel_, 1);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(picturePanel_, 0, grid->columnCount(), grid->rowCount(), 1);
    connect(previewButton_, &QToolButton::clicked, this, &TMyOpenPictureDialog::PreviewButtonClick);
    paintPanel_->installEventFilter(this);  // a double click on the preview shows it large
    // The size column as wide as its numbers ("773...K" tells nothing), beside a name column
    // that leaves it in view; redone as each folder's listing arrives.
    if (auto* model = findChild<QFileSystemModel*>())
        connect(model, &QFileSystemModel::directoryLoaded, this, [this] { QTimer::singleShot(0, this, &TMyOpenPictureDialog::FitSizeColumn); });
    // A path typed whole and taken with Enter leaves no completion list behind over the window,
    // whether it closed the dialog or opened a folder in it (eventFilter).
    connect(this, &QDialog::finished, this, &TMyOpenPictureDialog::HideCompletions);
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        if (edit->completer() && edit->completer()->popup()) edit->completer()->popup()->installEventFilter(this);
    settle_.setSingleShot(true);
    settle_.setInterval(150);
    connect(&settle_, &QTimer::timeout, this, [this] { DoSelectionChange(pending_); });
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& f) {
        pending_ = f;
        settle_.start();
    });
}

int TMyOpenPictureDialog::FilterIndex() const { return static_cast<int>(nameFilters().indexOf(selectedNameFilter())) + 1; }

void TMyOpenPictureDialog::SetFilterIndex(int index) {
    const QStringList f = nameFilters();
    if (index >= 1 && index <= f.size()) selectNameFilter(f[index - 1]);
}

QString TMyOpenPictureDialog::FileName() const {
    const QStringList s = selectedFiles();
    return s.isEmpty() ? QString() : s.front();
}

void TMyOpenPictureDialog::showEvent(QShowEvent* e) {
    ClearPreview();
    lastPreviewed_.clear();
    // Room for the list's name and size beside the picture panel.
    if (width() < 760) resize(760, std::max(height(), 440));
    QFileDialog::showEvent(e);
    QTimer::singleShot(0, this, &TMyOpenPictureDialog::FitSizeColumn);
}

void TMyOpenPictureDialog::FitSizeColumn() {
    auto* details = findChild<QTreeView*>("treeView");
    if (!details) return;
    details->resizeColumnToContents(1);
    const int widest = details->fontMetrics().horizontalAdvance("999.99 MiB") + 16;
    details->setColumnWidth(1, std::max(details->columnWidth(1), widest));
    const int room = details->viewport()->width() - details->columnWidth(1);
    details->setColumnWidth(0, std::max(details->header()->minimumSectionSize(), room));
}

void TMyOpenPictureDialog::HideCompletions() {
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        if (edit->completer() && edit->completer()->popup()) edit->completer()->popup()->hide();
}

bool TMyOpenPictureDialog::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && qobject_cast<QAbstractItemView*>(watched)) {
        // Enter on a folder's path opens the folder and leaves the list up, over "Files of type",
        // until Esc: it goes once the key has done its work.
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) QTimer::singleShot(0, this, &TMyOpenPictureDialog::HideCompletions);
    }
    if (watched == paintPanel_ && e->type() == QEvent::MouseButtonDblClick) {
        PreviewButtonClick();
        return true;
    }
    return QFileDialog::eventFilter(watched, e);
}

void TMyOpenPictureDialog::ClearPreview() {
    preview_ = {};
    pictureLabel_->setText("Picture:");
    previewButton_->setEnabled(false);
    paintPanel_->setPixmap(QPixmap());
    paintPanel_->setText("(None)");
}

void TMyOpenPictureDialog::DoSelectionChange(const QString& fileName) {
    if (fileName == lastPreviewed_) return;
    lastPreviewed_ = fileName;
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.isFile()) {
        ClearPreview();
        return;
    }
    try {
        TPreviewLimits limits;
        limits.SessionFolder = owner_ ? owner_->SessionPath() : std::string();
        preview_ = LoadPreview(fileName.toStdString(), limits);
        if (preview_.Empty()) {
            ClearPreview();
            return;
        }
        const EngineState& st = owner_->State();
        const TPixelRec grid[2] = {st.GridColors[0], st.GridColors[1]};
        const int box = std::max(1, paintPanel_->width() - 4);
        const QImage img = ToImage(RenderPreview(preview_, box, st.GridCellSize, grid));
        pictureLabel_->setText(QString::asprintf(" (%dx%d)", preview_.FileWidth, preview_.FileHeight));
        previewButton_->setEnabled(true);
        paintPanel_->setText(QString());
        paintPanel_->setPixmap(QPixmap::fromImage(
            img.height() > paintPanel_->height() ? img.scaledToHeight(paintPanel_->height() - 4, Qt::SmoothTransformation) : img));
    } catch (const std::exception&) {
        ClearPreview();
    }
}

void TMyOpenPictureDialog::PreviewButtonClick() {
    if (preview_.Empty()) return;
    QDialog form(this, Qt::Tool);
    form.setObjectName("PreviewForm");
    form.setWindowTitle("Preview");
    auto* v = new QVBoxLayout(&form);
    v->setContentsMargins(5, 5, 5, 5);
    auto* image = new QLabel;
    image->setAlignment(Qt::AlignCenter);
    const EngineState& st = owner_->State();
    const TPixelRec grid[2] = {st.GridColors[0], st.GridColors[1]};
    QImage img = ToImage(RenderPreview(preview_, preview_.Width, st.GridCellSize, grid));
    const QRect screen = form.screen() ? form.screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    const int w = std::min(img.width() + 20, screen.width() * 3 / 4);
    const int h = std::min(img.height() + 20, screen.height() * 3 / 4);
    if (img.width() + 20 > w || img.height() + 20 > h)
        img = img.scaled(w - 20, h - 20, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image->setPixmap(QPixmap::fromImage(img));
    v->addWidget(image);
    form.resize(w, h);
    form.exec();
}

TMySavePictureDialog::TMySavePictureDialog(TJXMainForm* owner, const QString& pipeFilter)
    : TMyOpenPictureDialog(owner, pipeFilter) {
    setAcceptMode(QFileDialog::AcceptSave);
    auto* v = static_cast<QVBoxLayout*>(SidePanel()->layout());
    webpLossy_ = new QCheckBox("Lossy");
    webpLossy_->setObjectName("WEBPLossy");
    radioGroup_ = new QGroupBox("PNG optimization");
    radioGroup_->setObjectName("RadioGroup");
    auto* g = new QVBoxLayout(radioGroup_);
    for (const char* level : kLevels) {
        levels_.push_back(new QRadioButton(level));
        g->addWidget(levels_.back());
    }
    forcedRgb_ = new QCheckBox("Forced RGB");
    forcedRgb_->setObjectName("ForcedRGB");
    v->addWidget(webpLossy_);
    v->addWidget(radioGroup_);
    v->addWidget(forcedRgb_);
    webpLossy_->setVisible(false);
    radioGroup_->setVisible(false);
    forcedRgb_->setVisible(false);
    connect(this, &QFileDialog::filterSelected, this, [this] { DoTypeChange(); });
    // The type list follows a name typed with one of its extensions: that is the format written.
    if (auto* edit = findChild<QLineEdit*>("fileNameEdit"))
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& name) {
            const int typed = TypedFormatIndex(name);
            if (typed > 0 && typed != FilterIndex()) {
                SetFilterIndex(typed);
                DoTypeChange();
            }
        });
}

int TMySavePictureDialog::TypedFormatIndex(const QString& name) const {
    const QString suffix = QFileInfo(name).suffix();
    if (suffix.isEmpty()) return 0;
    const QStringList filters = nameFilters();
    for (int i = 0; i < filters.size(); ++i) {
        const QString& f = filters[i];
        const int open = f.lastIndexOf('('), close = f.lastIndexOf(')');
        if (open < 0 || close < open) continue;
        for (const QString& pattern : f.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts))
            if (pattern.startsWith("*.") && pattern.mid(2).compare(suffix, Qt::CaseInsensitive) == 0) return i + 1;
    }
    return 0;
}

int TMySavePictureDialog::OptimizationIndex() const {
    for (size_t i = 0; i < levels_.size(); ++i)
        if (levels_[i]->isChecked()) return static_cast<int>(i);
    return -1;
}

void TMySavePictureDialog::showEvent(QShowEvent* e) {
    TMyOpenPictureDialog::showEvent(e);
    const int level = owner_->Options().optimization;
    if (level >= 0 && level < static_cast<int>(levels_.size())) levels_[size_t(level)]->setChecked(true);
    forcedRgb_->setChecked(owner_->Options().forcedRgb);
    DoTypeChange();
}

void TMySavePictureDialog::DoTypeChange() {
    const TSaveOptionPanels p = SaveOptionPanels(FilterIndex());
    forcedRgb_->setVisible(p.ForcedRgb);
    radioGroup_->setVisible(p.Optimization);
    webpLossy_->setVisible(p.Lossy);
}

void TMySavePictureDialog::done(int result) {
    JxOptions& o = owner_->Options();
    if (OptimizationIndex() >= 0) o.optimization = OptimizationIndex();
    o.forcedRgb = forcedRgb_->isChecked();
    lossyChosen_ = webpLossy_->isChecked();
    forcedRgb_->setVisible(false);
    radioGroup_->setVisible(false);
    webpLossy_->setVisible(false);
    TMyOpenPictureDialog::done(result);
}

}  // namespace jx
