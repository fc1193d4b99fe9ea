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
            double v = s.toDouble(&ok);
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

    StatusBar1 = new QLabel;
    outer->addWidget(StatusBar1);
    timer1_ = new QTimer(this);
    timer1_->setInterval(100);

    ConnectControls();
    if (main_) main_->State().BatchQuantize = false;
    resize(640, 420);
}

// The "Destination folder" group and, beside it, Start.
QHBoxLayout* TBatchForm::BuildDestination() {
    auto* top = new QHBoxLayout;
    destination_ = new QGroupBox("Destination folder");
    auto* d = new QVBoxLayout(destination_);
    auto* row1 = new QHBoxLayout;
    Edit1 = new QLineEdit;
    Edit1->setObjectName("Edit1");
    Edit1->setPlaceholderText("Image files will be written to the source folder");
    pngSpeedButton1_ = new QToolButton;
    pngSpeedButton1_->setObjectName("PngSpeedButton1");
    pngSpeedButton1_->setText("...");
    pngSpeedButton1_->setToolTip("Destination path");
    pngSpeedButton1_->setAutoRaise(true);
    SetGlyph(pngSpeedButton1_, gFolder);
    row1->addWidget(Edit1, 1);
    row1->addWidget(pngSpeedButton1_);
    d->addLayout(row1);
    auto* row2 = new QHBoxLayout;
    DelSrc = new QCheckBox("Delete source");
    DelSrc->setObjectName("DelSrc");
    PreserveDT = new QCheckBox("Preserve Date and Time");
    PreserveDT->setObjectName("PreserveDT");
    OptLevel = new QComboBox;
    OptLevel->setObjectName("OptLevel");
    OptLevel->addItems({"Fast", "Normal", "Slow", "Very slow", "External script"});
    OptLevel->setCurrentIndex(main_ ? std::clamp(main_->Options().optimization, 0, 4) : 1);
    row2->addWidget(DelSrc);
    row2->addWidget(PreserveDT);
    row2->addStretch(1);
    row2->addWidget(new QLabel("Optimization level:"));
    row2->addWidget(OptLevel);
    d->addLayout(row2);
    top->addWidget(destination_, 1);
    Button1 = new QPushButton("Start");
    Button1->setObjectName("Button1");
    Button1->setFixedSize(58, 60);
    top->addWidget(Button1, 0, Qt::AlignTop);
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
    add("ToolButton1", "Add folder", &TBatchForm::ToolButton1Click, gAddFolder);
    add("ToolButton3", "Add image(s)", &TBatchForm::ToolButton3Click, gAddImages);
    add("ToolButton2", "Remove selected image", &TBatchForm::ToolButton2Click, gRemoveSelected);
    add("ToolButton4", "Remove all images", &TBatchForm::ToolButton4Click, gRemoveAll);
    add("ToolButton5", "Settings", &TBatchForm::ToolButton5Click, gSettings);
    middle->addWidget(toolBar_);

    ListView1 = new QTreeWidget;
    ListView1->setObjectName("ListView1");
    ListView1->setColumnCount(colCount);
    ListView1->setHeaderLabels({"File name", "In", "Out", "Ratio", "Loss", "FPath", "FTime"});
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setItemDelegateForColumn(colLoss, new ReasonKeepingCell(ListView1));
    ListView1->setColumnHidden(colPath, true);
    ListView1->setColumnHidden(colTime, true);
    for (int c : {colIn, colOut}) ListView1->setColumnWidth(c, 80);
    ListView1->header()->setSectionResizeMode(colName, QHeaderView::Stretch);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSortIndicatorShown(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    middle->addWidget(ListView1, 1);
    return middle;
}

// The totals lie over the list once a run has measured something.
void TBatchForm::BuildTotals() {
    BatchResult = new QTableWidget(7, 2, ListView1);
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
    Button2 = new QPushButton("Ok", ListView1);
    Button2->setObjectName("Button2");
    Button2->hide();
}

void TBatchForm::ConnectControls() {
    connect(Button1, &QPushButton::clicked, this, &TBatchForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TBatchForm::Button2Click);
    connect(pngSpeedButton1_, &QToolButton::clicked, this, &TBatchForm::PngSpeedButton1Click);
    connect(OptLevel, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (main_ && i >= 0) main_->Options().optimization = i;
    });
    connect(timer1_, &QTimer::timeout, this, [this] {
        if (!current_) return;
        current_->setText(colOut, kAnimation[static_cast<size_t>(animation_)]);
        animation_ = (animation_ + 1) % static_cast<int>(kAnimation.size());
    });
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto sel = ListView1->selectedItems();
        StatusBar1->setText(sel.isEmpty() ? QString() : sel.front()->text(colPath));
    });
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, [this](int c) {
        if (running_) return;
        ListView1->sortItems(c, Qt::AscendingOrder);
        ListView1->header()->setSortIndicatorShown(true);
        ListView1->header()->setSortIndicator(c, Qt::AscendingOrder);
    });
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QMenu menu;
        menu.addAction(Glyph(gCheck), "Check", [this] { CheckAll(0); });
        menu.addAction(Glyph(gUncheck), "Uncheck", [this] { CheckAll(1); });
        menu.addAction(Glyph(gInverse), "Inverse", [this] { CheckAll(2); });
        menu.exec(ListView1->viewport()->mapToGlobal(p));
    });
}

TBatchForm::~TBatchForm() = default;

QString TBatchForm::DestinationFolder() const { return Edit1->text().trimmed(); }

void TBatchForm::FormShow(const QStringList& parameters) {
    if (main_) {
        mainWasVisible_ = main_->isVisible();
        mainGeometry_ = main_->frameGeometry();
        main_->hide();
        if (main_->Form5() && main_->QuantizerSettingsButton() && main_->QuantizerSettingsButton()->isChecked()) main_->Form5()->hide();
        main_->State().BatchQuantize = false;
    }
    ListView1->clear();
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
    ListView1->setSortingEnabled(false);
    for (const TBatchItem& it : rows) {
        auto* item = new BatchRow(ListView1);
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
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
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
    pngSpeedButton1_->setEnabled(enabled);
    destination_->setEnabled(enabled);
    toolBar_->setEnabled(enabled);
}

void TBatchForm::ShowRow(size_t index, const TBatchRowResult& r) {
    QTreeWidgetItem* item = ListView1->topLevelItem(static_cast<int>(index));
    if (!item) return;
    if (r.Outcome == TBatchOutcome::Running) {
        current_ = item;
        ListView1->setCurrentItem(item);
        ListView1->scrollToItem(item);
        animation_ = 0;
        timer1_->start();
        return;
    }
    timer1_->stop();
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

void TBatchForm::Button1Click() {
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
    if (ListView1->topLevelItemCount() == 0) return;
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
    if (quantize && main_->Form5()) options.Quantize = main_->Form5()->Settings();

    Button1->setText("Stop");
    SetControlsEnabled(false);
    BatchResult->hide();
    Button2->hide();
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
    timer1_->stop();
    current_ = nullptr;
    running_ = false;
    Button1->setText("Start");
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
    Button2->show();
    Button2->raise();
    QApplication::beep();
}

void TBatchForm::Button2Click() {
    BatchResult->hide();
    Button2->hide();
}

void TBatchForm::resizeEvent(QResizeEvent* e) {
    if (e) QDialog::resizeEvent(e);
    const QRect area = ListView1->rect();
    const int w = std::max(200, area.width() * 2 / 3);
    const int h = 7 * 26 + 4;
    BatchResult->setGeometry((area.width() - w) / 2, std::max(0, (area.height() - h - 34) / 2), w, h);
    const int client = BatchResult->viewport()->width();
    BatchResult->setColumnWidth(0, static_cast<int>(std::nearbyint(client * 0.7)));
    BatchResult->setColumnWidth(1, client - BatchResult->columnWidth(0));
    for (int r = 0; r < 7; ++r) BatchResult->setRowHeight(r, 26);
    Button2->setGeometry(BatchResult->geometry().center().x() - 40, BatchResult->geometry().bottom() + 6, 80, 26);
}

void TBatchForm::ToolButton1Click() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Source directory:", QString());
    if (!folder.isEmpty()) AddPaths({folder});
}

void TBatchForm::ToolButton3Click() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, "Open", QString(),
        "All (*.webp *.png *.gif *.jpg *.jpeg *.jpe *.bmp *.dib *.psd *.pdd *.tga *.vst *.icb *.vda *.win)");
    std::vector<TBatchItem> rows;
    for (const QString& f : files)
        if (auto item = MakeBatchItem(f.toStdString())) rows.push_back(std::move(*item));
    DropListedRows(Items(), rows);
    AddRows(rows);
}

void TBatchForm::ToolButton2Click() {
    QTreeWidgetItem* item = ListView1->currentItem();
    if (!item) return;
    const int index = ListView1->indexOfTopLevelItem(item);
    delete item;
    const int count = ListView1->topLevelItemCount();
    if (count > 0) ListView1->setCurrentItem(ListView1->topLevelItem(std::min(index, count - 1)));
}

void TBatchForm::ToolButton4Click() { ListView1->clear(); }

void TBatchForm::ToolButton5Click() {
    if (!main_ || !main_->Form5()) return;
    EngineState& s = main_->State();
    s.BatchQuantize = true;
    main_->Form5()->exec();
    bool quantize = false;
    try {
        quantize = ParseColorCount(main_->Form5()->Settings().ColorCount) > 0;
    } catch (const std::exception&) {
    }
    s.BatchQuantize = quantize;
}

void TBatchForm::PngSpeedButton1Click() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Destination directory:", DestinationFolder());
    if (!folder.isEmpty()) Edit1->setText(folder);
}

void TBatchForm::CheckAll(int how) {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView1->topLevelItem(i);
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
    main_->ClearCancel();
    if (main_->Form5() && main_->QuantizerSettingsButton() && main_->QuantizerSettingsButton()->isChecked()) main_->Form5()->show();
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
