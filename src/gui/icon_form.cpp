#include "gui/icon_form.h"

#include <QDropEvent>
#include <algorithm>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/main_form.h"
#include "gui/save_question.h"
#include "gui/status_panels.h"

namespace jx {
namespace {

constexpr int kImageRole = Qt::UserRole + 1;

// A page with a folded corner, its picture in `fill`; the edited PNG carries a pencil stroke.
QIcon FrameGlyph(QColor fill, bool edited) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(2.5, 0.5), QPointF(10.5, 0.5), QPointF(13.5, 3.5), QPointF(13.5, 15.5), QPointF(2.5, 15.5)}));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRect(QRectF(4, 6, 8, 7));
    if (edited) {
        p.setPen(QPen(QColor(220, 120, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 14), QPointF(15, 7));
    }
    return QIcon(pm);
}

}  // namespace

const std::array<QIcon, 3>& TIconForm::RowImages() {
    static const std::array<QIcon, 3> images = {FrameGlyph(QColor(40, 160, 70), true),
                                                FrameGlyph(QColor(40, 160, 70), false),
                                                FrameGlyph(QColor(50, 100, 200), false)};
    return images;
}

int TIconForm::RowImage(int row) const {
    const QTreeWidgetItem* item = frameList_->topLevelItem(row);
    return item ? item->data(0, kImageRole).toInt() : -1;
}

void TIconForm::SetRowImage(QTreeWidgetItem* item, int image) {
    // Beside the format it stands for; the first column holds the check box and the size.
    item->setIcon(2, RowImages()[static_cast<size_t>(image)]);
    item->setData(0, kImageRole, image);
}

TIconForm::TIconForm(TJXMainForm* owner) : TPointerform(owner, "Icon", kFades), icon_(owner->SessionPath()) {
    setObjectName("IconForm");
    auto* v = new QVBoxLayout(this);
    frameList_ = new QTreeWidget;
    frameList_->setObjectName("FrameList");
    frameList_->setHeaderLabels({"Dimension", "BPP", "Format"});
    frameList_->setColumnWidth(0, 90);
    // "BPP" as wide as its numbers, "Format" the rest: no column hides behind a scroll bar.
    frameList_->setColumnWidth(1, 40);
    frameList_->header()->setStretchLastSection(false);
    frameList_->header()->setMinimumSectionSize(24);
    frameList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frameList_->setIconSize(QSize(16, 16));
    frameList_->setRootIsDecorated(false);
    frameList_->header()->setSectionsClickable(false);
    frameList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    frameList_->setDragEnabled(true);
    frameList_->setAcceptDrops(true);
    frameList_->setDragDropMode(QAbstractItemView::InternalMove);
    frameList_->viewport()->installEventFilter(this);
    saveButton_ = new QPushButton("Save icon");
    saveButton_->setObjectName("SaveButton");
    v->addWidget(frameList_);
    v->addWidget(saveButton_);
    resize(226, 193);
    connect(saveButton_, &QPushButton::clicked, this, &TIconForm::SaveIconClick);
    connect(frameList_, &QTreeWidget::itemSelectionChanged, this, &TIconForm::OpenSelectedFrame);
}

TIconForm::~TIconForm() = default;

void TIconForm::ShowFor(const QString& fileName) {
    if (isVisible()) close();
    fileName_ = fileName;
    show();
    raise();
}

void TIconForm::showEvent(QShowEvent* e) {
    TPointerform::showEvent(e);
    FormShow();
}

void TIconForm::FormShow() {
    filling_ = true;
    frameList_->clear();
    openFrame_ = -1;
    setWindowTitle(QFileInfo(fileName_).fileName());
    bool read = MainForm()->Guard([&] { icon_.ReadIconFile(fileName_.toStdString()); });
    icon_.Modified = false;
    const auto& frames = icon_.Frames();
    for (size_t k = 0; read && k < frames.size(); ++k) {
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(frames[k].Dimension()), QString::number(frames[k].Bits), QString::fromStdString(frames[k].Format())});
        item->setData(0, Qt::UserRole, int(k));
        SetRowImage(item, frames[k].Edited ? 0 : frames[k].IsPng ? 1 : 2);
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled) & ~Qt::ItemIsDropEnabled);
        item->setCheckState(0, icon_.CheckedByDefault(int32_t(k)) ? Qt::Checked : Qt::Unchecked);
        frameList_->addTopLevelItem(item);
    }
    filling_ = false;
    if (read && !frames.empty()) frameList_->setCurrentItem(frameList_->topLevelItem(icon_.InitialFrame()));
}

int TIconForm::SelectedFrame() const {
    const QTreeWidgetItem* item = frameList_->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

void TIconForm::OpenSelectedFrame() {
    if (filling_) return;
    const int k = SelectedFrame();
    if (k < 0 || size_t(k) >= icon_.Frames().size()) return;
    const TIconFrames& f = icon_.Frames()[size_t(k)];
    if (!f.Damage.empty()) {
        MainForm()->ShowMessage("Damaged icon file \"" + fileName_ + "\": " + QString::fromStdString(f.Damage));
        // The selection goes back to the frame the window holds, which a save replaces.
        filling_ = true;
        for (int i = 0; i < frameList_->topLevelItemCount(); ++i)
            if (frameList_->topLevelItem(i)->data(0, Qt::UserRole).toInt() == openFrame_)
                frameList_->setCurrentItem(frameList_->topLevelItem(i));
        filling_ = false;
        return;
    }
    // A frame saved from the main window shows as saved.
    MainForm()->OpenImage(QString::fromStdString(f.Edited ? f.EditedFile : f.FrameFile));
    openFrame_ = k;
    activateWindow();
}

std::vector<int32_t> TIconForm::CheckedOrder() const {
    std::vector<int32_t> order;
    for (int i = 0; i < frameList_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = frameList_->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) order.push_back(item->data(0, Qt::UserRole).toInt());
    }
    return order;
}

QString TIconForm::WriteIcon(const QString& fileName, int filterIndex) {
    const std::vector<int32_t> order = CheckedOrder();
    if (order.empty()) {
        MainForm()->ShowMessage("No frame is checked: nothing was written.");
        return {};
    }
    QString written;
    MainForm()->Guard([&] { written = QString::fromStdString(icon_.WriteIconFile(fileName.toStdString(), filterIndex, order)); });
    return written;
}

void TIconForm::SaveIconClick() {
    int index = 1;
    QString name;
    // The extension follows the type chosen: the question is about that name.
    const auto written = [&] { return QString::fromStdString(IconSaveName(name.toStdString(), index < 1 ? 1 : index)); };
    if (AskFileName) {
        name = AskFileName(&index);
        if (name.isEmpty() || !ConfirmReplace(this, "Save icon", written())) return;
    } else {
        QFileDialog d(this, "Save icon", QFileInfo(fileName_).path());
        d.setOption(QFileDialog::DontUseNativeDialog, true);
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setNameFilters({"Icons (*.ico *.ICO)", "Cursors (*.cur *.CUR)"});
        const bool chosen = ExecSaveDialog(d, [&] {
            name = d.selectedFiles().front();
            index = static_cast<int>(d.nameFilters().indexOf(d.selectedNameFilter())) + 1;
            return written();
        });
        if (!chosen) return;
    }
    if (!name.isEmpty()) WriteIcon(name, index < 1 ? 1 : index);
}

bool TIconForm::SaveSelectedFrame(TSaveRequest request) {
    const int k = SelectedFrame();
    if (k < 0) return false;
    TSaveResult r;
    if (!MainForm()->Guard([&] { r = icon_.SaveEditedFrame(MainForm()->State(), k, std::move(request)); })) return false;
    if (!icon_.Frames()[size_t(k)].Edited) return false;
    if (QTreeWidgetItem* item = frameList_->currentItem()) {
        item->setText(2, "png");
        SetRowImage(item, 0);
    }
    MainForm()->StatusPanels().SetText(4, QString::fromStdString(r.status));
    ShowChainWarnings(*MainForm(), QString::fromStdString(icon_.Frames()[size_t(k)].EditedFile), r.png);
    activateWindow();
    return true;
}

void TIconForm::MoveSelectedBefore(QTreeWidgetItem* before) {
    QList<QTreeWidgetItem*> moving;
    for (int i = 0; i < frameList_->topLevelItemCount(); ++i)
        if (frameList_->topLevelItem(i)->isSelected() && frameList_->topLevelItem(i) != before)
            moving << frameList_->topLevelItem(i);
    filling_ = true;
    for (QTreeWidgetItem* item : moving) frameList_->takeTopLevelItem(frameList_->indexOfTopLevelItem(item));
    const int at = before ? frameList_->indexOfTopLevelItem(before) : frameList_->topLevelItemCount();
    frameList_->insertTopLevelItems(at, moving);
    for (QTreeWidgetItem* item : moving) item->setSelected(true);
    filling_ = false;
}

bool TIconForm::eventFilter(QObject* o, QEvent* e) {
    if (o == frameList_->viewport() && e->type() == QEvent::Resize) {
        const int rest = frameList_->viewport()->width() - frameList_->columnWidth(0) - frameList_->columnWidth(1);
        frameList_->setColumnWidth(2, std::max(frameList_->header()->minimumSectionSize(), rest));
    }
    if (o == frameList_->viewport() && e->type() == QEvent::Drop) {
        auto* d = static_cast<QDropEvent*>(e);
        if (d->source() != frameList_) return true;  // only drags that start in the list
        MoveSelectedBefore(frameList_->itemAt(d->position().toPoint()));
        d->setDropAction(Qt::IgnoreAction);
        d->accept();
        return true;
    }
    return TPointerform::eventFilter(o, e);
}

void TIconForm::FormClose() {
    if (!icon_.Modified) return;
    const bool yes = AskSave ? AskSave()
                             : QMessageBox::question(this, "Icon", "Save icon?", QMessageBox::Yes | QMessageBox::No) ==
                                   QMessageBox::Yes;
    if (yes) SaveIconClick();
    icon_.Modified = false;
}

}  // namespace jx
