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

const std::array<QIcon, 3>& TIconForm::ImageList1() {
    static const std::array<QIcon, 3> images = {FrameGlyph(QColor(40, 160, 70), true),
                                                FrameGlyph(QColor(40, 160, 70), false),
                                                FrameGlyph(QColor(50, 100, 200), false)};
    return images;
}

int TIconForm::RowImage(int row) const {
    const QTreeWidgetItem* item = listView1_->topLevelItem(row);
    return item ? item->data(0, kImageRole).toInt() : -1;
}

void TIconForm::SetRowImage(QTreeWidgetItem* item, int image) {
    // Beside the format it stands for; the first column holds the check box and the size.
    item->setIcon(2, ImageList1()[static_cast<size_t>(image)]);
    item->setData(0, kImageRole, image);
}

TIconForm::TIconForm(TJXMainForm* owner) : TPointerform(owner, "Icon", kFades), icon_(owner->SessionPath()) {
    setObjectName("IconForm");
    auto* v = new QVBoxLayout(this);
    listView1_ = new QTreeWidget;
    listView1_->setObjectName("ListView1");
    listView1_->setHeaderLabels({"Dimension", "BPP", "Format"});
    listView1_->setColumnWidth(0, 90);
    // "BPP" as wide as its numbers, "Format" the rest: no column hides behind a scroll bar.
    listView1_->setColumnWidth(1, 40);
    listView1_->header()->setStretchLastSection(false);
    listView1_->header()->setMinimumSectionSize(24);
    listView1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listView1_->setIconSize(QSize(16, 16));
    listView1_->setRootIsDecorated(false);
    listView1_->header()->setSectionsClickable(false);
    listView1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView1_->setDragEnabled(true);
    listView1_->setAcceptDrops(true);
    listView1_->setDragDropMode(QAbstractItemView::InternalMove);
    listView1_->viewport()->installEventFilter(this);
    button2_ = new QPushButton("Save icon");
    button2_->setObjectName("Button2");
    v->addWidget(listView1_);
    v->addWidget(button2_);
    resize(226, 193);
    connect(button2_, &QPushButton::clicked, this, &TIconForm::Button2Click);
    connect(listView1_, &QTreeWidget::itemSelectionChanged, this, &TIconForm::ListView1SelectItem);
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
    listView1_->clear();
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
        listView1_->addTopLevelItem(item);
    }
    filling_ = false;
    if (read && !frames.empty()) listView1_->setCurrentItem(listView1_->topLevelItem(icon_.InitialFrame()));
}

int TIconForm::SelectedFrame() const {
    const QTreeWidgetItem* item = listView1_->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

void TIconForm::ListView1SelectItem() {
    if (filling_) return;
    const int k = SelectedFrame();
    if (k < 0 || size_t(k) >= icon_.Frames().size()) return;
    const TIconFrames& f = icon_.Frames()[size_t(k)];
    // A frame saved from the main window shows as saved.
    MainForm()->OpenImage(QString::fromStdString(f.Edited ? f.EditedFile : f.FrameFile));
    activateWindow();
}

std::vector<int32_t> TIconForm::CheckedOrder() const {
    std::vector<int32_t> order;
    for (int i = 0; i < listView1_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = listView1_->topLevelItem(i);
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

void TIconForm::Button2Click() {
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
    if (QTreeWidgetItem* item = listView1_->currentItem()) {
        item->setText(2, "png");
        SetRowImage(item, 0);
    }
    MainForm()->SetStatus(4, QString::fromStdString(r.status));
    activateWindow();
    return true;
}

void TIconForm::MoveSelectedBefore(QTreeWidgetItem* before) {
    QList<QTreeWidgetItem*> moving;
    for (int i = 0; i < listView1_->topLevelItemCount(); ++i)
        if (listView1_->topLevelItem(i)->isSelected() && listView1_->topLevelItem(i) != before)
            moving << listView1_->topLevelItem(i);
    filling_ = true;
    for (QTreeWidgetItem* item : moving) listView1_->takeTopLevelItem(listView1_->indexOfTopLevelItem(item));
    const int at = before ? listView1_->indexOfTopLevelItem(before) : listView1_->topLevelItemCount();
    listView1_->insertTopLevelItems(at, moving);
    for (QTreeWidgetItem* item : moving) item->setSelected(true);
    filling_ = false;
}

bool TIconForm::eventFilter(QObject* o, QEvent* e) {
    if (o == listView1_->viewport() && e->type() == QEvent::Resize) {
        const int rest = listView1_->viewport()->width() - listView1_->columnWidth(0) - listView1_->columnWidth(1);
        listView1_->setColumnWidth(2, std::max(listView1_->header()->minimumSectionSize(), rest));
    }
    if (o == listView1_->viewport() && e->type() == QEvent::Drop) {
        auto* d = static_cast<QDropEvent*>(e);
        if (d->source() != listView1_) return true;  // only drags that start in the list
        MoveSelectedBefore(listView1_->itemAt(d->position().toPoint()));
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
    if (yes) Button2Click();
    icon_.Modified = false;
}

}  // namespace jx
