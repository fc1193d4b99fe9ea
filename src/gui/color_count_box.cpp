#include "gui/color_count_box.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace jx {

// Knows whether it is handling an event: what the combo box activates meanwhile comes from the
// end of editing, not from the list.
class TCountEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    bool Handling() const { return depth_ > 0; }

protected:
    bool event(QEvent* e) override {
        ++depth_;
        const bool done = QLineEdit::event(e);
        --depth_;
        return done;
    }

private:
    int depth_ = 0;
};

TColorCountBox::TColorCountBox(QWidget* parent) : QComboBox(parent), edit_(new TCountEdit) {
    setEditable(true);
    setLineEdit(edit_);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);  // "2" stays 2: completing it to "256" would change what was typed
    addItems({"16", "32", "64", "128", "256", "512", "1024", "2048", "4096", "TrueColor"});
    setCurrentIndex(9);
    connect(this, &QComboBox::activated, this, [this](int) {
        if (!edit_->Handling()) emit CountEntered();
    });
    connect(edit_, &QLineEdit::returnPressed, this, &TColorCountBox::CountEntered);
}

void TColorCountBox::ShowCount(const QString& text) {
    if (currentText() == text) return;  // also the box being typed in: its cursor stays
    const int i = findText(text);
    if (i >= 0) setCurrentIndex(i);
    // Typing changes only the text: the list's entry may be current already.
    if (currentText() != text) setEditText(text);
}

void TColorCountBox::focusOutEvent(QFocusEvent* e) {
    QComboBox::focusOutEvent(e);
    if (e->reason() != Qt::PopupFocusReason && e->reason() != Qt::ActiveWindowFocusReason) emit EditingLeft();
}

}  // namespace jx
