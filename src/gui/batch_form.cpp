#include "gui/batch_form.h"
#include "gui/glyphs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCollator>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <unistd.h>

#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/status_panels.h"
#include "gui/quantizer_settings.h"

namespace jx {
namespace {

const std::array<const char*, 6> kAnimation = {"|----", "-|---", "--|--", "---|-", "----|", "-----"};

// Sorting by a column: names by the user's locale without case, "Loss" as hundredths, the rest as
// whole numbers (a cell that is not one counts 0); compared unsigned, so negatives go last.
class BatchRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (c == TBatchForm::colName) {
            QCollator coll;
            coll.setCaseSensitivity(Qt::CaseInsensitive);
            return coll.compare(text(c), other.text(c)) < 0;
        }
        return Key(text(c), c) < Key(other.text(c), c);
    }

private:
    static uint32_t Key(const QString& s, int c) {
        bool ok = false;
        if (c == TBatchForm::colLoss) {
            // A note after the figure ("1.25; the source is kept") leaves the figure its place.
            double v = s.section(';', 0, 0).toDouble(&ok);
            if (!ok) v = -1.0;
            return static_cast<uint32_t>(static_cast<int32_t>(std::nearbyint(v * 100.0)));
        }
        const qlonglong v = s.toLongLong(&ok);
        return ok ? static_cast<uint32_t>(v) : 0u;
    }
};

// A message in "Loss" names its file first and gives the reason last ("... already exists"): a
// narrow cell cuts the path, not the reason.
class ReasonKeepingCell : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

}  // namespace

TBatchForm::TBatchForm(TJXMainForm* mainForm) : QDialog(nullptr), main_(mainForm) {
    setObjectName("BatchForm");
    setWindowTitle("Batch optimization");
    setMinimumSize(540, 300);
    setAcceptDrops(true);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(BuildDestination());
    outer->addLayout(BuildFileList(), 1);
    BuildTotals();

    StatusBar = new QLabel;
    outer->addWidget(StatusBar);
    animationTimer_ = new QTimer(this);
    animationTimer_->setInterval(100);

    ConnectControls();
    if (main_) main_->State().BatchQuantize = false;
    resize(640, 420);
}

// The "Destination folder" group and, beside it, Start.
QHBoxLayout* TBatchForm::BuildDestination() {
    auto* top = new QHBoxLayout;
    destination_ = new QGroupBox("Destination folder");
    auto* d = new QVBoxLayout(destination_);
    auto* pathRow = new QHBoxLayout;
    DestinationEdit = new QLineEdit;
    DestinationEdit->setObjectName("DestinationEdit");
    DestinationEdit->setPlaceholderText("Image files will be written to the source folder");
    destinationButton_ = new QToolButton;
    destinationButton_->setObjectName("DestinationButton");
    destinationButton_->setText("...");
    destinationButton_->setToolTip("Destination path");
    destinationButton_->setAutoRaise(true);
    SetGlyph(destinationButton_, gFolder);
    pathRow->addWidget(DestinationEdit, 1);
    pathRow->addWidget(destinationButton_);
    d->addLayout(pathRow);
    auto* rulesRow = new QHBoxLayout;
    DelSrc = new QCheckBox("Delete source");
    DelSrc->setObjectName("DelSrc");
    PreserveDT = new QCheckBox("Preserve Date and Time");
    PreserveDT->setObjectName("PreserveDT");
    OptLevel = new QComboBox;
    OptLevel->setObjectName("OptLevel");
    OptLevel->addItems({"Fast", "Normal", "Slow", "Very slow", "External script"});
    OptLevel->setCurrentIndex(main_ ? std::clamp(main_->Options().optimization, 0, 4) : 1);
    rulesRow->addWidget(DelSrc);
    rulesRow->addWidget(PreserveDT);
    rulesRow->addStretch(1);
    rulesRow->addWidget(new QLabel("Optimization level:"));
    rulesRow->addWidget(OptLevel);
    d->addLayout(rulesRow);
    top->addWidget(destination_, 1);
    StartButton = new QPushButton("Start");
    StartButton->setObjectName("StartButton");
    StartButton->setFixedSize(58, 60);
    top->addWidget(StartButton, 0, Qt::AlignTop);
    return top;
}

// The vertical tool bar and the list of files.
QHBoxLayout* TBatchForm::BuildFileList() {
    auto* middle = new QHBoxLayout;
    toolBar_ = new QToolBar;
    toolBar_->setOrientation(Qt::Vertical);
    toolBar_->setIconSize(QSize(16, 16));
    auto add = [this](const char* name, const char* hint, void (TBatchForm::*slot)(), int glyph) {
        QAction* a = toolBar_->addAction(Glyph(glyph), hint);
        a->setObjectName(name);
        a->setToolTip(hint);
        connect(a, &QAction::triggered, this, slot);
    };
    add("AddFolderButton", "Add folder", &TBatchForm::AddFolderClick, gAddFolder);
    add("AddImagesButton", "Add image(s)", &TBatchForm::AddImagesClick, gAddImages);
    add("RemoveSelectedButton", "Remove selected image", &TBatchForm::RemoveSelectedClick, gRemoveSelected);
    add("RemoveAllButton", "Remove all images", &TBatchForm::RemoveAllClick, gRemoveAll);
    add("SettingsButton", "Settings", &TBatchForm::SettingsClick, gSettings);
    middle->addWidget(toolBar_);

    FileList = new QTreeWidget;
    FileList->setObjectName("FileList");
    FileList->setColumnCount(colCount);
    FileList->setHeaderLabels({"File name", "In", "Out", "Ratio", "Loss", "FPath", "FTime"});
    FileList->setRootIsDecorated(false);
    FileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FileList->setItemDelegateForColumn(colLoss, new ReasonKeepingCell(FileList));
    FileList->setColumnHidden(colPath, true);
    FileList->setColumnHidden(colTime, true);
    for (int c : {colIn, colOut}) FileList->setColumnWidth(c, 80);
    FileList->header()->setSectionResizeMode(colName, QHeaderView::Stretch);
    FileList->header()->setSectionsClickable(true);
    FileList->header()->setSortIndicatorShown(false);
    FileList->setContextMenuPolicy(Qt::CustomContextMenu);
    middle->addWidget(FileList, 1);
    return middle;
}

// The totals lie over the list once a run has measured something.
void TBatchForm::BuildTotals() {
    BatchResult = new QTableWidget(7, 2, FileList);
    BatchResult->setObjectName("BatchResult");
    BatchResult->horizontalHeader()->hide();
    BatchResult->verticalHeader()->hide();
    BatchResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    BatchResult->setSelectionBehavior(QAbstractItemView::SelectRows);
    QFont f("Tahoma");
    f.setPixelSize(16);
    BatchResult->setFont(f);
    for (int r = 0; r < 7; ++r) {
        BatchResult->setItem(r, 0, new QTableWidgetItem(BatchTotalsCaptions()[static_cast<size_t>(r)]));
        auto* v = new QTableWidgetItem;
        v->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        BatchResult->setItem(r, 1, v);
    }
    BatchResult->hide();
    TotalsOkButton = new QPushButton("Ok", FileList);
    TotalsOkButton->setObjectName("TotalsOkButton");
    TotalsOkButton->hide();
}

void TBatchForm::ConnectControls() {
    connect(StartButton, &QPushButton::clicked, this, &TBatchForm::StartStopClick);
    connect(TotalsOkButton, &QPushButton::clicked, this, &TBatchForm::TotalsOkClick);
    connect(destinationButton_, &QToolButton::clicked, this, &TBatchForm::BrowseDestinationClick);
    connect(OptLevel, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (main_ && i >= 0) main_->Options().optimization = i;
    });
    connect(animationTimer_, &QTimer::timeout, this, [this] {
        if (!current_) return;
        current_->setText(colOut, kAnimation[static_cast<size_t>(animation_)]);
        animation_ = (animation_ + 1) % static_cast<int>(kAnimation.size());
    });
    connect(FileList, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto sel = FileList->selectedItems();
        StatusBar->setText(sel.isEmpty() ? QString() : sel.front()->text(colPath));
    });
    connect(FileList->header(), &QHeaderView::sectionClicked, this, [this](int c) {
        if (running_) return;
        FileList->sortItems(c, Qt::AscendingOrder);
        FileList->header()->setSortIndicatorShown(true);
        FileList->header()->setSortIndicator(c, Qt::AscendingOrder);
    });
    connect(FileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QMenu menu;
        menu.addAction(Glyph(gCheck), "Check", [this] { CheckAll(0); });
        menu.addAction(Glyph(gUncheck), "Uncheck", [this] { CheckAll(1); });
        menu.addAction(Glyph(gInverse), "Inverse", [this] { CheckAll(2); });
        menu.exec(FileList->viewport()->mapToGlobal(p));
    });
}

TBatchForm::~TBatchForm() = default;

QString TBatchForm::DestinationFolder() const { return DestinationEdit->text().trimmed(); }

void TBatchForm::FormShow(const QStringList& parameters) {
    if (main_) {
        mainWasVisible_ = main_->isVisible();
        mainGeometry_ = main_->frameGeometry();
        main_->hide();
        if (main_->QuantizerSettingsForm() && main_->PalettePanel()->QuantizerSettingsButton() && main_->PalettePanel()->QuantizerSettingsButton()->isChecked()) main_->QuantizerSettingsForm()->hide();
        main_->State().BatchQuantize = false;
    }
    FileList->clear();
    if (!parameters.isEmpty()) AddPaths(parameters);
}

bool TBatchForm::AddPaths(const QStringList& paths) {
    if (running_) return false;
    std::vector<std::string> names;
    for (const QString& p : paths) names.push_back(p.toStdString());
    std::vector<TBatchItem> rows = Items();
    const auto listed = static_cast<std::ptrdiff_t>(rows.size());
    AddBatchPaths(names, rows);
    AddRows(std::vector<TBatchItem>(rows.begin() + listed, rows.end()));
    return true;
}

void TBatchForm::AddRows(const std::vector<TBatchItem>& rows) {
    FileList->setSortingEnabled(false);
    for (const TBatchItem& it : rows) {
        auto* item = new BatchRow(FileList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(colName, it.Checked ? Qt::Checked : Qt::Unchecked);
        item->setText(colName, QString::fromStdString(it.Name));
        item->setText(colIn, QString::number(it.Size));
        item->setTextAlignment(colIn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(colOut, "-----");
        item->setTextAlignment(colOut, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(colRatio, "-----");
        item->setText(colLoss, "-");
        item->setText(colPath, QString::fromStdString(it.Path));
        item->setText(colTime, QString::number(it.Time));
    }
}

std::vector<TBatchItem> TBatchForm::Items() const {
    std::vector<TBatchItem> out;
    for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = FileList->topLevelItem(i);
        TBatchItem it;
        it.Name = item->text(colName).toStdString();
        it.Path = item->text(colPath).toStdString();
        it.Size = item->text(colIn).toLongLong();
        it.Time = item->text(colTime).toLongLong();
        it.Checked = item->checkState(colName) == Qt::Checked;
        out.push_back(std::move(it));
    }
    return out;
}

void TBatchForm::SetControlsEnabled(bool enabled) {
    destinationButton_->setEnabled(enabled);
    destination_->setEnabled(enabled);
    toolBar_->setEnabled(enabled);
}

void TBatchForm::ShowRow(size_t index, const TBatchRowResult& r) {
    QTreeWidgetItem* item = FileList->topLevelItem(static_cast<int>(index));
    if (!item) return;
    if (r.Outcome == TBatchOutcome::Running) {
        current_ = item;
        FileList->setCurrentItem(item);
        FileList->scrollToItem(item);
        animation_ = 0;
        animationTimer_->start();
        return;
    }
    animationTimer_->stop();
    item->setText(colOut, QString::fromStdString(BatchOutCell(r)));
    item->setText(colRatio, QString::fromStdString(BatchRatioCell(r)));
    item->setText(colLoss, QString::fromStdString(BatchLossCell(r)));
    // A source read past damage, or holding frames, is marked whatever came of it. A "Loss" that
    // is a message rather than a figure is cut by its narrow cell: the tooltip holds it whole.
    QStringList tip;
    bool figure = false;
    (void)QString::fromStdString(r.Loss).toDouble(&figure);
    if (!r.Loss.empty() && !figure) tip << QString::fromStdString(r.Loss);
    for (const std::string& w : r.Warnings) tip << QString::fromStdString(w);
    item->setIcon(colName, r.Warnings.empty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
    for (int c = 0; c < item->columnCount(); ++c) item->setToolTip(c, tip.join('\n'));
    if (r.Outcome == TBatchOutcome::Kept || r.Outcome == TBatchOutcome::Skipped) item->setCheckState(colName, Qt::Unchecked);
}

void TBatchForm::StartStopClick() {
    if (running_) {
        // A stop request; the loop marks the row it was on.
        stop_.Request();
        return;
    }
    const bool quantize = main_ && main_->State().BatchQuantize;
    const QString dest = DestinationFolder();
    std::vector<std::string> sources;
    for (const TBatchItem& it : Items())
        if (it.Checked) sources.push_back(it.Path);
    switch (CheckBatchStart(dest.toStdString(), quantize, sources)) {
        case TBatchStartCheck::AskNoDestination: {
            // Nothing can be undone after a Yes: Enter must not give it.
            const QString q = kBatchNoDestinationQuestion;
            const bool yes = Ask ? Ask(q)
                                 : QMessageBox::warning(this, windowTitle(), q, QMessageBox::Yes | QMessageBox::No,
                                                        QMessageBox::No) == QMessageBox::Yes;
            if (!yes) return;
            break;
        }
        case TBatchStartCheck::DestinationMissing:
            if (Tell)
                Tell(kBatchDestinationMissing);
            else
                QMessageBox::warning(this, windowTitle(), kBatchDestinationMissing);
            return;
        case TBatchStartCheck::Go:
            break;
    }
    if (FileList->topLevelItemCount() == 0) return;
    if (!main_ || main_->SessionPath().empty()) {
        const QString m = "There is no session folder to work in.";
        if (Tell) Tell(m); else QMessageBox::warning(this, windowTitle(), m);
        return;
    }

    TBatchOptions options;
    options.Destination = dest.toStdString();
    options.DeleteSource = DelSrc->isChecked();
    options.PreserveDateTime = PreserveDT->isChecked();
    options.SessionFolder = main_->SessionPath();
    const JxOptions& o = main_->Options();
    options.Png.level = OptLevel->currentIndex();
    options.Png.iter = o.iter;
    options.Png.ownScript = o.own;
    options.Png.showConsole = o.showConsole;
    if (quantize && main_->QuantizerSettingsForm()) options.Quantize = main_->QuantizerSettingsForm()->Settings();

    StartButton->setText("Stop");
    SetControlsEnabled(false);
    BatchResult->hide();
    TotalsOkButton->hide();
    stop_.Clear();
    running_ = true;
    // The run has its own engine state: the main window's image and history stay as they were.
    auto state = std::make_unique<EngineState>(main_->State());
    std::vector<TBatchItem> rows = Items();
    TBatchHooks hooks;
    const auto total = static_cast<int64_t>(rows.size());
    hooks.Row = [this, total](size_t i, const TBatchRowResult& r) {
        ShowRow(i, r);
        if (main_ && r.Outcome != TBatchOutcome::Running) main_->StatusPanels().ShowProgress(static_cast<int64_t>(i) + 1, total);
    };
    hooks.Pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    if (main_) main_->StatusPanels().ShowProgress(0, total);
    const TBatchTotals totals = RunBatch(*state, rows, options, stop_, hooks);
    if (main_) main_->StatusPanels().ProgressDone();
    animationTimer_->stop();
    current_ = nullptr;
    running_ = false;
    StartButton->setText("Start");
    if (totals.Before != 0) ShowTotals(totals);
    SetControlsEnabled(true);
    if (closePending_) QTimer::singleShot(0, this, [this] { close(); });
}

void TBatchForm::ShowTotals(const TBatchTotals& t) {
    const auto cells = BatchTotalsCells(t);
    for (int r = 0; r < 7; ++r) BatchResult->item(r, 1)->setText(QString::fromStdString(cells[static_cast<size_t>(r)]));
    resizeEvent(nullptr);
    BatchResult->show();
    BatchResult->raise();
    TotalsOkButton->show();
    TotalsOkButton->raise();
    QApplication::beep();
}

void TBatchForm::TotalsOkClick() {
    BatchResult->hide();
    TotalsOkButton->hide();
}

void TBatchForm::resizeEvent(QResizeEvent* e) {
    if (e) QDialog::resizeEvent(e);
    const QRect area = FileList->rect();
    const int w = std::max(200, area.width() * 2 / 3);
    const int h = 7 * 26 + 4;
    BatchResult->setGeometry((area.width() - w) / 2, std::max(0, (area.height() - h - 34) / 2), w, h);
    const int client = BatchResult->viewport()->width();
    BatchResult->setColumnWidth(0, static_cast<int>(std::nearbyint(client * 0.7)));
    BatchResult->setColumnWidth(1, client - BatchResult->columnWidth(0));
    for (int r = 0; r < 7; ++r) BatchResult->setRowHeight(r, 26);
    TotalsOkButton->setGeometry(BatchResult->geometry().center().x() - 40, BatchResult->geometry().bottom() + 6, 80,
                                26);
}

void TBatchForm::AddFolderClick() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Source directory:", QString());
    if (!folder.isEmpty()) AddPaths({folder});
}

void TBatchForm::AddImagesClick() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, "Open", QString(),
        "All (*.webp *.png *.gif *.jpg *.jpeg *.jpe *.bmp *.dib *.psd *.pdd *.tga *.vst *.icb *.vda *.win)");
    std::vector<TBatchItem> rows;
    for (const QString& f : files)
        if (auto item = MakeBatchItem(f.toStdString())) rows.push_back(std::move(*item));
    DropListedRows(Items(), rows);
    AddRows(rows);
}

void TBatchForm::RemoveSelectedClick() {
    QTreeWidgetItem* item = FileList->currentItem();
    if (!item) return;
    const int index = FileList->indexOfTopLevelItem(item);
    delete item;
    const int count = FileList->topLevelItemCount();
    if (count > 0) FileList->setCurrentItem(FileList->topLevelItem(std::min(index, count - 1)));
}

void TBatchForm::RemoveAllClick() { FileList->clear(); }

void TBatchForm::SettingsClick() {
    if (!main_ || !main_->QuantizerSettingsForm()) return;
    EngineState& s = main_->State();
    s.BatchQuantize = true;
    main_->QuantizerSettingsForm()->exec();
    bool quantize = false;
    try {
        quantize = ParseColorCount(main_->QuantizerSettingsForm()->Settings().ColorCount) > 0;
    } catch (const std::exception&) {
    }
    s.BatchQuantize = quantize;
}

void TBatchForm::BrowseDestinationClick() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Destination directory:", DestinationFolder());
    if (!folder.isEmpty()) DestinationEdit->setText(folder);
}

void TBatchForm::CheckAll(int how) {
    for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = FileList->topLevelItem(i);
        const bool on = how == 0 ? true : how == 1 ? false : item->checkState(colName) != Qt::Checked;
        item->setCheckState(colName, on ? Qt::Checked : Qt::Unchecked);
    }
}

void TBatchForm::dragEnterEvent(QDragEnterEvent* e) {
    if (!running_ && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TBatchForm::dropEvent(QDropEvent* e) {
    if (running_) return;
    QStringList names;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) names << url.toLocalFile();
    e->acceptProposedAction();
    AddPaths(names);
}

// Esc, the close button and a closing signal all come here: while a run goes it is Stop, and the
// window goes once the run has ended.
void TBatchForm::reject() {
    if (running_) {
        stop_.Request();
        closePending_ = true;
        return;
    }
    closePending_ = false;
    FormClose();
    QDialog::reject();
}

void TBatchForm::closeEvent(QCloseEvent* e) {
    if (running_) {
        reject();
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);  // through reject()
}

bool TBatchForm::eventFilter(QObject* watched, QEvent* e) {
    // The window manager's placement arrives as a spontaneous move; the toolkit's own are not.
    if (watched == main_ && placeBack_ && e->type() == QEvent::Move && e->spontaneous()) {
        placeBack_ = false;
        main_->removeEventFilter(this);
        if (main_->frameGeometry().topLeft() != mainGeometry_.topLeft()) {
            const QPoint at = mainGeometry_.topLeft();
            QTimer::singleShot(0, main_, [m = main_, at] {
                if (QWindow* w = m->windowHandle()) w->setFramePosition(at);
            });
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TBatchForm::FormClose() {
    if (!main_) return;
    main_->State().BatchQuantize = false;
    main_->Cancel().Clear();
    if (main_->QuantizerSettingsForm() && main_->PalettePanel()->QuantizerSettingsButton() && main_->PalettePanel()->QuantizerSettingsButton()->isChecked()) main_->QuantizerSettingsForm()->show();
    const std::string session = main_->SessionPath();
    if (!session.empty()) ::unlink((session + kBatchTempName).c_str());
    if (mainWasVisible_) {
        // A window manager places a window mapped anew where it likes: once it has, the main
        // window goes back where it was.
        placeBack_ = !main_->isMaximized() && !main_->isFullScreen() && mainGeometry_.isValid();
        if (placeBack_) main_->installEventFilter(this);
        main_->show();
    }
}

}  // namespace jx
