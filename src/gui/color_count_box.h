#pragma once
#include <QComboBox>
#include <QString>

namespace jx {

class TCountEdit;

// The editable "Number of colors" box of the main window and of the quantizer settings: the list
// of counts, or any number typed. The text is taken as typed (no completion from the list).
// CountEntered comes once per user action: Enter in the box, or a pick from the list. The toolkit
// also activates the list's entry when the typed text matches one and the editing ends (Enter,
// focus leaving): that is not a pick, and reporting it would record an undo state for a count
// that was only shown. The text may be emptied while typing; EditingLeft reports the focus
// leaving the box (not for its own list, nor for another window taking the focus).
class TColorCountBox : public QComboBox {
    Q_OBJECT
public:
    explicit TColorCountBox(QWidget* parent = nullptr);

    // Shows text without reporting it; the list's entry of that text becomes the current one, so
    // the shown count and the list agree. A box that shows text already is left as it is.
    void ShowCount(const QString& text);

signals:
    void CountEntered();
    void EditingLeft();

protected:
    void focusOutEvent(QFocusEvent* e) override;

private:
    TCountEdit* edit_;
};

}  // namespace jx
